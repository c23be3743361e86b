#include "quarrix/util/directory.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "quarrix/util/path.hpp"

namespace quarrix::util {

namespace {

thread_local ScanDirectoryCache* installed = nullptr;

EntryKind kind_of_mode(mode_t mode) {
  if (S_ISDIR(mode)) return EntryKind::directory;
  if (S_ISREG(mode)) return EntryKind::regular;
  return EntryKind::special;
}

// What the link `name` in the open directory `dir_fd` leads to.
EntryKind link_kind(int dir_fd, const char* name) {
  struct stat target {};
  if (::fstatat(dir_fd, name, &target, 0) != 0) return EntryKind::link_to_other;
  if (S_ISDIR(target.st_mode)) return EntryKind::link_to_directory;
  if (S_ISREG(target.st_mode)) return EntryKind::link_to_regular;
  return EntryKind::link_to_other;
}

EntryKind entry_kind(int dir_fd, const struct dirent& entry) {
  switch (entry.d_type) {
    case DT_DIR: return EntryKind::directory;
    case DT_REG: return EntryKind::regular;
    case DT_LNK: return link_kind(dir_fd, entry.d_name);
    case DT_UNKNOWN: {
      struct stat own {};
      if (::fstatat(dir_fd, entry.d_name, &own, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::unknown;
      return S_ISLNK(own.st_mode) ? link_kind(dir_fd, entry.d_name) : kind_of_mode(own.st_mode);
    }
    default: return EntryKind::special;
  }
}

DirectoryListing read_directory(const std::string& dir) {
  DirectoryListing out;
  DIR* handle = ::opendir(dir.c_str());
  if (!handle) return out;
  const int dir_fd = ::dirfd(handle);
  while (true) {
    errno = 0;
    const struct dirent* entry = ::readdir(handle);
    if (!entry) break;  // the end, or an error part-way: keep what was read
    const std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    out.push_back({std::string(name), entry_kind(dir_fd, *entry)});
  }
  ::closedir(handle);
  std::sort(out.begin(), out.end(), [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
  return out;
}

}  // namespace

ScanDirectoryCache::ScanDirectoryCache() : previous_(installed) { installed = this; }

ScanDirectoryCache::~ScanDirectoryCache() { installed = previous_; }

ScanDirectoryCache* ScanDirectoryCache::current() { return installed; }

std::shared_ptr<const DirectoryListing> list_directory(std::string_view dir) {
  std::string key = normalize_path(dir);
  ScanDirectoryCache* cache = ScanDirectoryCache::current();
  if (!cache) return std::make_shared<const DirectoryListing>(read_directory(key));
  if (const auto found = cache->listings_.find(key); found != cache->listings_.end()) return found->second;
  auto listing = std::make_shared<const DirectoryListing>(read_directory(key));
  cache->listings_.emplace(std::move(key), listing);
  return listing;
}

}  // namespace quarrix::util
