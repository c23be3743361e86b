#include <cstdint>
#include <unordered_map>

#include "kept_unit.hpp"
#include "quarrix/aggregate/entry_reach.hpp"

namespace quarrix::pipeline::detail {

namespace {

const char* role_of(bool depended_on, const KeptUnit& unit) {
  return !depended_on ? "top" : (unit.several_files ? "component" : "primitive");
}

}  // namespace

void assign_roles_by_use(std::vector<KeptUnit>& kept, const resolver::UseGraph& graph) {
  std::vector<std::uint32_t> nodes;
  nodes.reserve(kept.size());
  for (const KeptUnit& unit : kept) {
    const auto it = graph.node_of.find(unit.name);
    nodes.push_back(it == graph.node_of.end() ? aggregate::EntryReach::kNoNode : it->second);
  }
  aggregate::EntryReach reach(graph, std::move(nodes));
  const std::vector<bool> depended = reach.depended_on();
  for (std::size_t i = 0; i < kept.size(); ++i) kept[i].role = role_of(depended[i], kept[i]);
  for (std::size_t t = 0; t < kept.size(); ++t)
    if (is_top(kept[t]))
      for (const std::size_t c : reach.reached_from(t))
        if (!is_top(kept[c])) kept[t].components.push_back(c);
}

void assign_roles_by_files(std::vector<KeptUnit>& kept, const std::vector<bool>& used) {
  std::unordered_map<FileId, std::size_t> claimer;
  for (std::size_t i = 0; i < kept.size(); ++i) claimer.try_emplace(kept[i].own, i);
  for (std::size_t i = 0; i < kept.size(); ++i) {
    KeptUnit& unit = kept[i];
    const bool depended_on = claimer.at(unit.own) == i && unit.own < used.size() && used[unit.own];
    unit.role = role_of(depended_on, unit);
  }
}

// Indexed by the tops' paths, so the cost follows the length of the lists.
void assign_components_by_files(std::vector<KeptUnit>& kept, CompileLists& lists) {
  const auto files_of = [&](const KeptUnit& unit) {
    FileIds files = lists.files(unit.name, unit.rel_path);
    files.insert(files.end(), unit.carriers.begin(), unit.carriers.end());
    return files;
  };
  std::unordered_map<FileId, std::vector<std::size_t>> tops_of;
  for (std::size_t t = 0; t < kept.size(); ++t)
    if (is_top(kept[t]))
      for (const FileId f : files_of(kept[t])) {
        std::vector<std::size_t>& tops = tops_of[f];
        if (tops.empty() || tops.back() != t) tops.push_back(t);
      }
  if (tops_of.empty()) return;
  std::vector<std::size_t> marked(kept.size(), SIZE_MAX);  // per top: the last unit added
  for (std::size_t c = 0; c < kept.size(); ++c) {
    if (is_top(kept[c])) continue;
    for (const FileId f : files_of(kept[c])) {
      const auto it = tops_of.find(f);
      if (it == tops_of.end()) continue;
      for (const std::size_t t : it->second)
        if (marked[t] != c) {
          marked[t] = c;
          kept[t].components.push_back(c);
        }
    }
  }
}

}  // namespace quarrix::pipeline::detail
