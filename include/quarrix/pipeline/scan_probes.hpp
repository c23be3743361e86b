#pragma once
// The host's tool probes. Their results are JSON-like values used as returned:
// the driver stores them in the rows without checking or converting them.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <quarrix/util/json.hpp>

namespace quarrix::pipeline {

using PathList = std::vector<std::string>;

// One tool check the scan will ask of detect_vhdl_standard (a library) or
// verify_verilog / verify_verilog_unit (no library; `top` for the latter).
struct ToolCheck {
  PathList files;
  std::optional<Json> library;
  std::optional<std::string> top;
};

struct ScanProbes {
  // (repository root) -> library name.
  std::function<Json(const std::string&)> detect_library_name;
  // (compile list, library name) -> [standard, verified]; must be exactly two values.
  std::function<Json(const PathList&, const Json&)> detect_vhdl_standard;
  // (compile list) -> list of vendor dependency names.
  std::function<Json(const PathList&)> detect_vendor_deps;
  // (repository root) -> map describing the test infrastructure.
  std::function<Json(const std::string&)> detect_test_infrastructure;
  // (verified, test_info) -> list of badges.
  std::function<Json(const Json&, const Json&)> compute_badges;
  // (compile list) -> whether the Verilog/SystemVerilog list verified.
  std::function<Json(const PathList&)> verify_verilog;

  // Optional, so that the scan need not build every unit's list for them:
  // (file) -> detect_vendor_deps of that file alone, when detect_vendor_deps
  // of a list is always the sorted union of this over its files.
  std::function<Json(const std::string&)> detect_vendor_deps_in_file;
  // Optional: (compile list, unit name) -> verify_verilog of the list with
  // that unit as the top, so that the other modules of its files (a
  // testbench beside it) are not elaborated. Used in place of verify_verilog
  // when set.
  std::function<Json(const PathList&, const std::string&)> verify_verilog_unit;
  // () -> false when detect_vhdl_standard and verify_verilog can run no check
  // (no tool): their answers then do not depend on the list, and they are
  // handed an empty one.
  std::function<bool()> can_run_checks;
  // Optional, and safe to call from several threads at once: runs a check
  // ahead of the scan's own call, which then finds it answered (the answer is
  // the same either way). The scan runs its checks so, `jobs` at a time.
  std::function<void(const ToolCheck&)> check_ahead;
};

}  // namespace quarrix::pipeline
