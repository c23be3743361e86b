#include "quarrix/util/file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <unordered_map>

#include "quarrix/util/file_memo.hpp"
#include "quarrix/util/text.hpp"
#include "quarrix/util/text_cache.hpp"

namespace quarrix::util {

namespace {

bool stat_path(const std::filesystem::path& path, struct stat& st) { return ::stat(path.c_str(), &st) == 0; }

FileId id_of(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// The resolved roots reads are confined to on this thread, if any: the
// repository first, then the repositories it depends on.
thread_local std::optional<std::vector<std::string>> confined_roots;
// The roots as one key of the scan's text cache: "*" for unconfined (a
// resolved root starts with "/" or is empty), else the roots joined by NUL.
thread_local std::string confinement_key = "*";

std::string key_of(const std::optional<std::vector<std::string>>& roots) {
  if (!roots) return "*";
  std::string key;
  for (const std::string& root : *roots) key.append(root).push_back('\0');
  return key;
}

// The resolved directories met while the confinement is in place: a scan reads
// many files of each directory, and realpath() reads every component of every
// path again. Dropped when a confinement begins or ends.
thread_local std::unordered_map<std::string, std::optional<std::string>> resolved_dirs;

std::optional<std::string> real_path(const std::filesystem::path& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return std::nullopt;
  std::string out(real);
  ::free(real);
  return out;
}

// resolved_path(path), with the directory part looked up once: a path whose
// last component is a plain name and not a link (`last_is_link`, from the
// caller's lstat) resolves to its resolved directory plus that name.
std::optional<std::string> resolved_read_path(const std::filesystem::path& path, bool last_is_link) {
  const std::string& text = path.native();
  const std::size_t slash = text.rfind('/');
  const std::string_view name =
      slash == std::string::npos ? std::string_view(text) : std::string_view(text).substr(slash + 1);
  if (last_is_link || name.empty() || name == "." || name == "..") return real_path(path);
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : text.substr(0, slash);
  auto found = resolved_dirs.find(dir);
  if (found == resolved_dirs.end()) found = resolved_dirs.emplace(dir, real_path(dir)).first;
  if (!found->second) return real_path(path);
  return (*found->second == "/" ? "/" : *found->second + "/").append(name);
}

bool inside_confinement(const std::filesystem::path& path, bool last_is_link) {
  if (!confined_roots) return true;
  const auto real = resolved_read_path(path, last_is_link);
  return real && std::any_of(confined_roots->begin(), confined_roots->end(),
                             [&](const std::string& root) { return *real != root && lies_within(*real, root); });
}

}  // namespace

std::optional<std::string> resolved_path(const std::filesystem::path& path) {
  if (!confined_roots) return real_path(path);
  // Within a scan, with the scan's resolved directories.
  struct stat own {};
  if (::lstat(path.c_str(), &own) != 0) return std::nullopt;
  return resolved_read_path(path, S_ISLNK(own.st_mode));
}

bool lies_within(std::string_view path, std::string_view root) {
  if (root.empty()) return false;
  if (root == "/") return path.starts_with('/');
  return path.starts_with(root) && (path.size() == root.size() || path[root.size()] == '/');
}

std::optional<std::string> read_confinement_root() {
  if (!confined_roots) return std::nullopt;
  return confined_roots->front();
}

std::optional<std::vector<std::string>> read_confinement_roots() { return confined_roots; }

ReadConfinement::ReadConfinement(const std::filesystem::path& root, const std::vector<std::string>& also)
    : previous_(confined_roots) {
  // An unresolvable root leaves nothing readable under it (the empty root).
  std::vector<std::string> roots{real_path(root).value_or(std::string())};
  for (const std::string& more : also) roots.push_back(real_path(more).value_or(std::string()));
  confined_roots = std::move(roots);
  confinement_key = key_of(confined_roots);
  resolved_dirs.clear();
}

ReadConfinement::~ReadConfinement() {
  confined_roots = previous_;
  confinement_key = key_of(confined_roots);
  resolved_dirs.clear();
}

namespace {

// The identity of the file `path` names when it may be read: a regular file
// (decided from metadata, so a FIFO or device is never opened) inside the
// confinement and within the size limit.
std::optional<FileId> readable_file_id(const std::filesystem::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  const bool link = S_ISLNK(st.st_mode);
  if ((link && !stat_path(path, st)) || !S_ISREG(st.st_mode) || st.st_size > static_cast<off_t>(kMaxReadBytes) ||
      !inside_confinement(path, link))
    return std::nullopt;
  return id_of(st);
}

// Reads a file that readable_file_id() accepted; `opened` is the identity of the
// file actually read.
std::optional<std::string> read_regular(const std::filesystem::path& path, FileId& opened) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  // The path may have been swapped for something else between stat and open.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > static_cast<off_t>(kMaxReadBytes)) {
    ::close(fd);
    return std::nullopt;
  }
  opened = id_of(st);
  std::string bytes;
  if (st.st_size > 0) bytes.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[1 << 16];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    // A file that grows past the limit while it is read is refused as well.
    if (n < 0 ? errno != EINTR : bytes.size() + static_cast<std::size_t>(n) > kMaxReadBytes) {
      ::close(fd);
      return std::nullopt;
    }
    if (n > 0) bytes.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return bytes;
}

std::optional<std::string> read_uncached(const std::filesystem::path& path) {
  FileId opened{};
  return readable_file_id(path) ? read_regular(path, opened) : std::nullopt;
}

// Valid UTF-8 without "\r" is its own text: no copy of a large file.
bool text_is_bytes(const std::string& bytes) { return bytes.find('\r') == std::string::npos && is_valid_utf8(bytes); }

std::string decoded_text(std::string bytes) {
  std::string decoded = decode_utf8_replace(bytes);
  bytes = std::string();
  return normalize_newlines(decoded);
}

// The scan cache's entry for `path`, read now when new; nullptr without a cache.
ScanTextCache::Entry* cached_entry(const std::filesystem::path& path) {
  ScanTextCache* cache = ScanTextCache::current();
  if (!cache) return nullptr;
  const std::string_view confinement = confinement_key;
  if (ScanTextCache::Entry* entry = cache->find(confinement, path.native())) return entry;
  const std::optional<FileId> id = readable_file_id(path);
  if (!id) return &cache->insert(confinement, path.native(), std::nullopt, std::nullopt);
  if (ScanTextCache::FileRead* read = cache->find_file(*id)) return &cache->alias(confinement, path.native(), *read);
  FileId opened{};
  std::optional<std::string> bytes = read_regular(path, opened);
  return &cache->insert(confinement, path.native(), bytes ? std::optional<FileId>(opened) : std::nullopt,
                        std::move(bytes));
}

}  // namespace

