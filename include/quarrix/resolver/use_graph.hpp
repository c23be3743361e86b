#pragma once
// Which design unit uses which: instantiates it, names it as a component or
// in a configuration, imports or extends it.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace quarrix::resolver {

struct UseGraph {
  std::vector<std::vector<std::uint32_t>> uses;            // each node's direct uses, as nodes
  std::unordered_map<std::string, std::uint32_t> node_of;  // the units of entity_map, by name
};

}  // namespace quarrix::resolver
