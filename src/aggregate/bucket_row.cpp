#include <quarrix/aggregate/bucket_row.hpp>

#include <optional>
#include <stdexcept>

#include <quarrix/describe/verdicts.hpp>
#include <quarrix/util/errors.hpp>
#include <quarrix/util/text.hpp>

#include "row_builder.hpp"

namespace quarrix::aggregate {

namespace detail {

Json bucket_row(const Json& entries, const TopIndex& top_index, const RowIdentity& identity,
                const CuratedBucket& bucket, std::string_view license_id, const RowContext& context) {
  const std::vector<const Json*> tops = top_entities(entries, top_index);
  const std::string_view ns = identity.ns;

  RowHead head{std::string(bucket.name), ns,          identity.url, identity.tag, nullptr, nullptr,
               std::string(license_id),  "subproject"};
  const std::string_view curated = util::strip(bucket.description);
  if (std::optional<std::string> locked =
          describe::verdict_locked_text(context.description_verdicts, ns, bucket.name)) {
    head.description = std::move(*locked);
    head.desc_source = "verdict";
  } else if (!curated.empty()) {
    head.description = std::string(curated);
    head.desc_source = "curator";
  } else if (!tops.empty()) {
    // Taken even when empty: a bucket with a top entity never gets the filler.
    head.description = field_or(*tops.front(), "description", "");
    head.desc_source = field_or(*tops.front(), "desc_source", "auto");
  } else {
    head.description = std::string(ns) + " " + std::string(bucket.name);
    head.desc_source = "auto";
  }
  return build_row(entries, top_index, head, union_of_files(entries), context.tag_cap);
}

}  // namespace detail

Json aggregate_one_bucket(const Json& entries, const Json& roles, const RowIdentity& identity,
                          const CuratedBucket& bucket, std::string_view license_id, const RowContext& context) {
  if (entries.empty()) throw IndexError("a bucket row needs at least one entry");
  return detail::bucket_row(entries, detail::TopIndex(roles), identity, bucket, license_id, context);
}

}  // namespace quarrix::aggregate
