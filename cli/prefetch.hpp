#pragma once
// Tool checks run ahead of the scan, several at a time.
//
// The scan asks its probes one unit after another. To run the checks
// concurrently without changing that contract, a first pass over the
// repository with stand-in probes (no tool, no language model) records the
// argument of every check; a pool of threads then runs them in the scan's tool
// session, which keeps each answer, so the scan proper finds every check
// answered and gives the rows it would give alone.

#include <string>

#include "quarrix/pipeline/scan_repo.hpp"
#include "quarrix/probes/tool_session.hpp"

namespace quarrix::cli {

// Runs the checks that scanning `repo` with `options` and `real` probes would
// ask for, `jobs` at a time, in `tools`. Only the library-name probe of `real`
// runs in the first pass: its answer is an argument of the VHDL checks.
void prefetch_tool_checks(const std::string& repo, pipeline::ScanOptions options, const pipeline::ScanProbes& real,
                          const pipeline::ScanContext& context, probes::ToolSession& tools, unsigned jobs);

}  // namespace quarrix::cli
