#include "quarrix/probes/badges.hpp"

#include "quarrix/util/json.hpp"

namespace quarrix::probes {

std::vector<std::string> compute_badges(const Json& verified, const Json& test_info) {
  std::vector<std::string> badges;
  if (util::py_truthy(verified)) badges.push_back("verified");
  if (!test_info.is_object()) return badges;
  constexpr std::pair<const char*, const char*> kFacilities[] = {{"cocotb", "cocotb"},   {"vunit", "vunit"},
                                                                 {"uvm", "uvm"},         {"verilator_cpp", "verilator"},
                                                                 {"fusesoc", "fusesoc"}, {"ci", "ci"}};
  for (const auto& [key, badge] : kFacilities)
    if (const auto it = test_info.find(key); it != test_info.end() && util::py_truthy(*it)) badges.push_back(badge);
  return badges;
}

}  // namespace quarrix::probes
