#pragma once
// The badges of an entry: what is known about how it was checked.

#include <string>
#include <vector>

#include <quarrix/util/json.hpp>

namespace quarrix::probes {

// "verified" when `verified` is true (in Python's sense of truth), then one
// badge per test facility of `test_info` (the map of
// detect_test_infrastructure) that is present: "cocotb", "vunit", "uvm",
// "verilator", "fusesoc", and "ci" when any CI service is configured. A
// `test_info` that is not a map contributes nothing.
std::vector<std::string> compute_badges(const Json& verified, const Json& test_info);

}  // namespace quarrix::probes
