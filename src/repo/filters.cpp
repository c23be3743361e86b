#include "quarrix/repo/filters.hpp"

#include <algorithm>
#include <unordered_set>

#include "quarrix/util/text.hpp"

namespace quarrix::repo {

const std::vector<std::string>& default_vendor_sim_excludes() {
  // Vendors' simulation and primitive libraries that repositories carry a
  // copy of: their units are the vendor's cells, not IP of the repository.
  static const std::vector<std::string> patterns = {"glbl", "sim_lib", "*_atoms", "unisims_ver", "simprims_ver",
                                                    // Xilinx
                                                    "unisims", "unisim", "unimacro", "unimacro_ver", "unifast",
                                                    "unifast_ver", "simprims", "secureip", "xpm", "XilinxCoreLib",
                                                    // Intel (Altera)
                                                    "altera_mf", "altera_lnsim", "220model", "sgate",
                                                    "altera_primitives",
                                                    // Lattice, Gowin
                                                    "cae_library", "prim_sim"};
  return patterns;
}

const std::vector<std::string>& skip_path_patterns() {
  static const std::vector<std::string> fragments = {
      "/test/", "/tests/", "/doc/",          "/docs/", "/tools/",     "/simulation/", "/example/",     "/examples/",
      "/demo/", "/verif/", "/verification/", "/tb/",   "/testbench/", "/vendor/",     "/third_party/", "/extern/"};
  return fragments;
}

const std::vector<std::string>& junk_names() {
  static const std::vector<std::string> names = {
      "fpga", "fpga_core", "top",  "wrapper", "testbench", "is",     "has",       "get", "set", "put", "new",
      "run",  "starting",  "main", "build",   "connect",   "create", "configure", "do",  "if",  "or",  "an",
      "no",   "be",        "so",   "up",      "are",       "was",    "the",       "for", "not", "all", "can"};
  return names;
}

bool is_junk_name(std::string_view name_lower) {
  static const std::unordered_set<std::string_view> index(junk_names().begin(), junk_names().end());
  return index.count(name_lower) > 0;
}

const util::Regex& sim_name_re() {
  static const util::Regex re("(?:^|_)(?:sim|tb|testbench|bfm)(?:$|_)", util::kIgnoreCase);
  return re;
}

const util::Regex& tb_patterns() {
  static const util::Regex re("(?:^|_)(?:tb|test|sim|bench)(?:_|$)", util::kIgnoreCase);
  return re;
}

bool is_simulation_only_name(std::string_view name) {
  if (name.empty()) return false;
  return sim_name_re().search(name).has_value();
}

const char* path_skip_fragment(std::string_view rel_path) {
  const std::string probe = "/" + std::string(rel_path);
  for (const std::string& fragment : skip_path_patterns())
    if (util::contains(probe, fragment)) return fragment.c_str();
  return nullptr;
}

bool is_skipped_path(std::string_view rel_path) { return path_skip_fragment(rel_path) != nullptr; }

const char* name_skip_reason(std::string_view entity_name) {
  const std::string name_lower = util::lower(entity_name);
  if (is_simulation_only_name(entity_name) || util::starts_with(name_lower, "test_")) return "simulation-only name";
  if (util::ends_with(name_lower, "_pkg") || util::starts_with(name_lower, "pkg_")) return "package name";
  if (util::contains(name_lower, "private")) return "private name";
  if (is_junk_name(name_lower)) return "junk name";
  for (const char* prefix : {"uvma_", "uvme_", "uvmt_", "uvmc_"})
    if (util::starts_with(name_lower, prefix)) return "verification-library name";
  return nullptr;
}

}  // namespace quarrix::repo
