#include <quarrix/repo/repo_tree.hpp>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include <quarrix/util/directory.hpp>
#include <quarrix/util/path.hpp>
#include <quarrix/util/text.hpp>

namespace quarrix::repo {

namespace fs = std::filesystem;

std::pair<std::size_t, std::size_t> range_below(const std::vector<std::string>& sorted_paths,
                                                std::string_view dir_rel) {
  if (dir_rel.empty()) return {0, sorted_paths.size()};
  const std::string prefix = std::string(dir_rel) + "/";
  const auto first = std::lower_bound(sorted_paths.begin(), sorted_paths.end(), dir_rel,
                                      [](const std::string& p, std::string_view d) { return util::path_less(p, d); });
  const auto last = std::partition_point(first, sorted_paths.end(),
                                         [&](const std::string& p) { return util::starts_with(p, prefix); });
  return {static_cast<std::size_t>(first - sorted_paths.begin()),
          static_cast<std::size_t>(last - sorted_paths.begin())};
}

namespace {

// Lists the HDL files below `start` into `out`, each as `rel_prefix` + its
// path below `start`. Unreadable directories are skipped; nothing throws.
void walk(const std::string& start, const std::string& rel_prefix, TreeListing& out) {
  std::vector<std::pair<std::string, std::string>> pending{{start, rel_prefix}};
  while (!pending.empty()) {
    auto [dir, rel] = std::move(pending.back());
    pending.pop_back();
    const auto listing = util::list_directory(dir);
    for (const util::DirectoryEntry& entry : *listing) {
      if (entry.kind == util::EntryKind::directory) {
        pending.emplace_back(dir + "/" + entry.name, rel.empty() ? entry.name : rel + "/" + entry.name);
        continue;
      }
      const std::size_t ext = hdl::hdl_suffix_index(entry.name);
      if (ext == hdl::kHdlSuffixes.size()) continue;
      // A link counts as the file it points to; a link to a directory is
      // neither descended into nor kept.
      if (entry.kind == util::EntryKind::regular || entry.kind == util::EntryKind::link_to_regular)
        out[ext].push_back(rel.empty() ? entry.name : rel + "/" + entry.name);
    }
  }
  for (auto& group : out)
    std::sort(group.begin(), group.end(),
              [](const std::string& a, const std::string& b) { return util::path_less(a, b); });
}

// True when a component from the root down to `dir_rel` is a symbolic link,
// which a walk of the root would not descend into.
bool reached_through_link(const std::string& root, std::string_view dir_rel) {
  fs::path here(root);
  for (const std::string& part : util::path_parts(dir_rel)) {
    here /= part;
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(here, ec))) return true;
  }
  return false;
}

}  // namespace

RepoTree::RepoTree(std::string repo_path, bool share_root_listing)
    : root_(std::move(repo_path)), share_root_listing_(share_root_listing) {}

const TreeListing& RepoTree::listing() {
  if (!listed_) {
    walk(root_, "", listing_);
    listed_ = true;
  }
  return listing_;
}

RepoTree::Walk RepoTree::walk_from(std::string_view dir_rel) {
  if (share_root_listing_ && dir_rel.empty()) return {&listing(), "", true};
  if (const auto found = detached_.find(dir_rel); found != detached_.end()) return {&found->second, "", false};

  if (share_root_listing_) {
    auto known = through_link_.find(dir_rel);
    if (known == through_link_.end())
      known = through_link_.emplace(std::string(dir_rel), reached_through_link(root_, dir_rel)).first;
    if (!known->second) return {&listing(), std::string(dir_rel), true};
  }

  TreeListing own;
  walk(dir_rel.empty() ? root_ : util::join_path(root_, dir_rel), std::string(dir_rel), own);
  const auto [pos, inserted] = detached_.emplace(std::string(dir_rel), std::move(own));
  return {&pos->second, "", false};
}

}  // namespace quarrix::repo
