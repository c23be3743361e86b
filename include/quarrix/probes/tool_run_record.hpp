#pragma once
// One tool run as a scan's report tells it.

#include <optional>
#include <string>

#include "quarrix/probes/failure_cause.hpp"

namespace quarrix::probes {

struct ToolRunRecord {
  std::string tool;                   // the program's name ("verilator", "ghdl", ...)
  std::string verdict;                // "passed", "failed", "timed out", "not started", "skipped (budget)"
  std::string first_error;            // the first line of its error output that says something, else ""
  double seconds = 0;                 // wall time of the run; 0 for an answer that did not run
  bool cached = false;                // answered by an earlier identical run or the result cache
  std::optional<FailureCause> cause;  // why it did not pass; none when it passed or did not start
};

}  // namespace quarrix::probes
