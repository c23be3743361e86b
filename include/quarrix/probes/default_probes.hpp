#pragma once
// The built-in tool probes: what the command-line scanner uses, and what a
// Python host gets from quarrix_core.probes.default_probes().

#include <quarrix/scan/probes.hpp>

namespace quarrix::probes {

// ScanProbes over detect_library_name, detect_vhdl_standard,
// detect_vendor_deps, detect_test_infrastructure, compute_badges and
// verify_verilog of this area. A library name that is not a string analyses
// into "work".
scan::ScanProbes default_probes();

}  // namespace quarrix::probes
