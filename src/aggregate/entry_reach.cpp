#include "quarrix/aggregate/entry_reach.hpp"

#include <algorithm>
#include <array>
#include <deque>
#include <utility>

namespace quarrix::aggregate {

EntryReach::EntryReach(const UseGraph& graph, std::vector<std::uint32_t> entry_nodes)
    : graph_(graph),
      entry_nodes_(std::move(entry_nodes)),
      entries_of_node_(graph.uses.size()),
      seen_(graph.uses.size(), 0) {
  for (std::size_t e = 0; e < entry_nodes_.size(); ++e)
    if (entry_nodes_[e] < entries_of_node_.size()) entries_of_node_[entry_nodes_[e]].push_back(e);
}

std::vector<bool> EntryReach::depended_on() const {
  const std::size_t nodes = graph_.uses.size();
  // Each node remembers up to two entry nodes it is reached from: enough to
  // tell "reached from another" from "reached only from itself", and it keeps
  // the walk linear. The walk stops at entries: what they reach is walked
  // from them.
  std::vector<std::array<std::uint32_t, 2>> origins(nodes, {kNoNode, kNoNode});
  std::deque<std::pair<std::uint32_t, std::uint32_t>> queue;  // (node, origin)
  const auto reach = [&](std::uint32_t node, std::uint32_t origin) {
    if (node >= nodes) return;
    auto& seen = origins[node];
    if (seen[0] == origin || seen[1] == origin || seen[1] != kNoNode) return;
    (seen[0] == kNoNode ? seen[0] : seen[1]) = origin;
    queue.emplace_back(node, origin);
  };
  for (std::uint32_t node = 0; node < nodes; ++node)
    if (!entries_of_node_[node].empty())
      for (const std::uint32_t used : graph_.uses[node]) reach(used, node);
  while (!queue.empty()) {
    const auto [node, origin] = queue.front();
    queue.pop_front();
    if (!entries_of_node_[node].empty()) continue;
    for (const std::uint32_t used : graph_.uses[node]) reach(used, origin);
  }

  std::vector<bool> out(entry_nodes_.size(), false);
  for (std::size_t e = 0; e < entry_nodes_.size(); ++e) {
    const std::uint32_t node = entry_nodes_[e];
    if (node >= nodes) continue;
    const auto& seen = origins[node];
    out[e] = (seen[0] != kNoNode && seen[0] != node) || (seen[1] != kNoNode && seen[1] != node);
  }
  return out;
}

std::vector<std::size_t> EntryReach::reached_from(std::size_t from) {
  const std::size_t nodes = graph_.uses.size();
  const std::uint32_t start = entry_nodes_.at(from);
  if (start >= nodes) return {};
  ++walk_;
  std::vector<std::uint32_t> stack{start};
  seen_[start] = walk_;
  std::vector<std::size_t> out;
  while (!stack.empty()) {
    const std::uint32_t node = stack.back();
    stack.pop_back();
    if (node != start) out.insert(out.end(), entries_of_node_[node].begin(), entries_of_node_[node].end());
    for (const std::uint32_t used : graph_.uses[node])
      if (used < nodes && seen_[used] != walk_) {
        seen_[used] = walk_;
        stack.push_back(used);
      }
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace quarrix::aggregate
