#pragma once
// Whether a Verilog/SystemVerilog compile list is accepted by a real tool.

#include <string>
#include <vector>

namespace quarrix::probes {

// Lints the .v/.sv/.vh/.svh files of `files`, in order, with the directory of
// each as an include directory: with Verilator (--lint-only -Wno-fatal, so
// warnings pass and errors fail) when it is on PATH, else with Icarus Verilog
// (elaboration to /dev/null, -g2012 when a SystemVerilog file is present).
// False when the list has no such file, neither tool is on PATH, or the tool
// fails or runs out of time (tool_timeout()).
bool verify_verilog(const std::vector<std::string>& files);

}  // namespace quarrix::probes
