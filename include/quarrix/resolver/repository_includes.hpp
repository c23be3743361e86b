#pragma once
// Finds the header a Verilog `include names anywhere in a repository, for an
// include that the scanned sources do not satisfy (a header kept in vendor/
// beside the rtl/ root, a ".inc" or ".h" file the source walk never lists):
//   1. the including file's own directory;
//   2. the include/ directory of each of its ancestors, the nearest first, up
//      to the repository's root;
//   3. any file whose path ends with the name, component by component, the
//      one whose directory shares the longest prefix with the includer's
//      winning (path order among equals).
// Only regular files whose resolved path lies inside the repository are
// answered; the walk of step 3 does not descend into links or ".git", and
// stops after a bounded number of entries.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quarrix::resolver {

class RepositoryIncludes {
 public:
  // `root`: the repository, as the includers' paths spell it.
  explicit RepositoryIncludes(std::string root);

  // The header, spelled from the root as given; `includer`: a path below the
  // root. Its directory becomes an include directory where the tool gets the
  // header's includer.
  std::optional<std::string> find(std::string_view name, std::string_view includer);

 private:
  bool inside(std::string_view path) const;
  std::optional<std::string> accept(const std::string& path) const;
  void walk();

  std::string root_;
  std::optional<std::string> resolved_root_;
  bool walked_ = false;
  std::vector<std::string> walked_files_;                              // path order
  std::unordered_map<std::string, std::vector<std::size_t>> by_name_;  // last component -> files
};

}  // namespace quarrix::resolver
