#pragma once
// The scan of one cloned repository: from the resolver's design units to the
// catalog rows of the requested granularity.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <quarrix/pipeline/granularity.hpp>
#include <quarrix/pipeline/resolver_api.hpp>
#include <quarrix/pipeline/scan_context.hpp>
#include <quarrix/pipeline/scan_probes.hpp>
#include <quarrix/util/json.hpp>

namespace quarrix::pipeline {

// Builds the resolver for (source roots, respect_gitignore, exclusion patterns).
using ResolverFactory = std::function<std::unique_ptr<Resolver>(
    const std::vector<std::string>& src_dirs, bool respect_gitignore, const std::vector<std::string>& exclude_dirs)>;

// Reports each visited unit: (index, total, unit name); for progress displays.
using ProgressFn = std::function<void(std::size_t, std::size_t, const std::string&)>;

// A file of a dependency that a unit's compile list takes.
struct DependencyFile {
  std::string ns;                  // the dependency's namespace
  std::string file;                // relative to the dependency's directory
  std::vector<std::string> units;  // the units declared there; none for a header
};

// What the scan decided for one design unit of the resolver's map.
struct UnitDecision {
  std::string name;
  std::string path;                               // relative to the repository when inside it
  std::string skipped_by;                         // the rule that left the unit out; empty when kept
  std::vector<std::string> compile_list;          // kept units: the row's compile list
  std::vector<DependencyFile> from_dependencies;  // kept units: what the check took from dependencies
};

// A repository the scanned one depends on: what its sources declare resolves
// the names the repository's own do not. Its files are compiled before the
// repository's in a check, and are never rows or row files.
struct ScanDependency {
  std::string path;  // its checkout
  std::string ns;
};
// Told of each unit in map order; for a kept unit after its probes ran.
using UnitObserver = std::function<void(const UnitDecision&)>;
// Told of each source the resolver left out or could not read: its path
// (relative to the repository when inside it) and why.
using LeftOutObserver = std::function<void(const std::string& path, const std::string& reason)>;

// Where a scan stands; told to ScanOptions::on_stage.
enum class ScanStage {
  kChecksAhead,  // the tool checks run ahead, several at a time
  kUnits,        // the units, one by one (ScanOptions::progress)
};
using StageObserver = std::function<void(ScanStage)>;

struct ScanOptions {
  bool use_llm = true;
  std::string granularity{kDefaultGranularity};  // one of kGranularities (granularity.hpp)
  std::optional<Json> previous_descriptions;     // map name -> description
  std::optional<Json> description_verdicts;      // map "namespace/name" -> verdict
  std::vector<std::string> exclude_dirs;
  std::optional<Json> bucket_map;
  std::vector<ScanDependency> dependencies;  // needs our own resolver
  ResolverFactory resolver_factory;          // empty: our own DependencyResolver
  ProgressFn progress;                       // optional
  UnitObserver on_unit;                      // optional
  LeftOutObserver on_left_out;               // optional
  StageObserver on_stage;                    // optional
  // Tool checks run at once, when the probes can run them ahead
  // (ScanProbes::check_ahead); the rows are the same for any number.
  unsigned jobs = 1;
};

// How many design units of the resolver's map the scan kept and skipped.
struct ScanCounts {
  std::size_t units = 0;
  std::size_t kept = 0;
  std::size_t skipped = 0;
};

// Takes each row as it is made.
using RowSink = std::function<void(Json&& row)>;

// Who the rows say they are from.
struct ScanIdentity {
  std::string ns, url, tag, commit;
};

// The rows of one repository (a JSON array), with the settings and services
// of `context`; the unit counts go to `counts` when given. Probe and resolver
// failures propagate; "subproject" without a bucket map is
// ValueError (kSubprojectNeedsBucketMap), raised before any probe
// or resolver work. Scan (scan.hpp) hands the rows over one by one instead.
Json scan_repo(const std::string& repo_path, const ScanIdentity& identity, const ScanProbes& probes,
               const ScanOptions& options, const ScanContext& context, ScanCounts* counts = nullptr);

// The source roots handed to the resolver: "src", "hdl", "rtl" where they are
// directories, else the repository root.
std::vector<std::string> source_roots(const std::string& repo_path);

// A resolver factory and dependencies do not go together.
inline constexpr const char* kDependenciesNeedOwnResolver =
    "dependencies need the scanner's own resolver, not a substitute";

}  // namespace quarrix::pipeline
