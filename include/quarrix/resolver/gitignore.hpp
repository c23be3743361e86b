#pragma once
// The rules of one .gitignore file, as git applies them: blank lines and "#"
// comments skipped, "!" re-includes, a trailing "/" matches directories only,
// a "/" at the start or in the middle anchors the pattern to the file's
// directory (otherwise it matches a name at any depth), "*", "?" and "[...]"
// stay within one path component and "**" spans any number of them.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <quarrix/resolver/wildcard.hpp>

namespace quarrix::resolver {

class GitignoreFile {
 public:
  // `dir` is the directory holding the file; `content` its text.
  GitignoreFile(std::string dir, std::string_view content);

  // The rules of `dir`/.gitignore; nullopt when it is absent, unreadable or
  // holds no rule.
  static std::optional<GitignoreFile> load(const std::string& dir);

  // The verdict of the last rule matching `path` (a path below the directory,
  // spelled from the same base): true ignored, false re-included, nullopt
  // when no rule matches.
  std::optional<bool> ignored(std::string_view path, bool directory) const;

 private:
  struct Rule {
    std::vector<std::optional<WildcardPattern>> segments;  // nullopt: "**"
    bool negated = false;
    bool directory_only = false;
    bool anchored = false;
  };
  static bool match_segments(const std::vector<std::optional<WildcardPattern>>& pattern,
                             const std::vector<std::string_view>& parts);

  std::string dir_;
  std::vector<Rule> rules_;
};

}  // namespace quarrix::resolver
