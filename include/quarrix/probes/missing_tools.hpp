#pragma once
// Which of the tools of the built-in probes are missing, and what that costs.

#include <string>

namespace quarrix::probes {

// A sentence naming the tools the probes would use that are not on PATH (read
// now) and what follows for the rows, e.g. "ghdl is not on PATH: VHDL rows
// stay unverified"; empty when every check can run. Icarus Verilog counts only
// without Verilator, which the probes prefer.
std::string missing_tools_note();

}  // namespace quarrix::probes
