#include <quarrix/aggregate/subproject.hpp>

#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <quarrix/aggregate/bucket_map.hpp>
#include <quarrix/aggregate/entry_error.hpp>
#include <quarrix/license/license.hpp>
#include <quarrix/util/errors.hpp>
#include <quarrix/util/text.hpp>

#include "row_builder.hpp"

namespace quarrix::aggregate {

namespace {

// The map's buckets; its faults as the subproject rows report them.
const Json& buckets_of(const Json& bucket_map) {
  using Kind = BucketMapFault::Kind;
  const std::optional<BucketMapFault> fault = find_bucket_map_fault(bucket_map, DescriptionCheck::kNone);
  if (!fault) return *bucket_map.find("buckets");
  const std::string bucket = "bucket '" + fault->bucket + "'";
  switch (fault->kind) {
    case Kind::kNotAMapping: throw MalformedEntryError("bucket_map must be a dict");
    case Kind::kBucketsNotAMapping: throw MalformedEntryError("bucket_map['buckets'] must be a dict");
    case Kind::kBucketNotAMapping: throw MalformedEntryError(bucket + " must be a dict");
    case Kind::kPrefixesNotAList: throw MalformedEntryError(bucket + ": 'prefixes' must be a list");
    case Kind::kPrefixNotText: throw MalformedEntryError(bucket + ": 'prefixes' must hold only strings");
    case Kind::kDescriptionNotText:
    case Kind::kNoBuckets: break;
  }
  std::vector<std::string> keys;
  for (const auto& [key, value] : bucket_map.items()) keys.push_back(key);
  std::sort(keys.begin(), keys.end());
  throw ValueError("subproject granularity requires a non-empty 'buckets' map; got bucket_map keys=" +
                   util::py_repr(keys));
}

// A bucket configuration's optional string value (missing, null or empty: "").
std::string optional_text(const Json& config, const char* key) {
  const auto found = config.find(key);
  if (found == config.end() || found->is_null()) return "";
  if (!found->is_string()) throw MalformedEntryError(std::string("a bucket's '") + key + "' must be a str");
  return found->get<std::string>();
}

// The bucket of each name: the bucket of its longest matching prefix. The
// earlier bucket, and its earlier prefix, win ties.
class PrefixRouter {
 public:
  // `buckets` of the right shape (buckets_of).
  explicit PrefixRouter(const Json& buckets) {
    std::size_t bucket = 0;
    for (const Json& config : buckets) {
      if (const auto prefixes = config.find("prefixes"); prefixes != config.end())
        for (const Json& prefix : *prefixes)
          bucket_of_prefix_.try_emplace(prefix.get_ref<const std::string&>(), bucket);
      ++bucket;
    }
    // Only the lengths some prefix has are tried, so a long name costs no more
    // than the bucket map's prefixes.
    lengths_.reserve(bucket_of_prefix_.size());
    for (const auto& [prefix, index] : bucket_of_prefix_) lengths_.push_back(prefix.size());
    std::sort(lengths_.begin(), lengths_.end(), std::greater<>());
    lengths_.erase(std::unique(lengths_.begin(), lengths_.end()), lengths_.end());
  }

  // Prefixes of one (valid UTF-8) name are longer in code points exactly when
  // longer in bytes, so a name's own prefixes are looked up from the longest down.
  std::optional<std::size_t> bucket_of(const std::string& name) const {
    for (const std::size_t length : lengths_)
      if (length <= name.size())
        if (const auto it = bucket_of_prefix_.find(std::string_view(name).substr(0, length));
            it != bucket_of_prefix_.end())
          return it->second;
    return std::nullopt;
  }

 private:
  std::unordered_map<std::string_view, std::size_t> bucket_of_prefix_;
  std::vector<std::size_t> lengths_;
};

// The entries of each bucket, in entry order; ValueError naming the entries
// that no prefix routes.
std::vector<Json> group_by_bucket(const Json& entries, const Json& buckets) {
  const PrefixRouter router(buckets);
  std::vector<Json> grouped(buckets.size(), Json::array());
  std::size_t unassigned_count = 0;
  std::set<std::string> unassigned;
  for (const Json& entry : entries) {
    const std::string& name = detail::entry_name(entry);
    if (const std::optional<std::size_t> match = router.bucket_of(name)) {
      grouped[*match].push_back(entry);
    } else {
      ++unassigned_count;
      unassigned.insert(name);
    }
  }
  if (unassigned_count != 0) {
    throw ValueError("subproject granularity: " + std::to_string(unassigned_count) + " entr" +
                     (unassigned_count == 1 ? "y" : "ies") +
                     " unassigned by bucket_map. Update the bucket map so residue is zero. Unassigned: " +
                     util::join({unassigned.begin(), unassigned.end()}, ", "));
  }
  return grouped;
}

}  // namespace

Json aggregate_subproject_entries(const Json& entries, const Json& roles, const std::string& repo_path,
                                  const RowIdentity& identity, const Json& bucket_map, const RowContext& context) {
  if (entries.empty()) return Json::array();
  const Json& buckets = buckets_of(bucket_map);
  const std::vector<Json> grouped = group_by_bucket(entries, buckets);

  const std::string license_id = license::detect_license(repo_path);
  Json rows = Json::array();
  std::optional<detail::TopIndex> tops;  // built at the first row, where a bad roles map is reported
  std::size_t bucket = 0;
  for (const auto& [name, config] : buckets.items()) {
    const Json& members = grouped[bucket++];
    if (members.empty()) continue;
    const std::string description = optional_text(config, "description");
    if (!tops) tops.emplace(roles);
    rows.push_back(detail::bucket_row(members, *tops, identity, {name, description}, license_id, context));
  }
  return rows;
}

}  // namespace quarrix::aggregate
