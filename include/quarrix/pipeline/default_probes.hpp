#pragma once
// The built-in tool probes: what the command-line scanner uses, and what a
// Python host gets from quarrix_core.probes.default_probes().

#include <memory>

#include <quarrix/pipeline/scan_probes.hpp>
#include <quarrix/probes/tool_session.hpp>

namespace quarrix::pipeline {

// ScanProbes over detect_library_name, detect_vhdl_standard,
// detect_vendor_deps, detect_test_infrastructure, compute_badges and
// verify_verilog of the probes area, for one scan. A library name that is not a
// string analyses into "work". The tools run in `tools`; without it
// (nullptr) no tool runs: nothing verifies and every standard is "unknown".
ScanProbes default_probes(std::shared_ptr<probes::ToolSession> tools);

// The same in a fresh session with the default limits.
ScanProbes default_probes();

}  // namespace quarrix::pipeline
