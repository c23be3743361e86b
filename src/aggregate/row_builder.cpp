#include "row_builder.hpp"

#include <algorithm>
#include <set>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include <quarrix/aggregate/entry_error.hpp>
#include <quarrix/license/license.hpp>
#include <quarrix/tags/tags.hpp>

namespace quarrix::aggregate::detail {

namespace {

void require_map(const Json& value, const char* what) {
  if (!value.is_object()) throw MalformedEntryError(std::string(what) + " must be a dict, not " + value.type_name());
}

// The strings of the list under `key` (missing or null counts as empty).
std::vector<std::string> string_list(const Json* map, const char* key) {
  std::vector<std::string> out;
  const Json* list = map ? field(*map, key) : nullptr;
  if (!list || list->is_null()) return out;
  if (!list->is_array()) throw MalformedEntryError(std::string("'") + key + "' must be a list");
  for (const Json& item : *list) {
    if (!item.is_string()) throw MalformedEntryError(std::string("'") + key + "' must hold only strings");
    out.push_back(item.get<std::string>());
  }
  return out;
}

// The entry's "quarrix_compat" map, or nullptr when absent.
const Json* compat_of(const Json& entry) {
  const Json* compat = field(entry, "quarrix_compat");
  if (compat) require_map(*compat, "'quarrix_compat'");
  return compat;
}

Json value_or(const Json* map, const char* key, Json fallback) {
  const Json* value = map ? field(*map, key) : nullptr;
  if (value) return *value;
  return fallback;
}

// The most frequent "quarrix_compat"/"language"; the first met wins a tie.
Json primary_language(const Json& entries) {
  std::vector<std::pair<Json, std::size_t>> counts;
  for (const Json& entry : entries) {
    const Json language = value_or(compat_of(entry), "language", "unknown");
    const auto slot = std::find_if(counts.begin(), counts.end(), [&](const auto& c) { return c.first == language; });
    if (slot == counts.end()) {
      counts.emplace_back(language, 1);
    } else {
      ++slot->second;
    }
  }
  auto best = counts.begin();
  for (auto it = counts.begin(); it != counts.end(); ++it)
    if (it->second > best->second) best = it;
  return best == counts.end() ? Json("unknown") : best->first;
}

// Sorted union of a string list over all entries.
std::vector<std::string> sorted_union(const Json& entries, const char* key) {
  std::set<std::string> all;
  for (const Json& entry : entries)
    for (std::string& item : string_list(&entry, key)) all.insert(std::move(item));
  return {all.begin(), all.end()};
}

}  // namespace

const Json* field(const Json& entry, const char* key) {
  require_map(entry, "an entry");
  const auto found = entry.find(key);
  return found == entry.end() ? nullptr : &*found;
}

Json field_or(const Json& entry, const char* key, Json fallback) {
  const Json* value = field(entry, key);
  if (value) return *value;
  return fallback;
}

const std::string& entry_name(const Json& entry) {
  const Json* name = field(entry, "name");
  if (!name) throw MalformedEntryError("an entry has no 'name'");
  if (!name->is_string()) throw MalformedEntryError("an entry's 'name' must be a str");
  return name->get_ref<const std::string&>();
}

std::vector<std::string> union_of_files(const Json& entries) {
  std::vector<std::string> files;
  std::unordered_set<std::string> seen;
  for (const Json& entry : entries)
    for (std::string& path : string_list(compat_of(entry), "files"))
      if (seen.insert(path).second) files.push_back(std::move(path));
  return files;
}

TopIndex::TopIndex(const Json& roles) {
  require_map(roles, "roles");
  top_.reserve(roles.size());
  for (auto it = roles.begin(); it != roles.end(); ++it) top_.try_emplace(it.key(), *it == "top");
}

bool TopIndex::is_top(const std::string& name) const {
  const auto it = top_.find(name);
  return it != top_.end() && it->second;
}

std::vector<const Json*> top_entities(const Json& entries, const TopIndex& tops) {
  std::vector<const Json*> out;
  for (const Json& entry : entries)
    if (tops.is_top(entry_name(entry))) out.push_back(&entry);
  return out;
}

Json build_row(const Json& entries, const TopIndex& tops, const RowHead& head, std::vector<std::string> files,
               long long tag_cap) {
  const Json& first = entries.at(0);
  const Json* first_compat = compat_of(first);

  std::vector<std::string> tags;
  for (const Json& entry : entries)
    for (std::string& tag : string_list(&entry, "tags")) tags.push_back(std::move(tag));
  std::sort(tags.begin(), tags.end());
  tags.erase(std::unique(tags.begin(), tags.end()), tags.end());

  bool verified = false;
  for (const Json& entry : entries)
    if (const Json* flag = field(entry, "verified"); flag && util::py_truthy(*flag)) verified = true;

  Json top_modules = Json::array();
  Json components = Json::array();
  for (const Json& entry : entries) {
    const std::string& name = entry_name(entry);
    (tops.is_top(name) ? top_modules : components).push_back(name);
  }

  Json row = Json::object();
  row["name"] = head.name;
  row["namespace"] = head.ns;
  row["source"] = Json{{"type", "git"}, {"url", head.url}, {"tag", head.tag}, {"ip_yml_path", "."}};
  const std::size_t dep_count = files.size();
  row["quarrix_compat"] = Json{{"language", primary_language(entries)},
                               {"library", value_or(first_compat, "library", "work")},
                               {"files", std::move(files)}};
  row["description"] = head.description;
  row["desc_source"] = head.desc_source;
  row["license"] = head.license;
  row["dep_count"] = static_cast<long long>(dep_count);
  row["vhdl_standard"] = value_or(&first, "vhdl_standard", "unknown");
  row["vendor_deps"] = sorted_union(entries, "vendor_deps");
  row["verified"] = verified;
  row["badges"] = value_or(&first, "badges", Json::array());
  row["test_info"] = value_or(&first, "test_info", Json::object());
  row["tags"] = tags::cap_tags(std::move(tags), tag_cap);
  row["role"] = head.role;
  row["top_modules"] = std::move(top_modules);
  row["components"] = std::move(components);
  row["total_entities"] = static_cast<long long>(entries.size());
  row["license_class"] = license::classify_license(head.license);
  if (const Json* uses = field(first, "external_uses"); uses && util::py_truthy(*uses)) row["external_uses"] = *uses;
  if (std::vector<std::string> packages = sorted_union(entries, "provides_packages"); !packages.empty())
    row["provides_packages"] = std::move(packages);
  return row;
}

}  // namespace quarrix::aggregate::detail
