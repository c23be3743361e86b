#include "quarrix/aggregate/roles.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "quarrix/util/errors.hpp"

namespace quarrix::aggregate {

namespace {

struct EntityFiles {
  std::string name;
  std::vector<std::string> files;  // the compile list, own file last
  long long dep_count = 1;
  std::optional<std::vector<std::string>> uses;  // the names it uses, when the entry says
};

EntityFiles read_entry(const Json& entry) {
  if (!entry.is_object()) throw TypeError("an entry must be a map");
  const auto name = entry.find("name");
  if (name == entry.end()) throw KeyError("name");
  if (!name->is_string()) throw TypeError("an entry's \"name\" must be a string");
  EntityFiles out{name->get<std::string>(), {}, 1, std::nullopt};
  if (const auto compat = entry.find("quarrix_compat"); compat != entry.end() && !compat->is_null()) {
    if (!compat->is_object()) throw TypeError("an entry's \"quarrix_compat\" must be a map");
    if (const auto files = compat->find("files"); files != compat->end() && !files->is_null()) {
      if (!files->is_array()) throw TypeError("\"quarrix_compat\"/\"files\" must be a list");
      for (const auto& f : *files) {
        if (!f.is_string()) throw TypeError("\"quarrix_compat\"/\"files\" must hold strings");
        out.files.push_back(f.get<std::string>());
      }
    }
  }
  if (const auto uses = entry.find("uses"); uses != entry.end() && !uses->is_null()) {
    if (!uses->is_array()) throw TypeError("an entry's \"uses\" must be a list");
    out.uses.emplace();
    for (const auto& used : *uses) {
      if (!used.is_string()) throw TypeError("an entry's \"uses\" must hold strings");
      out.uses->push_back(used.get<std::string>());
    }
  }
  if (const auto dep = entry.find("dep_count"); dep != entry.end()) {
    if (dep->is_number_integer())
      out.dep_count = dep->get<long long>();
    else if (dep->is_boolean())
      out.dep_count = dep->get<bool>() ? 1 : 0;
    else if (dep->is_number())
      out.dep_count = static_cast<long long>(dep->get<double>() > 1 ? 2 : 1);
    else
      throw TypeError("an entry's \"dep_count\" must be a number");
  }
  return out;
}

}  // namespace

Json compute_roles(const Json& entries) {
  std::vector<EntityFiles> all;
  all.reserve(entries.size());
  for (const auto& entry : entries) all.push_back(read_entry(entry));

  std::unordered_set<std::string> names;
  for (const auto& e : all) names.insert(e.name);

  // Later entries of the same name replace the compile list and own file.
  std::unordered_map<std::string, const EntityFiles*> latest;
  std::unordered_map<std::string, std::string> file_defines;  // own file -> first entity claiming it
  for (const auto& e : all) {
    latest[e.name] = &e;
    if (!e.files.empty()) file_defines.emplace(e.files.back(), e.name);
  }

  std::unordered_set<std::string> depended_on;
  for (const auto& e : all) {
    const EntityFiles& current = *latest[e.name];
    if (current.uses) {
      for (const auto& used : *current.uses)
        if (used != e.name && names.count(used)) depended_on.insert(used);
      continue;
    }
    const std::string own = current.files.empty() ? std::string() : current.files.back();
    for (const auto& path : current.files) {
      if (path == own) continue;
      const auto it = file_defines.find(path);
      if (it != file_defines.end() && !it->second.empty() && it->second != e.name && names.count(it->second))
        depended_on.insert(it->second);
    }
  }

  // First-seen name order, the last entry of a name deciding its role. Built
  // through a hash index: a JSON object looks its keys up one by one.
  std::vector<std::pair<std::string, const char*>> ordered;
  std::unordered_map<std::string_view, std::size_t> slot;
  ordered.reserve(all.size());
  for (const auto& e : all) {
    const char* role = !depended_on.count(e.name) ? "top" : (e.dep_count <= 1 ? "primitive" : "component");
    const auto [it, fresh] = slot.try_emplace(e.name, ordered.size());
    if (fresh)
      ordered.emplace_back(e.name, role);
    else
      ordered[it->second].second = role;
  }
  Json roles = Json::object();
  auto& members = static_cast<std::vector<std::pair<const std::string, Json>>&>(roles.get_ref<Json::object_t&>());
  members.reserve(ordered.size());
  for (auto& [name, role] : ordered) members.emplace_back(std::move(name), role);
  return roles;
}

}  // namespace quarrix::aggregate
