#pragma once
// The granularities of a scan's rows: the one place that knows their names and
// what each asks of the scan.
//
//   top         the rows of the units whose role is top or component (default)
//   repo        one row for the whole repository
//   subproject  one row per bucket of a bucket map, which it therefore needs
//   all         the row of every unit
//
// ScanOptions holds the name as a string; a name that is none of these is
// scanned like "all" (only the CLI rejects it, with is_granularity).

#include <array>
#include <string_view>

namespace quarrix::pipeline {

// The names, in the order in which the CLI lists them.
inline constexpr std::array<std::string_view, 4> kGranularities = {"top", "repo", "subproject", "all"};
inline constexpr std::string_view kDefaultGranularity = "top";
// The granularity that keeps every unit's row.
inline constexpr std::string_view kEveryUnitGranularity = "all";

// Whether `name` is one of kGranularities (compared exactly).
bool is_granularity(std::string_view name);
// Whether the scan keeps only the rows of top and component units ("top").
bool keeps_top_rows_only(std::string_view granularity);
// Whether the scan gives one row for the repository ("repo").
bool gives_repo_row(std::string_view granularity);
// Whether the scan gives one row per bucket of a bucket map ("subproject").
bool gives_subproject_rows(std::string_view granularity);
// Whether the scan needs a bucket map: those that give subproject rows.
bool needs_bucket_map(std::string_view granularity);

// The error when a granularity that needs a bucket map is given none.
inline constexpr const char* kSubprojectNeedsBucketMap =
    "granularity='subproject' requires a bucket_map kwarg (load the sidecar YAML referenced from "
    "curated_repos.json[<url>].bucket_map)";

}  // namespace quarrix::pipeline