std::optional<std::string> read_file_bytes(const std::filesystem::path& path) {
  if (const ScanTextCache::Entry* entry = cached_entry(path)) return entry->read->bytes;
  return read_uncached(path);
}

FileText read_bytes(const std::filesystem::path& path) {
  if (const ScanTextCache::Entry* entry = cached_entry(path))
    return entry->read->bytes ? FileText(&*entry->read->bytes) : FileText();
  std::optional<std::string> bytes = read_uncached(path);
  return bytes ? FileText(std::move(*bytes)) : FileText();
}

FileText read_text(const std::filesystem::path& path) {
  ScanTextCache::Entry* entry = cached_entry(path);
  if (!entry) {
    auto bytes = read_uncached(path);
    if (!bytes) return {};
    if (text_is_bytes(*bytes)) return FileText(std::move(*bytes));
    return FileText(decoded_text(std::move(*bytes)));
  }
  ScanTextCache::FileRead& read = *entry->read;
  if (!read.bytes) return {};
  if (!read.decoded) {
    read.decoded = true;
    read.text_is_bytes = text_is_bytes(*read.bytes);
    if (!read.text_is_bytes) read.text = decoded_text(*read.bytes);
  }
  return FileText(read.text_is_bytes ? &*read.bytes : &*read.text);
}

std::optional<std::string> read_text_file(const std::filesystem::path& path) {
  FileText text = read_text(path);
  if (!text) return std::nullopt;
  return std::move(text).str();
}

namespace detail {

ScanTextCache::Entry* file_memo_entry(const std::filesystem::path& path) { return cached_entry(path); }

}  // namespace detail

std::optional<FileId> regular_file_id(const std::filesystem::path& path) {
  struct stat st {};
  if (!stat_path(path, st) || !S_ISREG(st.st_mode)) return std::nullopt;
  return id_of(st);
}

bool exists(const std::filesystem::path& path) {
  struct stat st {};
  return stat_path(path, st);
}

bool is_directory(const std::filesystem::path& path) {
  struct stat st {};
  return stat_path(path, st) && S_ISDIR(st.st_mode);
}

bool is_regular_file(const std::filesystem::path& path) {
  struct stat st {};
  return stat_path(path, st) && S_ISREG(st.st_mode);
}

}  // namespace quarrix::util
