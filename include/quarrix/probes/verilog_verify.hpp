#pragma once
// Whether a Verilog/SystemVerilog compile list is accepted by a real tool.

#include <string>
#include <vector>

#include "quarrix/probes/tool_session.hpp"

namespace quarrix::probes {

// Lints the .v/.sv/.vh/.svh files of `files`, in order, with the directory of
// each as an include directory: with Verilator (--lint-only -Wno-fatal, so
// warnings pass and errors fail) when it is on PATH, else with Icarus Verilog
// (elaboration to /dev/null, -g2012 when a SystemVerilog file is present).
// False when the list has no such file, neither tool is on PATH, the tool
// fails or runs out of time (the session's run timeout) or memory, or `session` has no
// budget left for it.
bool verify_verilog(const std::vector<std::string>& files, ToolSession& session);

// The same in a session of its own, with the default limits.
bool verify_verilog(const std::vector<std::string>& files);

}  // namespace quarrix::probes
