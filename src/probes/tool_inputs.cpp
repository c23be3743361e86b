#include "tool_inputs.hpp"

#include <optional>
#include <string_view>

#include "quarrix/util/file.hpp"

namespace quarrix::probes::detail {

namespace {

void append(std::string& text, std::string_view part) { text.append(part).push_back('\0'); }

}  // namespace

Digest128 InputDigests::of_file(const std::string& path) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto it = files_.find(path); it != files_.end()) return it->second;
  }
  const std::optional<std::string> bytes = util::read_file_bytes(path);
  // An unreadable or absent file (gone, too large) gets a digest no content can have.
  const Digest128 digest = bytes ? digest128(*bytes) : Digest128{};
  std::lock_guard<std::mutex> lock(mutex_);
  return files_.emplace(path, digest).first->second;
}

Digest128 InputDigests::of_command(const std::vector<std::string>& argv, const std::vector<std::string>& reads) {
  std::string text;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    const std::string& arg = argv[i];
    if (arg.starts_with("-") || !util::is_regular_file(arg)) continue;
    append(text, "file " + arg);
    text += of_file(arg).bytes();
  }
  for (const std::string& path : reads) {
    append(text, "reads " + path);
    text += of_file(path).bytes();
  }
  return digest128(text);
}

}  // namespace quarrix::probes::detail
