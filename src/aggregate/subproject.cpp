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

#include <quarrix/aggregate/entry_error.hpp>
#include <quarrix/license/license.hpp>
#include <quarrix/util/errors.hpp>
#include <quarrix/util/text.hpp>

#include "row_builder.hpp"

namespace quarrix::aggregate {

namespace {

const Json& buckets_of(const Json& bucket_map) {
  static const Json none = Json::object();
  if (!bucket_map.is_object()) throw MalformedEntryError("bucket_map must be a dict");
  const auto found = bucket_map.find("buckets");
  const Json& buckets = found == bucket_map.end() || found->is_null() ? none : *found;
  if (!buckets.is_object() && util::py_truthy(buckets))
    throw MalformedEntryError("bucket_map['buckets'] must be a dict");
  if (!util::py_truthy(buckets)) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : bucket_map.items()) keys.push_back(key);
    std::sort(keys.begin(), keys.end());
    throw ValueError("subproject granularity requires a non-empty 'buckets' map; got bucket_map keys=" +
                     util::py_repr(keys));
  }
  return buckets;
}

// A bucket configuration's optional string value (missing, null or empty: "").
std::string optional_text(const Json& config, const char* key) {
  const auto found = config.find(key);
  if (found == config.end() || found->is_null()) return "";
  if (!found->is_string()) throw MalformedEntryError(std::string("a bucket's '") + key + "' must be a str");
  return found->get<std::string>();
}

}  // namespace

Json aggregate_subproject_entries(const Json& entries, const Json& roles, const std::string& repo_path,
                                  std::string_view ns, std::string_view url, std::string_view tag,
                                  const Json& bucket_map, const Json* description_verdicts, const RowContext& context) {
  if (entries.empty()) return Json::array();
  const Json& buckets = buckets_of(bucket_map);

  // The bucket of each prefix: the earlier bucket, and its earlier prefix, win
  // ties. The longest prefix of a name wins; prefixes of one (valid UTF-8)
  // name are longer in code points exactly when longer in bytes, so a name's
  // own prefixes are looked up from the longest down.
  std::unordered_map<std::string_view, std::size_t> bucket_of_prefix;
  std::size_t bucket = 0;
  for (const auto& [name, config] : buckets.items()) {
    if (!config.is_object()) throw MalformedEntryError("bucket '" + name + "' must be a dict");
    if (const auto prefixes = config.find("prefixes"); prefixes != config.end()) {
      if (!prefixes->is_array()) throw MalformedEntryError("bucket '" + name + "': 'prefixes' must be a list");
      for (const Json& prefix : *prefixes) {
        if (!prefix.is_string()) throw MalformedEntryError("bucket '" + name + "': 'prefixes' must hold only strings");
        bucket_of_prefix.try_emplace(prefix.get_ref<const std::string&>(), bucket);
      }
    }
    ++bucket;
  }
  // Only the lengths some prefix has are tried, so a long name costs no more
  // than the bucket map's prefixes.
  std::vector<std::size_t> lengths;
  lengths.reserve(bucket_of_prefix.size());
  for (const auto& [prefix, index] : bucket_of_prefix) lengths.push_back(prefix.size());
  std::sort(lengths.begin(), lengths.end(), std::greater<>());
  lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
  const auto bucket_of = [&](const std::string& name) -> std::optional<std::size_t> {
    for (const std::size_t length : lengths)
      if (length <= name.size())
        if (const auto it = bucket_of_prefix.find(std::string_view(name).substr(0, length));
            it != bucket_of_prefix.end())
          return it->second;
    return std::nullopt;
  };

  std::vector<Json> grouped(buckets.size(), Json::array());
  std::size_t unassigned_count = 0;
  std::set<std::string> unassigned;
  for (const Json& entry : entries) {
    const std::string& name = detail::entry_name(entry);
    const std::optional<std::size_t> match = bucket_of(name);
    if (!match) {
      ++unassigned_count;
      unassigned.insert(name);
    } else {
      grouped[*match].push_back(entry);
    }
  }
  if (unassigned_count != 0) {
    throw ValueError("subproject granularity: " + std::to_string(unassigned_count) + " entr" +
                     (unassigned_count == 1 ? "y" : "ies") +
                     " unassigned by bucket_map. Update the bucket map so residue is zero. Unassigned: " +
                     util::join({unassigned.begin(), unassigned.end()}, ", "));
  }

  const std::string license_id = license::detect_license(repo_path);
  Json rows = Json::array();
  std::optional<detail::TopIndex> tops;  // built at the first row, where a bad roles map is reported
  bucket = 0;
  for (const auto& [name, config] : buckets.items()) {
    const Json& members = grouped[bucket++];
    if (members.empty()) continue;
    const std::string description = optional_text(config, "description");
    if (!tops) tops.emplace(roles);
    rows.push_back(detail::bucket_row(members, *tops, ns, url, tag, name, description, license_id, description_verdicts,
                                      context.tag_cap));
  }
  return rows;
}

}  // namespace quarrix::aggregate
