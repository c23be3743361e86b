#pragma once
// A design unit the scan keeps, from its compile list to its role, and the
// roles of a scan's kept units.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_set>
#include <utility>
#include <vector>

#include "compile_lists.hpp"
#include "quarrix/resolver/use_graph.hpp"
#include "quarrix/util/json.hpp"

namespace quarrix::pipeline::detail {

struct KeptUnit {
  std::string name;
  std::string path;      // the declaring file, as the resolver gave it
  std::string rel_path;  // relative to the repository when inside it
  FileId own = 0;
  std::optional<std::uint32_t> plain;  // the node of its plain list
  // Its compile list when made before its row: the repository's files and,
  // apart, the dependencies' (compiled first). Dropped once its probes ran.
  std::optional<FileIds> list;
  FileIds taken;
  std::vector<FileId> carriers;
  bool several_files = false;  // dep_count > 1
  Json language, std_value, verified, vendor_deps, badges;
  std::vector<std::string> tags;
  std::pair<std::string, std::string> description;
  std::string license;
  const char* role = "top";
  std::vector<std::size_t> components;  // indices of kept units, for a top
};

// The row's files: the define carriers, then the rest of the list; as
// strings, or (for a row) straight into its JSON array. A carrier the list
// already holds (a header that one of its files includes) moves to the front
// too: the macros must be defined before the first file that uses them.
template <class Files>
Files row_files(const CompileLists& lists, const std::vector<FileId>& carriers, const FileIds& list) {
  Files out;
  if constexpr (std::is_same_v<Files, Json>) out = Json::array();
  for (const FileId carrier : carriers) out.emplace_back(lists.path(carrier));
  const std::unordered_set<FileId> first(carriers.begin(), carriers.end());
  for (const FileId file : list)
    if (!first.contains(file)) out.emplace_back(lists.path(file));
  return out;
}

inline bool is_top(const KeptUnit& unit) { return std::string_view(unit.role) == "top"; }

// Roles from the resolver's use graph: a unit is depended on when another
// kept unit reaches it; a top's components are the units it reaches.
void assign_roles_by_use(std::vector<KeptUnit>& kept, const resolver::UseGraph& graph);

// Without a use graph, roles as aggregate::compute_roles gives them for
// entries without one: a unit is depended on when it is the first to claim its
// own file and another unit's files hold that file (`used`).
void assign_roles_by_files(std::vector<KeptUnit>& kept, const std::vector<bool>& used);

// Without a use graph, "components" of each top: the component and primitive
// units whose files share a path with its files, in scan order.
void assign_components_by_files(std::vector<KeptUnit>& kept, CompileLists& lists);

}  // namespace quarrix::pipeline::detail
