#include "verilog_includes.hpp"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "quarrix/hdl/verilog_directives.hpp"
#include "quarrix/resolver/design_units.hpp"
#include "quarrix/resolver/include_search.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/path.hpp"

namespace quarrix::probes::detail {

namespace {

// Where a tool may look for the includes that name no file of the list: each
// candidate goes into the cache key, present or absent. A hostile list could
// ask for millions; past this many the key stops growing.
constexpr std::size_t kMaxLookedFor = 4096;

void add_once(std::vector<std::string>& list, std::string item) {
  if (std::find(list.begin(), list.end(), item) == list.end()) list.push_back(std::move(item));
}

}  // namespace

VerilogCommandInputs verilog_command_inputs(const std::vector<std::string>& files) {
  const resolver::IncludeSearch search(files);
  std::vector<bool> included(files.size(), false), directives_only(files.size(), false);
  std::vector<std::string> through, unresolved;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::optional<std::string> text = util::read_file_bytes(files[i]);
    if (!text) continue;
    directives_only[i] = hdl::is_directive_only_text(*text);
    for (const std::string& name : resolver::verilog_includes(*text)) {
      const auto found = search.find(name, files[i]);
      if (!found) {
        add_once(unresolved, name);
      } else if (found->file != i) {
        included[found->file] = true;
        if (!found->directory.empty()) add_once(through, found->directory);
      }
    }
  }

  VerilogCommandInputs out;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (included[i] && !directives_only[i]) {
      out.reads.push_back(files[i]);
      continue;
    }
    out.sources.push_back(files[i]);
    add_once(out.include_dirs, util::path_string(std::filesystem::path(files[i]).parent_path()));
  }
  for (std::string& dir : through) add_once(out.include_dirs, std::move(dir));

  std::size_t looked_for = 0;
  for (const std::string& name : unresolved) {
    if (util::is_absolute_path(name) || !resolver::collapse_path(name)) continue;
    for (const std::string& dir : out.include_dirs) {
      if (looked_for++ == kMaxLookedFor) return out;
      out.reads.push_back(util::join_path(dir, name));
    }
  }
  return out;
}

}  // namespace quarrix::probes::detail
