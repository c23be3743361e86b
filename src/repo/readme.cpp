#include "quarrix/repo/readme.hpp"

#include "quarrix/util/file.hpp"
#include "quarrix/util/path.hpp"

namespace quarrix::repo {

std::optional<std::string> readme_text(const std::string& repo_path) {
  for (const char* name : {"README.md", "README.rst", "README"}) {
    const std::string path = util::join_path(repo_path, name);
    if (!util::exists(path)) continue;
    if (std::optional<std::string> text = util::read_text_file(path)) return text;
  }
  return std::nullopt;
}

}  // namespace quarrix::repo
