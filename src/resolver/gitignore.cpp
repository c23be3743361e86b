#include <quarrix/resolver/gitignore.hpp>

#include <algorithm>

#include <quarrix/util/file.hpp>
#include <quarrix/util/path.hpp>
#include <quarrix/util/text.hpp>

namespace quarrix::resolver {
namespace {

std::vector<std::string_view> split_slash(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  while (true) {
    const std::size_t slash = s.find('/', start);
    const std::string_view part =
        s.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    if (!part.empty()) out.push_back(part);
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return out;
}

}  // namespace

GitignoreFile::GitignoreFile(std::string dir, std::string_view content) : dir_(std::move(dir)) {
  for (const std::string& raw : util::split(content, "\n")) {
    std::string_view line = raw;
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t') &&
           !(line.size() >= 2 && line[line.size() - 2] == '\\')) {
      line.remove_suffix(1);
    }
    if (line.empty() || line.front() == '#') continue;
    Rule rule;
    if (line.front() == '!') {
      rule.negated = true;
      line.remove_prefix(1);
    } else if (line.size() >= 2 && line.front() == '\\' && (line[1] == '#' || line[1] == '!')) {
      line.remove_prefix(1);
    }
    if (!line.empty() && line.back() == '/') {
      rule.directory_only = true;
      line.remove_suffix(1);
    }
    rule.anchored = line.find('/') != std::string_view::npos;
    for (std::string_view part : split_slash(line)) {
      if (part == "**") {
        rule.segments.emplace_back(std::nullopt);
      } else {
        rule.segments.emplace_back(WildcardPattern(part));
      }
    }
    if (!rule.segments.empty()) rules_.push_back(std::move(rule));
  }
}

std::optional<GitignoreFile> GitignoreFile::load(const std::string& dir) {
  const std::optional<std::string> text = util::read_text_file(util::join_path(dir, ".gitignore"));
  if (!text) return std::nullopt;
  GitignoreFile file(dir, *text);
  if (file.rules_.empty()) return std::nullopt;
  return file;
}

// Segment-wise match where "**" spans zero or more components: a table over
// (pattern position, path position), no recursion.
bool GitignoreFile::match_segments(const std::vector<std::optional<WildcardPattern>>& pattern,
                                   const std::vector<std::string_view>& parts) {
  const std::size_t np = pattern.size(), ns = parts.size();
  // reach[j]: the first i pattern segments can consume exactly the first j parts.
  std::vector<char> reach(ns + 1, 0), next(ns + 1, 0);
  reach[0] = 1;
  for (std::size_t i = 0; i < np; ++i) {
    std::fill(next.begin(), next.end(), 0);
    if (!pattern[i]) {
      // A trailing "**" needs at least one component: "a/**" is what lies in a.
      const bool trailing = i + 1 == np;
      char any = 0;
      for (std::size_t j = 0; j <= ns; ++j) {
        if (!trailing) any |= reach[j];
        next[j] = any;
        if (trailing) any |= reach[j];
      }
    } else {
      for (std::size_t j = 0; j < ns; ++j) {
        if (reach[j] && pattern[i]->matches(parts[j])) next[j + 1] = 1;
      }
    }
    reach.swap(next);
  }
  return reach[ns] != 0;
}

std::optional<bool> GitignoreFile::ignored(std::string_view path, bool directory) const {
  if (!util::starts_with(path, dir_)) return std::nullopt;
  std::string_view rel = path.substr(dir_.size());
  if (!rel.empty() && rel.front() != '/' && !dir_.empty() && dir_.back() != '/') return std::nullopt;
  const std::vector<std::string_view> parts = split_slash(rel);
  if (parts.empty()) return std::nullopt;
  for (auto rule = rules_.rbegin(); rule != rules_.rend(); ++rule) {
    if (rule->directory_only && !directory) continue;
    const bool hit = rule->anchored ? match_segments(rule->segments, parts)
                                    : !rule->segments.front() || rule->segments.front()->matches(parts.back());
    if (hit) return !rule->negated;
  }
  return std::nullopt;
}

}  // namespace quarrix::resolver
