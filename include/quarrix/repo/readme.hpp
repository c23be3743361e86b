#pragma once
// The repository's README: the first of README.md, README.rst and README in
// the root that can be read, as text.

#include <optional>
#include <string>

namespace quarrix::repo {

std::optional<std::string> readme_text(const std::string& repo_path);

}  // namespace quarrix::repo
