#pragma once
// The row of one subproject bucket: the repo row's shape, scoped to the
// entries routed into the bucket, described by the curator instead of the
// README.

#include <string>
#include <string_view>

#include <quarrix/aggregate/row_context.hpp>
#include <quarrix/util/json.hpp>

namespace quarrix::aggregate {

// A curated bucket: its name and the curator's description (may be empty).
struct CuratedBucket {
  std::string_view name;
  std::string_view description;
};

// The bucket row for `entries` (a non-empty array of IP entries). It reads no
// file: `license_id` is the repository's licence, detected once by the caller.
Json aggregate_one_bucket(const Json& entries, const Json& roles, const RowIdentity& identity,
                          const CuratedBucket& bucket, std::string_view license_id, const RowContext& context = {});

}  // namespace quarrix::aggregate
