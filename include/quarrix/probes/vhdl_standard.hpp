#pragma once
// The VHDL standard of a compile list, found by analysing it with GHDL.

#include <string>
#include <utility>
#include <vector>

#include "quarrix/probes/tool_session.hpp"

namespace quarrix::probes {

// Analyses the .vhd/.vhdl files of `files`, in order, into library `library`
// (a VHDL identifier; anything else means "work") in a fresh work directory:
// first with --std=08, then with --std=93. The result is ("vhdl-2008", true) or
// ("vhdl-93", true) for the first standard that analyses cleanly, otherwise
// ("unknown", false): also when the list has no VHDL file, GHDL is not on PATH,
// an analysis runs out of time (the session's run timeout) or memory, or `session` has no
// budget left for it.
std::pair<std::string, bool> detect_vhdl_standard(const std::vector<std::string>& files, const std::string& library,
                                                  ToolSession& session);

// The same in a session of its own, with the default limits.
std::pair<std::string, bool> detect_vhdl_standard(const std::vector<std::string>& files, const std::string& library);

}  // namespace quarrix::probes
