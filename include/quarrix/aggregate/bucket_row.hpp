#pragma once
// The row of one subproject bucket: the repo row's shape, scoped to the
// entries routed into the bucket, described by the curator instead of the
// README.

#include <string>
#include <string_view>

#include <quarrix/aggregate/row_context.hpp>
#include <quarrix/util/json.hpp>

namespace quarrix::aggregate {

// The bucket row for `entries` (a non-empty array of IP entries). It reads no
// file: `license_id` is the repository's licence, detected once by the caller.
// `description_verdicts` may be null.
Json aggregate_one_bucket(const Json& entries, const Json& roles, std::string_view ns, std::string_view url,
                          std::string_view tag, std::string_view bucket_name, std::string_view bucket_description,
                          std::string_view license_id, const Json* description_verdicts = nullptr,
                          const RowContext& context = {});

}  // namespace quarrix::aggregate
