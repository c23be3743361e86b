#pragma once
// What the repo row and the bucket rows share: reading entries, merging their
// values and laying out the row's keys.

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <quarrix/aggregate/bucket_row.hpp>
#include <quarrix/aggregate/row_context.hpp>
#include <quarrix/util/json.hpp>

namespace quarrix::aggregate::detail {

// The value under `key` of an entry (a map), or nullptr when absent.
const Json* field(const Json& entry, const char* key);
// The value under `key`, or `fallback` when absent.
Json field_or(const Json& entry, const char* key, Json fallback);
// The entry's "name" (required, a string).
const std::string& entry_name(const Json& entry);

// "quarrix_compat"/"files" of every entry, each path once, at its first occurrence.
std::vector<std::string> union_of_files(const Json& entries);
// Whether each name's role is "top", looked up through a hash index (a JSON
// object finds its keys one by one). Built once per roles map and shared by
// every row made from it; it refers to the map's keys.
class TopIndex {
 public:
  explicit TopIndex(const Json& roles);  // MalformedEntryError unless a map
  bool is_top(const std::string& name) const;

 private:
  std::unordered_map<std::string_view, bool> top_;
};

// The entries that are tops, in entry order.
std::vector<const Json*> top_entities(const Json& entries, const TopIndex& tops);

// The part of a row that is not merged from the entries.
struct RowHead {
  std::string name;
  std::string_view ns;
  std::string_view url;
  std::string_view tag;
  Json description;
  Json desc_source;
  std::string license;
  std::string_view role;
};

// The aggregated row over `entries`, with `files` as its compile list, in the
// row's key order (without the repo row's "hdl" key); at most `tag_cap` tags.
Json build_row(const Json& entries, const TopIndex& tops, const RowHead& head, std::vector<std::string> files,
               long long tag_cap);

// One bucket's row (aggregate_one_bucket) with the tops already indexed.
Json bucket_row(const Json& entries, const TopIndex& tops, const RowIdentity& identity, const CuratedBucket& bucket,
                std::string_view license_id, const RowContext& context);

}  // namespace quarrix::aggregate::detail
