#pragma once
// Subproject granularity: every IP entry routed into one curated bucket by the
// longest matching name prefix, one row per non-empty bucket.

#include <string>

#include <quarrix/aggregate/row_context.hpp>
#include <quarrix/util/json.hpp>

namespace quarrix::aggregate {

// The bucket rows, in bucket-map order; an empty list when there are no
// entries. `bucket_map` holds "buckets": {name: {"description", "prefixes"}}.
// Throws ValueError when the map has no buckets, and when an entry
// matches no prefix (the message names the unassigned entities, so that no
// partial registry is published).
Json aggregate_subproject_entries(const Json& entries, const Json& roles, const std::string& repo_path,
                                  const RowIdentity& identity, const Json& bucket_map, const RowContext& context = {});

}  // namespace quarrix::aggregate
