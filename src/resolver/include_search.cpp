#include <quarrix/resolver/include_search.hpp>

#include <filesystem>

#include <quarrix/util/path.hpp>
#include <quarrix/util/text.hpp>

namespace quarrix::resolver {

std::optional<std::string> collapse_path(std::string_view path) {
  const bool absolute = !path.empty() && path.front() == '/';
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(start, end - start);
    if (part == "..") {
      if (parts.empty()) return std::nullopt;
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out = absolute ? "/" : "";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out.push_back('/');
    out.append(parts[i]);
  }
  return out;
}

IncludeSearch::IncludeSearch(const std::vector<std::string>& files, std::vector<std::string> include_dirs)
    : include_dirs_(std::move(include_dirs)) {
  collapsed_.reserve(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    collapsed_.push_back(collapse_path(files[i]).value_or(std::string()));
    const std::string& path = collapsed_.back();
    if (path.empty()) continue;
    by_path_.emplace(path, i);
    by_name_[util::path_name(path)].push_back(i);
  }
}

std::optional<std::size_t> IncludeSearch::at(const std::string& path) const {
  const std::optional<std::string> collapsed = collapse_path(path);
  if (!collapsed) return std::nullopt;
  const auto it = by_path_.find(*collapsed);
  return it == by_path_.end() ? std::nullopt : std::optional<std::size_t>(it->second);
}

std::optional<IncludeSearch::Found> IncludeSearch::find(std::string_view name, std::string_view includer) const {
  if (name.empty() || name.back() == '/') return std::nullopt;
  if (util::is_absolute_path(name)) {
    const std::optional<std::size_t> file = at(std::string(name));
    return file ? std::optional<Found>(Found{*file, std::string()}) : std::nullopt;
  }
  const std::string includer_dir = util::path_string(std::filesystem::path(includer).parent_path());
  if (const auto file = at(util::join_path(includer_dir.empty() ? "." : includer_dir, name)))
    return Found{*file, includer_dir};
  for (const std::string& dir : include_dirs_)
    if (const auto file = at(util::join_path(dir, name))) return Found{*file, dir};

  // A name that climbs out of its directory is only ever meant relative to one.
  const std::optional<std::string> tail = collapse_path(name);
  if (!tail || tail->empty()) return std::nullopt;
  const auto candidates = by_name_.find(util::path_name(*tail));
  if (candidates == by_name_.end()) return std::nullopt;
  for (const std::size_t file : candidates->second) {
    const std::string& path = collapsed_[file];
    if (path.size() <= tail->size() || !util::ends_with(path, *tail) || path[path.size() - tail->size() - 1] != '/')
      continue;
    std::string dir = path.substr(0, path.size() - tail->size() - 1);
    return Found{file, dir.empty() ? std::string("/") : std::move(dir)};
  }
  return std::nullopt;
}

}  // namespace quarrix::resolver
