#pragma once
// Which entities of a repository another one uses, from the use graph: an
// entity is depended on when another entity reaches it, directly (it
// instantiates it, names it as a component or in a configuration, imports
// it) or through units that are no entries (packages, contexts, units left
// out of the catalog). Files that declare several entities do not blur it,
// as a graph of shared files does.

#include <cstddef>
#include <cstdint>
#include <vector>

#include <quarrix/resolver/use_graph.hpp>

namespace quarrix::aggregate {

using resolver::UseGraph;

// The entries of a scan on the use graph; entry e is node entry_nodes[e]
// (one node may stand for several entries of one name, kNoNode for none).
class EntryReach {
 public:
  static constexpr std::uint32_t kNoNode = UINT32_MAX;
  EntryReach(const UseGraph& graph, std::vector<std::uint32_t> entry_nodes);

  // Per entry: whether an entry of another node reaches it.
  std::vector<bool> depended_on() const;
  // The entries that entry `from` reaches, in entry order; entries of its own node left out.
  std::vector<std::size_t> reached_from(std::size_t from);

 private:
  const UseGraph& graph_;
  std::vector<std::uint32_t> entry_nodes_;
  std::vector<std::vector<std::size_t>> entries_of_node_;
  std::vector<std::uint32_t> seen_;  // per node, the walk that last saw it
  std::uint32_t walk_ = 0;
};

}  // namespace quarrix::aggregate
