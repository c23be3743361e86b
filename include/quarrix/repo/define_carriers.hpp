#pragma once
// Define carriers: Verilog headers that only hold `define directives and that
// no module includes. A project compiles them first and relies on the macros
// propagating through the compilation unit, so they must precede every file of
// a compile list that uses them. A carrier that defines nothing the list uses
// stays out: in a flat repository the tree above a list holds the headers of
// every other subproject too.

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <quarrix/hdl/verilog_directives.hpp>
#include <quarrix/repo/repo_tree.hpp>

namespace quarrix::repo {

// A line whose first non-blank text is `define and whitespace (MULTILINE).
extern const char* const kDefinePattern;
// A line whose first non-blank word declares a top-level construct (MULTILINE,
// case-sensitive).
extern const char* const kTopDeclPattern;

// True when `text` holds a define directive, declares no top-level construct,
// and holds nothing but compiler directives (hdl::is_directive_only_text).
bool is_define_only_text(std::string_view text);

// Define carriers of one repository, built from one RepoTree (which must
// outlive the index): every candidate file is read and classified once,
// however many compile lists are queried.
class DefineCarrierIndex {
 public:
  explicit DefineCarrierIndex(RepoTree& tree) : tree_(tree) {}

  RepoTree& tree() { return tree_; }

  // The carriers that the compile list `scope_files` (paths relative to the
  // root, or absolute) needs, from the directory tree its files span: those
  // defining a macro that a file of the list uses (`NAME) and that no file of
  // the list defines itself, and in turn those defining a macro such a carrier
  // uses. The ".v" carriers in path order, then ".sv", ".vh", ".svh"; one
  // carrier per resolved file; a needed carrier already in the list is
  // returned too. An unusable scope gives an empty list.
  std::vector<std::string> collect(const std::vector<std::string>& scope_files);

  // True when the directory tree spanned by `scope_files` holds a carrier at
  // all, needed or not: a caller may then build the whole list for collect.
  bool any_in(const std::vector<std::string>& scope_files);

 private:
  // What the index knows of one file, read once.
  struct FileFacts {
    bool carrier = false;
    hdl::VerilogMacros macros;
  };
  const FileFacts& facts_of_resolved(const std::string& resolved, const std::string& path);
  // Null when the file cannot be resolved.
  const FileFacts* facts_of_path(const std::string& path);

  // The carriers of one listing, per Verilog extension, in listing order, with
  // their resolved paths and facts.
  struct Carriers {
    std::array<std::vector<std::string>, hdl::kVerilogSuffixCount> rel;
    std::array<std::vector<std::string>, hdl::kVerilogSuffixCount> resolved;
    std::array<std::vector<const FileFacts*>, hdl::kVerilogSuffixCount> facts;
  };
  const Carriers& carriers_of(const TreeListing& listing);
  // The carriers of the tree that `scope_files` spans, or null for none.
  struct Region {
    const Carriers* carriers;
    std::array<std::pair<std::size_t, std::size_t>, hdl::kVerilogSuffixCount> ranges;
  };
  std::optional<Region> region_of(const std::vector<std::string>& scope_files);

  RepoTree& tree_;
  std::unordered_map<std::string, std::unique_ptr<const FileFacts>> facts_by_resolved_;  // entries stay put
  std::unordered_map<std::string, const FileFacts*> facts_by_path_;
  std::map<const TreeListing*, Carriers> carriers_;
};

// The same as DefineCarrierIndex::collect on a one-off index that walks only
// the scope's directory tree.
std::vector<std::string> collect_define_carriers(const std::string& repo_path,
                                                 const std::vector<std::string>& scope_files);

// For a scan: queries the scan's shared index.
inline std::vector<std::string> collect_define_carriers(DefineCarrierIndex& index,
                                                        const std::vector<std::string>& scope_files) {
  return index.collect(scope_files);
}

}  // namespace quarrix::repo
