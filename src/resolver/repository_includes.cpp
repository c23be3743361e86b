#include <quarrix/resolver/repository_includes.hpp>

#include <quarrix/resolver/include_search.hpp>
#include <quarrix/util/directory.hpp>
#include <quarrix/util/file.hpp>
#include <quarrix/util/path.hpp>
#include <quarrix/util/text.hpp>

namespace quarrix::resolver {

namespace {

// A repository with more entries than this is searched by steps 1 and 2 only
// beyond them: a hostile tree must not make every scan list millions of files.
constexpr std::size_t kMaxWalkedEntries = 200000;

std::string parent_of(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return std::string();
  return slash == 0 ? std::string("/") : std::string(path.substr(0, slash));
}

}  // namespace

RepositoryIncludes::RepositoryIncludes(std::string root)
    : root_(collapse_path(root).value_or(root)), resolved_root_(util::resolved_path(root.empty() ? "." : root)) {}

// Lexically: "" stands for the current directory.
bool RepositoryIncludes::inside(std::string_view path) const {
  if (root_.empty()) return !util::is_absolute_path(path);
  return util::lies_within(path, root_);
}

// The collapsed path when it names a regular file inside the repository.
std::optional<std::string> RepositoryIncludes::accept(const std::string& path) const {
  if (!resolved_root_) return std::nullopt;
  const std::optional<std::string> collapsed = collapse_path(path);
  if (!collapsed || collapsed->empty() || !inside(*collapsed)) return std::nullopt;
  if (!util::is_regular_file(*collapsed)) return std::nullopt;
  const std::optional<std::string> resolved = util::resolved_path(*collapsed);
  if (!resolved || !util::lies_within(*resolved, *resolved_root_)) return std::nullopt;
  return collapsed;
}

void RepositoryIncludes::walk() {
  walked_ = true;
  std::size_t entries = 0;
  std::vector<std::string> todo{root_};
  while (!todo.empty()) {
    const std::string dir = std::move(todo.back());
    todo.pop_back();
    const auto listing = util::list_directory(dir.empty() ? "." : dir);
    std::vector<std::string> below;
    for (const util::DirectoryEntry& entry : *listing) {
      if (++entries > kMaxWalkedEntries) return;
      const std::string path = dir.empty() ? entry.name : dir + "/" + entry.name;
      if (entry.kind == util::EntryKind::directory) {
        if (entry.name != ".git") below.push_back(path);
      } else if (entry.kind == util::EntryKind::regular || entry.kind == util::EntryKind::link_to_regular) {
        by_name_[entry.name].push_back(walked_files_.size());
        walked_files_.push_back(path);
      }
    }
    // Depth first, each directory's entries in name order: path order.
    todo.insert(todo.end(), below.rbegin(), below.rend());
  }
}

std::optional<std::string> RepositoryIncludes::find(std::string_view name, std::string_view includer) {
  if (name.empty() || name.back() == '/' || util::is_absolute_path(name)) return std::nullopt;
  const std::optional<std::string> from_dir = collapse_path(parent_of(includer));
  if (!from_dir || !(inside(*from_dir) || *from_dir == root_)) return std::nullopt;
  const auto below = [](const std::string& dir, std::string_view rel) {
    return dir.empty() ? std::string(rel) : dir + "/" + std::string(rel);
  };
  if (auto path = accept(below(*from_dir, name))) return path;
  for (std::string dir = *from_dir;; dir = parent_of(dir)) {
    const std::string include_dir = below(dir, "include");
    if (auto path = accept(below(include_dir, name))) return path;
    if (dir == root_ || dir.empty()) break;
  }

  const std::optional<std::string> tail = collapse_path(name);
  if (!tail || tail->empty()) return std::nullopt;
  if (!walked_) walk();
  const auto candidates = by_name_.find(util::path_name(*tail));
  if (candidates == by_name_.end()) return std::nullopt;
  const std::vector<std::string> from = util::path_parts(*from_dir);
  std::optional<std::string> best;
  std::size_t best_common = 0;
  for (const std::size_t file : candidates->second) {
    const std::string& path = walked_files_[file];
    if (path.size() <= tail->size() || !util::ends_with(path, *tail) || path[path.size() - tail->size() - 1] != '/')
      continue;
    const std::size_t common = util::common_parts_length(from, util::parent_parts(path));
    if (best && common <= best_common) continue;
    std::optional<std::string> accepted = accept(path);
    if (!accepted) continue;
    best = std::move(accepted);
    best_common = common;
  }
  return best;
}

}  // namespace quarrix::resolver
