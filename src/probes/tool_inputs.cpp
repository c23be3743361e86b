#include "tool_inputs.hpp"

#include <array>
#include <memory>
#include <optional>
#include <string_view>

#include "quarrix/util/directory.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/path.hpp"

namespace quarrix::probes::detail {

namespace {

constexpr std::array<std::string_view, 4> kHeaderSuffixes{".v", ".sv", ".vh", ".svh"};

void append(std::string& text, std::string_view part) { text.append(part).push_back('\0'); }

void append(std::string& text, const Digest128& digest) { text += digest.bytes(); }

}  // namespace

Digest128 InputDigests::of_file(const std::string& path) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto it = files_.find(path); it != files_.end()) return it->second;
  }
  const std::optional<std::string> bytes = util::read_file_bytes(path);
  // An unreadable file (gone, too large) gets a digest no content can have.
  const Digest128 digest = bytes ? digest128(*bytes) : Digest128{};
  std::lock_guard<std::mutex> lock(mutex_);
  return files_.emplace(path, digest).first->second;
}

Digest128 InputDigests::of_directory(const std::string& dir) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto it = directories_.find(dir); it != directories_.end()) return it->second;
  }
  std::string text;
  const auto listing = util::list_directory(dir);
  for (const auto& entry : *listing) {
    if (entry.kind != util::EntryKind::regular && entry.kind != util::EntryKind::link_to_regular) continue;
    const std::string suffix = util::path_suffix_lower(entry.name);
    bool header = false;
    for (const auto wanted : kHeaderSuffixes) header = header || suffix == wanted;
    if (!header) continue;
    append(text, entry.name);
    append(text, of_file(util::join_path(dir, entry.name)));
  }
  const Digest128 digest = digest128(text);
  std::lock_guard<std::mutex> lock(mutex_);
  return directories_.emplace(dir, digest).first->second;
}

Digest128 InputDigests::of_command(const std::vector<std::string>& argv) {
  std::string text;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    const std::string& arg = argv[i];
    std::optional<std::string> dir;
    if ((arg == "-I" || arg == "-y") && i + 1 < argv.size())
      dir = argv[++i];
    else if (arg.size() > 2 && (arg.starts_with("-I") || arg.starts_with("-y")))
      dir = arg.substr(2);
    if (dir) {
      append(text, "dir " + *dir);
      append(text, of_directory(*dir));
    } else if (!arg.starts_with("-") && util::is_regular_file(arg)) {
      append(text, "file " + arg);
      append(text, of_file(arg));
    }
  }
  return digest128(text);
}

}  // namespace quarrix::probes::detail
