#pragma once
// A scan-scoped cache of whole-file reads: while a ScanTextCache is alive on a
// thread, read_file_bytes() and read_text_file() on that thread read each path
// once and answer later calls from memory, so the resolver, the declaration
// check and the description extractors share one read of every source.
//
// Paths are looked up as spelled, under the read confinement in force, so a
// cached answer is exactly what an uncached read would give at the time of the
// first read (including "cannot be read"). Paths that name the same file
// (links, hard links) share one entry, found by device and inode: a thousand
// links to one source cost one read. A file is assumed not to change during
// the cache's lifetime. Caches nest; the innermost applies.
//
// An entry also holds results derived from the file's text (see file_memo.hpp),
// so work that depends only on a file is done once per file, not once per
// design unit declared in it.

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "quarrix/util/file.hpp"

namespace quarrix::util {

class ScanTextCache {
 public:
  ScanTextCache();
  ~ScanTextCache();
  ScanTextCache(const ScanTextCache&) = delete;
  ScanTextCache& operator=(const ScanTextCache&) = delete;

  // The cache installed on this thread, or nullptr.
  static ScanTextCache* current();

  // What reading one file gave, shared by every path that names it.
  // `text_is_bytes` marks a decoded text equal to the bytes (valid UTF-8
  // without "\r"), the common case, which is then stored once.
  struct FileRead {
    std::optional<std::string> bytes;  // nullopt: the file cannot be read
    std::optional<std::string> text;   // decoded text when it differs from the bytes
    bool decoded = false;
    bool text_is_bytes = false;
  };

  // One path: the file it names and the answers derived from it
  // (file_memo.hpp), by FileMemoKey index: a bit for each key asked once, the
  // answer for each key asked again. Answers are per path, since they may
  // depend on the path's suffix as much as on the text.
  struct Entry {
    FileRead* read = nullptr;
    std::uint32_t asked_once = 0;
    std::vector<std::pair<std::uint32_t, std::any>> kept;
  };

  // The entry of (confinement, path), or nullptr when not asked yet.
  Entry* find(std::string_view confinement, std::string_view path);
  // The read of the file `id`, or nullptr when no path of it was read yet.
  FileRead* find_file(const FileId& id);
  // Records what reading `path` gave: a new read, kept by `id` too when given.
  Entry& insert(std::string_view confinement, std::string_view path, std::optional<FileId> id,
                std::optional<std::string> bytes);
  // Records that `path` names the file of `read`.
  Entry& alias(std::string_view confinement, std::string_view path, FileRead& read);

  // Distinct reads (files read, and paths that could not be read).
  std::size_t size() const { return reads_.size(); }

 private:
  // Lookups by string_view: a read asks without building a key string.
  struct ViewHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
  };
  // Node-based: entries stay in place while later reads add more.
  using ByPath = std::unordered_map<std::string, Entry, ViewHash, std::equal_to<>>;
  std::vector<std::unique_ptr<FileRead>> reads_;
  std::unordered_map<FileId, FileRead*, FileIdHash> by_file_;
  // One map of paths per confinement: a scan has one.
  std::unordered_map<std::string, ByPath, ViewHash, std::equal_to<>> paths_;
  ScanTextCache* previous_;
};

}  // namespace quarrix::util
