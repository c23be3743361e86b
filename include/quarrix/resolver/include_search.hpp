#pragma once
// Finds the file a Verilog `include names among a known set of files, in the
// order a tool searches once it is given the right include directories:
//   1. the directory of the including file;
//   2. the extra include directories, in the order given;
//   3. any known file whose path ends with the name, component by component
//      (the first in the set's order): the name as seen from one of the
//      directories of the sources.
// Only files of the set are ever answered, so an include of a device, of a
// path outside the scanned tree or of something never scanned finds nothing.
// Paths are compared lexically; "." and "dir/.." inside them collapse.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quarrix::resolver {

class IncludeSearch {
 public:
  explicit IncludeSearch(const std::vector<std::string>& files, std::vector<std::string> include_dirs = {});

  struct Found {
    std::size_t file;       // index into the files given
    std::string directory;  // the include directory through which the name reaches it
  };
  std::optional<Found> find(std::string_view name, std::string_view includer) const;

 private:
  std::optional<std::size_t> at(const std::string& path) const;

  std::vector<std::string> include_dirs_;
  std::unordered_map<std::string, std::size_t> by_path_;               // collapsed path -> first file
  std::unordered_map<std::string, std::vector<std::size_t>> by_name_;  // last component -> files
  std::vector<std::string> collapsed_;
};

// `path` with "." components dropped and "x/.." pairs removed; nullopt when a
// ".." would climb above its start (or above "/").
std::optional<std::string> collapse_path(std::string_view path);

}  // namespace quarrix::resolver
