#include <quarrix/resolver/source_walk.hpp>

#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>
#include <unordered_set>

#include <quarrix/hdl/language.hpp>
#include <quarrix/resolver/gitignore.hpp>
#include <quarrix/util/directory.hpp>
#include <quarrix/util/file.hpp>
#include <quarrix/util/path.hpp>

namespace quarrix::resolver {
namespace {

namespace fs = std::filesystem;

std::string absolute_path(const std::string& path) {
  std::error_code ec;
  const fs::path abs = fs::absolute(path, ec);
  return util::normalize_path(ec ? path : abs.string());
}

class Walk {
 public:
  Walk(const std::vector<WildcardPattern>& excludes, bool respect_gitignore, std::vector<SourceFile>& out,
       std::vector<LeftOut>* left_out)
      : excludes_(excludes), respect_gitignore_(respect_gitignore), out_(out), left_out_(left_out) {}

  void root(const std::string& root) {
    const std::string base = util::normalize_path(root);
    if (!util::is_directory(base)) return;
    const std::string root_name = util::path_name(base);
    // .gitignore rules speak of absolute paths, so that an ancestor's rules
    // and the root's own compare like with like.
    const std::string abs_base = respect_gitignore_ ? absolute_path(base) : std::string();
    ignores_.clear();
    if (respect_gitignore_) load_ancestors(abs_base);

    struct Frame {
      std::string rel;                                        // "" for the root
      std::shared_ptr<const util::DirectoryListing> entries;  // in name order
      std::size_t ignores;                                    // rule files in scope when the frame was entered
      std::size_t next = 0;
    };
    std::vector<Frame> stack;
    const std::size_t outer = ignores_.size();
    if (respect_gitignore_) push_ignore(abs_base);
    stack.push_back({"", util::list_directory(base), outer});
    while (!stack.empty()) {
      Frame& top = stack.back();
      if (top.next == top.entries->size()) {
        ignores_.erase(ignores_.begin() + static_cast<std::ptrdiff_t>(top.ignores), ignores_.end());
        stack.pop_back();
        continue;
      }
      const util::DirectoryEntry& e = (*top.entries)[top.next++];
      // Links to directories are never followed; other links count as files.
      if (e.kind == util::EntryKind::unknown || e.kind == util::EntryKind::link_to_directory) continue;
      const bool directory = e.kind == util::EntryKind::directory;
      std::string rel = top.rel.empty() ? e.name : top.rel + "/" + e.name;
      if (const WildcardPattern* by = excluded(e.name, rel, root_name, directory)) {
        if (left_out_ && (directory || hdl::language_of_path(e.name)))
          left_out_->push_back({util::join_path(base, rel), "excluded by pattern " + by->text()});
        continue;
      }
      if (directory && e.name == ".git") continue;
      if (respect_gitignore_ && git_ignored(util::join_path(abs_base, rel), directory)) continue;
      std::string path = util::join_path(base, rel);
      if (directory) {
        const std::size_t before = ignores_.size();
        if (respect_gitignore_) push_ignore(util::join_path(abs_base, rel));
        auto entries = util::list_directory(path);
        stack.push_back({std::move(rel), std::move(entries), before});  // invalidates `top`
        continue;
      }
      const auto language = hdl::language_of_path(e.name);
      if (language && seen_.insert(path).second) out_.push_back({std::move(path), *language});
    }
  }

 private:
  // The first pattern that leaves the entry out, or null. The pattern sees the
  // name and the paths, and for a file each of them also without its suffix
  // ("glbl" names the file glbl.v).
  const WildcardPattern* excluded(const std::string& name, const std::string& rel, const std::string& root_name,
                                  bool directory) const {
    if (excludes_.empty()) return nullptr;
    std::string rooted;
    std::string_view subjects[6];
    std::size_t count = 0;
    subjects[count++] = name;
    subjects[count++] = rel;
    if (!root_name.empty() && root_name != "." && root_name != "..") subjects[count++] = rooted = root_name + "/" + rel;
    const std::size_t suffix = directory ? 0 : util::path_suffix(name).size();
    if (suffix != 0)
      for (std::size_t k = 0, n = count; k < n; ++k)
        subjects[count++] = subjects[k].substr(0, subjects[k].size() - suffix);
    for (const WildcardPattern& p : excludes_)
      for (std::size_t k = 0; k < count; ++k)
        if (p.matches(subjects[k])) return &p;
    return nullptr;
  }

  void push_ignore(const std::string& dir) {
    if (std::optional<GitignoreFile> rules = GitignoreFile::load(dir)) ignores_.push_back(std::move(*rules));
  }

  // The .gitignore files from the enclosing work tree's top down to the
  // root's parent; none when the root is not inside a work tree.
  void load_ancestors(const std::string& abs_root) {
    std::vector<std::string> chain;
    std::string dir = abs_root;
    bool in_work_tree = util::exists(util::join_path(dir, ".git"));
    while (!in_work_tree) {
      const std::string parent = util::normalize_path(fs::path(dir).parent_path().string());
      if (parent == dir || parent.empty()) break;
      dir = parent;
      chain.push_back(dir);
      in_work_tree = util::exists(util::join_path(dir, ".git"));
    }
    if (!in_work_tree) return;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) push_ignore(*it);
  }

  bool git_ignored(const std::string& abs_path, bool directory) const {
    for (auto it = ignores_.rbegin(); it != ignores_.rend(); ++it) {
      if (const std::optional<bool> verdict = it->ignored(abs_path, directory)) return *verdict;
    }
    return false;
  }

  const std::vector<WildcardPattern>& excludes_;
  const bool respect_gitignore_;
  std::vector<SourceFile>& out_;
  std::vector<LeftOut>* left_out_;
  std::vector<GitignoreFile> ignores_;  // innermost last
  std::unordered_set<std::string> seen_;
};

}  // namespace

std::vector<SourceFile> find_sources(const std::vector<std::string>& roots,
                                     const std::vector<WildcardPattern>& excludes, bool respect_gitignore,
                                     std::vector<LeftOut>* left_out) {
  std::vector<SourceFile> out;
  Walk walk(excludes, respect_gitignore, out, left_out);
  for (const std::string& root : roots) walk.root(root);
  return out;
}

}  // namespace quarrix::resolver
