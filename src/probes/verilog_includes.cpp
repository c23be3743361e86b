#include "verilog_includes.hpp"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <unordered_set>

#include "quarrix/hdl/verilog_directives.hpp"
#include "quarrix/resolver/design_units.hpp"
#include "quarrix/resolver/include_search.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/path.hpp"

namespace quarrix::probes::detail {

namespace {

// The places a command's include walk may list; a hostile maze of includes
// could ask for millions. Past this many the walk stops and the answer is
// not kept between scans.
constexpr std::size_t kMaxLookedFor = 16384;

// A list that takes each item once, in first-added order.
class OnceList {
 public:
  void add(const std::string& item) {
    if (seen_.insert(item).second) items_.push_back(item);
  }
  std::vector<std::string>& items() { return items_; }

 private:
  std::vector<std::string> items_;
  std::unordered_set<std::string> seen_;
};

bool names(const std::vector<std::string>& sorted, const std::string& name) {
  return std::binary_search(sorted.begin(), sorted.end(), name);
}

// A plain Verilog file that defines a macro for a file before it in the list
// (picosoc.v setting PICORV32_REGS for picorv32.v, its dependency) must reach
// the tool first: a macro counts from its definition on. Verilog-2005 files
// have no packages, so among them only macros order the list; a file moves
// before its first user unless a file it passes defines a macro it uses.
// A longer list (a netlist), or files with more macros than any design has,
// keep their order: the walk is quadratic.
void macro_definers_first(std::vector<std::string>& sources, VerilogFileFacts& known) {
  constexpr std::size_t kMaxReordered = 512, kMaxMacros = 4096;
  if (sources.size() > kMaxReordered) return;
  std::size_t macros = 0;
  for (const std::string& source : sources) {
    const hdl::VerilogMacros& m = known.of(source).macros;
    macros += m.defined.size() + m.used.size();
  }
  if (macros > kMaxMacros) return;
  const auto plain = [](const std::string& path) { return util::path_suffix_lower(path) == ".v"; };
  for (std::size_t i = 1; i < sources.size(); ++i) {
    if (!plain(sources[i])) continue;
    const hdl::VerilogMacros& moving = known.of(sources[i]).macros;
    if (moving.defined.empty()) continue;
    std::size_t to = i;
    for (std::size_t j = i; j-- > 0;) {
      if (!plain(sources[j])) break;
      const hdl::VerilogMacros& passed = known.of(sources[j]).macros;
      if (std::any_of(moving.used.begin(), moving.used.end(),
                      [&](const std::string& m) { return names(passed.defined, m); }))
        break;
      if (std::any_of(moving.defined.begin(), moving.defined.end(),
                      [&](const std::string& m) { return names(passed.used, m) && !names(passed.defined, m); }))
        to = j;
    }
    if (to < i)
      std::rotate(sources.begin() + static_cast<std::ptrdiff_t>(to), sources.begin() + static_cast<std::ptrdiff_t>(i),
                  sources.begin() + static_cast<std::ptrdiff_t>(i) + 1);
  }
}

}  // namespace

const VerilogFileFacts::Facts& VerilogFileFacts::of(const std::string& path) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto it = facts_.find(path); it != facts_.end()) return *it->second;
  }
  auto facts = std::make_unique<Facts>();
  if (const util::FileText text = util::read_bytes(path)) {
    facts->directives_only = hdl::is_directive_only_text(*text);
    facts->includes = resolver::verilog_includes(*text);
    facts->guarded_modules = hdl::guarded_modules(*text);
    facts->macros = hdl::verilog_macros(*text);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return *facts_.try_emplace(path, std::move(facts)).first->second;
}

VerilogCommandInputs verilog_command_inputs(const std::vector<std::string>& files, VerilogFileFacts& known) {
  const resolver::IncludeSearch search(files);
  std::vector<bool> included(files.size(), false), directives_only(files.size(), false);
  OnceList through, include_dirs;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const VerilogFileFacts::Facts& facts = known.of(files[i]);
    directives_only[i] = facts.directives_only;
    for (const std::string& name : facts.includes) {
      const auto found = search.find(name, files[i]);
      if (found && found->file != i) {
        included[found->file] = true;
        if (!found->directory.empty()) through.add(found->directory);
      }
    }
  }

  VerilogCommandInputs out;
  OnceList reads, walked;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (included[i] && !directives_only[i]) {
      reads.add(files[i]);
      continue;
    }
    out.sources.push_back(files[i]);
    include_dirs.add(util::path_string(std::filesystem::path(files[i]).parent_path()));
  }
  macro_definers_first(out.sources, known);
  for (const std::string& dir : through.items()) include_dirs.add(dir);
  out.include_dirs = std::move(include_dirs.items());

  // The tool's own search, modelled loosely enough to cover either order:
  // every candidate counts, and every one present is read in turn.
  for (const std::string& source : out.sources) walked.add(source);
  for (std::size_t next = 0; next < walked.items().size(); ++next) {
    const std::string includer = walked.items()[next];  // a copy: the walk grows
    const std::string includer_dir = util::path_string(std::filesystem::path(includer).parent_path());
    for (const std::string& name : known.of(includer).includes) {
      std::vector<std::string> candidates;
      if (util::is_absolute_path(name)) {
        candidates.push_back(name);
      } else {
        candidates.push_back(util::join_path(includer_dir, name));
        for (const std::string& dir : out.include_dirs) candidates.push_back(util::join_path(dir, name));
      }
      for (const std::string& candidate : candidates) {
        if (reads.items().size() >= kMaxLookedFor) {
          out.reads_complete = false;
          out.reads = std::move(reads.items());
          return out;
        }
        reads.add(candidate);
        if (util::is_regular_file(candidate)) walked.add(candidate);
      }
    }
  }
  out.reads = std::move(reads.items());
  return out;
}

}  // namespace quarrix::probes::detail
