#include "quarrix/probes/badges.hpp"

namespace quarrix::probes {

namespace {

// Python's truth value of a JSON-like value.
bool truthy(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null: return false;
    case Json::value_t::boolean: return value.get<bool>();
    case Json::value_t::number_integer: return value.get<long long>() != 0;
    case Json::value_t::number_unsigned: return value.get<unsigned long long>() != 0;
    case Json::value_t::number_float: return value.get<double>() != 0.0;
    case Json::value_t::string: return !value.get_ref<const std::string&>().empty();
    default: return !value.empty();
  }
}

}  // namespace

std::vector<std::string> compute_badges(const Json& verified, const Json& test_info) {
  std::vector<std::string> badges;
  if (truthy(verified)) badges.push_back("verified");
  if (!test_info.is_object()) return badges;
  constexpr std::pair<const char*, const char*> kFacilities[] = {
      {"cocotb", "cocotb"}, {"vunit", "vunit"},     {"uvm", "uvm"},
      {"verilator_cpp", "verilator"}, {"fusesoc", "fusesoc"}, {"ci", "ci"}};
  for (const auto& [key, badge] : kFacilities)
    if (const auto it = test_info.find(key); it != test_info.end() && truthy(*it)) badges.push_back(badge);
  return badges;
}

}  // namespace quarrix::probes
