#pragma once
// Define carriers: Verilog headers that only hold `define directives and that
// no module includes. A project compiles them first and relies on the macros
// propagating through the compilation unit, so they must precede every file of
// a compile list that uses them.

#include <array>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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

  // The carriers in the directory tree spanned by `scope_files` (paths relative
  // to the root, or absolute): the ".v" carriers in path order, then ".sv",
  // ".vh", ".svh". One carrier per resolved file; a carrier already in the
  // scope is returned too. An unusable scope gives an empty list.
  std::vector<std::string> collect(const std::vector<std::string>& scope_files);

 private:
  // The carriers of one listing, per Verilog extension, in listing order, with
  // their resolved paths.
  struct Carriers {
    std::array<std::vector<std::string>, hdl::kVerilogSuffixCount> rel;
    std::array<std::vector<std::string>, hdl::kVerilogSuffixCount> resolved;
  };
  const Carriers& carriers_of(const TreeListing& listing);

  RepoTree& tree_;
  std::unordered_map<std::string, bool> verdict_by_resolved_;
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
