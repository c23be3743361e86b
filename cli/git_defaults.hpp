#pragma once
// Defaults of --url, --tag and --commit read from a git checkout.

#include <string>

namespace quarrix::cli {

struct GitInfo {
  std::string url;     // origin's (else the first remote's) URL, without user info
  std::string tag;     // a tag pointing at HEAD, else the branch, else ""
  std::string commit;  // HEAD's SHA
};

// Empty fields when `repo` is not the top directory of a git work tree or git
// is not on PATH. git runs from an argument vector with a time limit.
GitInfo read_git_info(const std::string& repo);

}  // namespace quarrix::cli
