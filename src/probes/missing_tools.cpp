#include "quarrix/probes/missing_tools.hpp"

#include <vector>

#include "quarrix/probes/tool_run.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::probes {

namespace {

// "a", "a and b", "a, b and c".
std::string listed(const std::vector<std::string>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i)
    out += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
  return out;
}

}  // namespace

std::string missing_tools_note() {
  const bool no_ghdl = !find_on_path("ghdl");
  const bool no_verilator = !find_on_path("verilator");
  const bool no_iverilog = !find_on_path("iverilog");

  std::vector<std::string> missing, unverified, consequences;
  if (no_ghdl) {
    missing.push_back("ghdl");
    unverified.push_back("VHDL");
  }
  if (no_verilator) missing.push_back("verilator");
  if (no_verilator && no_iverilog) {
    missing.push_back("iverilog");
    unverified.push_back("Verilog");
  }
  if (missing.empty()) return "";
  if (!unverified.empty()) consequences.push_back(listed(unverified) + " rows stay unverified");
  if (no_verilator && !no_iverilog) consequences.push_back("Verilog is checked with iverilog");
  return listed(missing) + (missing.size() == 1 ? " is" : " are") + " not on PATH: " + util::join(consequences, ", ");
}

}  // namespace quarrix::probes
