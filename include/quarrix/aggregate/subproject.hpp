#pragma once
// Subproject granularity: every IP entry routed into one curated bucket by the
// longest matching name prefix, one row per non-empty bucket.

#include <string>
#include <string_view>

#include <quarrix/aggregate/row_context.hpp>
#include <quarrix/util/json.hpp>

namespace quarrix::aggregate {

// The bucket rows, in bucket-map order; an empty list when there are no
// entries. `bucket_map` holds "buckets": {name: {"description", "prefixes"}}.
// Throws ValueError when the map has no buckets, and when an entry
// matches no prefix (the message names the unassigned entities, so that no
// partial registry is published). `description_verdicts` may be null.
Json aggregate_subproject_entries(const Json& entries, const Json& roles, const std::string& repo_path,
                                  std::string_view ns, std::string_view url, std::string_view tag,
                                  const Json& bucket_map, const Json* description_verdicts = nullptr,
                                  const RowContext& context = {});

}  // namespace quarrix::aggregate
