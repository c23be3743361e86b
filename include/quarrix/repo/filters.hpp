#pragma once
// Which design units of a repository are installable IP: path fragments,
// junk names and simulation-only name tokens.

#include <string>
#include <string_view>
#include <vector>

#include <quarrix/util/regex.hpp>

namespace quarrix::repo {

const std::vector<std::string>& default_vendor_sim_excludes();
const std::vector<std::string>& skip_path_patterns();
const std::vector<std::string>& junk_names();  // in their defined order
bool is_junk_name(std::string_view name_lower);

// (?:^|_)(?:sim|tb|testbench|bfm)(?:$|_), IGNORECASE.
const util::Regex& sim_name_re();
// (?:^|_)(?:tb|test|sim|bench)(?:_|$), IGNORECASE.
const util::Regex& tb_patterns();

bool is_simulation_only_name(std::string_view name);

// The first of skip_path_patterns() that "/" + rel_path contains, or nullptr.
const char* path_skip_fragment(std::string_view rel_path);
// True when path_skip_fragment() finds one.
bool is_skipped_path(std::string_view rel_path);

// Why the driver drops an entity by its name alone, or nullptr when it keeps it.
const char* name_skip_reason(std::string_view entity_name);

}  // namespace quarrix::repo
