#pragma once
// Whether a Verilog/SystemVerilog compile list is accepted by a real tool.

#include <optional>
#include <string>
#include <vector>

#include "quarrix/probes/tool_session.hpp"

namespace quarrix::probes {

// Lints the .v/.sv/.vh/.svh files of `files`, in order, with the directory of
// each as an include directory: with Verilator (--lint-only -Wno-fatal, so
// warnings pass and errors fail) when it is on PATH, and with Icarus Verilog
// (elaboration to /dev/null, -g2012 when a SystemVerilog file is present)
// when Verilator is absent or rejects the list; true when either accepts it.
// `top` names the unit checked (--top-module, -s), so that another module of
// its files (a testbench beside it) is not elaborated as a top.
// False when the list has no such file, neither tool is on PATH, the tools
// fail or run out of time (the session's run timeout) or memory, or `session`
// has no budget left for them.
bool verify_verilog(const std::vector<std::string>& files, ToolSession& session,
                    const std::optional<std::string>& top = std::nullopt);

// The same in a session of its own, with the default limits.
bool verify_verilog(const std::vector<std::string>& files);

}  // namespace quarrix::probes
