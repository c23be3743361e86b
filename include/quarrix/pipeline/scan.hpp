#pragma once
// The scan driver: one repository, from its sources to its catalog rows, in
// named stages. The command-line scanner, the Python binding and the batch
// all scan through it.
//
//   discover       the resolver's units, the repository's listing, library,
//                  test infrastructure and licence
//   select         which units become rows (the skip rules)
//   compile lists  each kept unit's files, define carriers first
//   tool checks    run ahead `jobs` at a time when the probes allow it
//   units          per unit in map order: probes, tags, description, licence
//   roles          top, component or primitive, and each top's components
//   rows           the rows of the granularity, handed to the sink
//
// Reads are confined to the repository and its dependencies for the whole
// run, on every thread the scan starts.

#include <memory>
#include <optional>
#include <string>

#include <quarrix/pipeline/scan_context.hpp>
#include <quarrix/pipeline/scan_probes.hpp>
#include <quarrix/pipeline/scan_repo.hpp>
#include <quarrix/probes/tool_cache.hpp>
#include <quarrix/probes/tool_session.hpp>

namespace quarrix::pipeline {

// The built-in tool checks: whether they run and where their answers are kept.
struct ScanTools {
  bool run = true;
  std::optional<std::string> cache_file;  // none: answers are kept for this scan only
};

class Scan {
 public:
  // With the host's probes.
  Scan(std::string repo_path, ScanIdentity identity, ScanProbes probes, ScanOptions options, ScanContext context);
  // With the built-in probes in a tool session of the context's limits.
  Scan(std::string repo_path, ScanIdentity identity, const ScanTools& tools, ScanOptions options, ScanContext context);

  // Runs the scan once, handing each row to `sink` as it is made. Failures as
  // for scan_repo.
  void run(const RowSink& sink);

  const ScanCounts& counts() const { return counts_; }
  // The built-in probes' tool session and cache; null with a host's probes,
  // or when no tool runs or nothing is cached.
  probes::ToolSession* tools() const { return tools_.get(); }
  probes::ToolCache* cache() const { return cache_.get(); }

 private:
  std::string repo_path_;
  ScanIdentity identity_;
  std::shared_ptr<probes::ToolCache> cache_;
  std::shared_ptr<probes::ToolSession> tools_;
  ScanProbes probes_;
  ScanOptions options_;
  ScanContext context_;
  ScanCounts counts_;
};

}  // namespace quarrix::pipeline
