#pragma once
// Whole-file reads that never block and never follow a path into something
// that is not a regular file.
//
// A path "cannot be read" when it is missing, a directory, a FIFO, a socket, a
// device, a dangling link, larger than kMaxReadBytes, or when open/read fails. Special files are rejected
// from their metadata and are never opened, so a FIFO named like a source file
// cannot hang a scan.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quarrix::util {

// Files larger than this are not read: no HDL source, README or licence is
// anywhere near it, and reading one would cost its size in memory several
// times over. Such a file is treated as one that cannot be read.
inline constexpr std::size_t kMaxReadBytes = std::size_t{64} << 20;

// Raw bytes of a regular file (links followed), or nullopt when it cannot be read.
std::optional<std::string> read_file_bytes(const std::filesystem::path& path);

// The file decoded as UTF-8 with replacement and newlines normalised
// (Python's open(path, encoding="utf-8", errors="replace").read()).
std::optional<std::string> read_text_file(const std::filesystem::path& path);

// What read_text_file() gives, without copying a text that the scan's text
// cache holds: most sources are read by several parts of a scan. It refers to
// the cache, so it must not outlive it; without a cache it holds the text.
class FileText {
 public:
  FileText() = default;  // the file cannot be read
  explicit FileText(const std::string* cached) : cached_(cached), readable_(true) {}
  explicit FileText(std::string own) : own_(std::move(own)), readable_(true) {}

  explicit operator bool() const { return readable_; }
  const std::string& operator*() const { return cached_ ? *cached_ : own_; }
  const std::string* operator->() const { return &**this; }
  // The text as a string of its own.
  std::string str() && { return cached_ ? *cached_ : std::move(own_); }

 private:
  const std::string* cached_ = nullptr;
  std::string own_;
  bool readable_ = false;
};
FileText read_text(const std::filesystem::path& path);
// What read_file_bytes() gives, in the same way.
FileText read_bytes(const std::filesystem::path& path);

// While alive, whole-file reads on this thread succeed only for files whose
// fully resolved path lies inside the resolved `root` (or one of `also`, the
// repositories it depends on): a link inside a repository cannot make a scan
// read, and publish, a file outside it. Links that stay inside keep working.
// Confinements nest; the innermost applies.
class ReadConfinement {
 public:
  explicit ReadConfinement(const std::filesystem::path& root, const std::vector<std::string>& also = {});
  ~ReadConfinement();
  ReadConfinement(const ReadConfinement&) = delete;
  ReadConfinement& operator=(const ReadConfinement&) = delete;

 private:
  std::optional<std::vector<std::string>> previous_;
};

// The resolved root that whole-file reads on this thread are confined to (the
// repository), or nullopt when they are not confined ("" when the root did
// not resolve).
std::optional<std::string> read_confinement_root();
// Every resolved root of the confinement: the repository first, then the
// repositories it depends on.
std::optional<std::vector<std::string>> read_confinement_roots();

// realpath(path): absolute, with every link and "." or ".." resolved; nullopt
// when some part of it does not exist.
std::optional<std::string> resolved_path(const std::filesystem::path& path);

// Whether the resolved path `path` is the resolved `root` or lies below it.
bool lies_within(std::string_view path, std::string_view root);

// The identity of a file: paths that name the same file (links, hard links)
// have the same one.
struct FileId {
  std::uint64_t device;
  std::uint64_t inode;
  bool operator==(const FileId&) const = default;
};
struct FileIdHash {
  std::size_t operator()(const FileId& id) const { return std::hash<std::uint64_t>()(id.inode * 31 + id.device); }
};

// The identity of the regular file `path` names (links followed), from its
// metadata alone: whether it may be read is not checked.
std::optional<FileId> regular_file_id(const std::filesystem::path& path);

// Metadata tests that follow links and never throw.
bool exists(const std::filesystem::path& path);
bool is_directory(const std::filesystem::path& path);
bool is_regular_file(const std::filesystem::path& path);

}  // namespace quarrix::util
