#pragma once
// Directory listings, read once per scan.
//
// Several parts of a scan walk the same tree with different rules (which
// links to follow, which names to skip). They share one raw listing of each
// directory: the entries' names and what each entry is, read in one pass over
// the directory, with a stat only for links (and for file systems that do not
// report entry types). While a ScanDirectoryCache is alive on a thread, each
// directory is listed once on that thread; a directory is assumed not to
// change meanwhile.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quarrix::util {

enum class EntryKind : std::uint8_t {
  directory,
  regular,
  special,  // FIFO, socket, device
  link_to_directory,
  link_to_regular,
  link_to_other,  // dangling, looping, or to a special file
  unknown,        // could not be examined
};

struct DirectoryEntry {
  std::string name;  // raw bytes, not necessarily UTF-8
  EntryKind kind;
};

using DirectoryListing = std::vector<DirectoryEntry>;

// The entries of `dir` other than "." and "..", sorted by name (byte order).
// Empty when `dir` cannot be listed (missing, not a directory, no permission);
// a link at `dir` itself is followed. Never throws for file-system reasons.
// Keep the returned pointer while iterating: outside a scan it is the only
// owner (`for (auto& e : *list_directory(d))` would iterate a dead listing).
std::shared_ptr<const DirectoryListing> list_directory(std::string_view dir);

class ScanDirectoryCache {
 public:
  ScanDirectoryCache();
  ~ScanDirectoryCache();
  ScanDirectoryCache(const ScanDirectoryCache&) = delete;
  ScanDirectoryCache& operator=(const ScanDirectoryCache&) = delete;

  // The cache installed on this thread, or nullptr.
  static ScanDirectoryCache* current();

 private:
  friend std::shared_ptr<const DirectoryListing> list_directory(std::string_view dir);
  std::unordered_map<std::string, std::shared_ptr<const DirectoryListing>> listings_;  // by normalised path
  ScanDirectoryCache* previous_;
};

}  // namespace quarrix::util
