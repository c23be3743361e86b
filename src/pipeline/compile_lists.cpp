#include "compile_lists.hpp"

#include <algorithm>
#include <set>

#include "quarrix/util/file.hpp"
#include "quarrix/util/path.hpp"

namespace quarrix::pipeline::detail {

namespace {

// Visits the plain nodes below `node` (itself last) in post-order, skipping
// those `ready` already knows: `make` finds the dependencies of each made.
// A plain graph has no cycle; an explicit stack keeps its depth off the C++ one.
template <class Ready, class Make>
void post_order(const resolver::DependencyResolver& own, std::uint32_t node, Ready ready, Make make) {
  if (ready(node)) return;
  std::vector<std::pair<std::uint32_t, std::size_t>> stack{{node, 0}};
  while (!stack.empty()) {
    auto& [unit, next] = stack.back();
    const auto deps = own.unit_node(unit).deps;
    if (next < deps.size()) {
      const std::uint32_t dep = deps[next++];
      if (!ready(dep)) stack.emplace_back(dep, 0);  // invalidates `unit` and `next`
      continue;
    }
    make(unit);
    stack.pop_back();
  }
}

std::vector<std::string> strings_of(const Json& list) {
  std::vector<std::string> out;
  for (const Json& item : list) out.push_back(item.get<std::string>());
  return out;
}

}  // namespace

CompileLists::CompileLists(const Resolver& resolver, const resolver::DependencyResolver* own, std::string repo_path,
                           std::vector<std::string> dependency_dirs)
    : resolver_(resolver), own_(own), repo_path_(std::move(repo_path)), dependency_dirs_(std::move(dependency_dirs)) {
  if (!own_) return;
  for (const std::string& file : own_->files()) {
    rel_.push_back(util::relative_to_root(file, repo_path_));
    by_rel_.try_emplace(rel_.back(), static_cast<FileId>(rel_.size() - 1));
  }
  const std::size_t units = own_->unit_count();
  stamp_.assign(units, 0);
  scopes_.resize(units);
  node_vendor_.resize(units);
}

FileId CompileLists::intern(const std::string& rel) {
  const auto [it, fresh] = by_rel_.try_emplace(rel, static_cast<FileId>(rel_.size()));
  if (fresh) rel_.push_back(rel);
  return it->second;
}

std::optional<std::size_t> CompileLists::dependency_of(FileId file) {
  if (dependency_dirs_.empty()) return std::nullopt;
  if (dependency_of_.size() <= file) dependency_of_.resize(rel_.size());
  if (!dependency_of_[file]) {
    // A dependency's file lies outside the repository, so its path is absolute.
    std::optional<std::size_t> found;
    const std::string& path = rel_[file];
    for (std::size_t d = 0; d < dependency_dirs_.size() && !found; ++d)
      if (util::is_absolute_path(path) && util::lies_within(path, dependency_dirs_[d])) found = d;
    dependency_of_[file] = found;
  }
  return *dependency_of_[file];
}

FileIds CompileLists::own_files(const FileIds& list, FileIds* taken) {
  if (dependency_dirs_.empty()) return list;
  FileIds own;
  for (const FileId file : list) {
    if (!dependency_of(file))
      own.push_back(file);
    else if (taken)
      taken->push_back(file);
  }
  return own;
}

std::optional<std::uint32_t> CompileLists::plain_node(const std::string& name) const {
  if (!own_) return std::nullopt;
  const std::optional<std::uint32_t> node = own_->unit_index(name);
  if (!node || !own_->unit_node(*node).plain) return std::nullopt;
  return node;
}

FileIds CompileLists::files(const std::string& name, const std::string& rel_path) {
  if (const auto node = plain_node(name)) return walk_plain(*node);
  if (own_) {
    try {
      return own_->compilation_order_files(name);
    } catch (const UnknownUnitError&) {
    } catch (const DependencyCycleError&) {
    }
    return {intern(rel_path)};
  }
  if (const auto it = host_lists_.find(name); it != host_lists_.end()) return it->second;
  FileIds ids;
  try {
    for (const std::string& path : resolver_.compilation_order(name))
      ids.push_back(intern(util::relative_to_root(path, repo_path_)));
  } catch (const UnknownUnitError&) {
    ids = {intern(rel_path)};
  } catch (const DependencyCycleError&) {
    ids = {intern(rel_path)};
  }
  return host_lists_.emplace(name, std::move(ids)).first->second;
}

// Depth-first post-order; each unit of a plain list is alone in its file.
FileIds CompileLists::walk_plain(std::uint32_t node) {
  if (++walk_ == 0) {  // the stamp wrapped: forget every mark once
    std::fill(stamp_.begin(), stamp_.end(), 0);
    walk_ = 1;
  }
  FileIds out;
  std::vector<std::pair<std::uint32_t, std::size_t>> stack{{node, 0}};
  stamp_[node] = walk_;
  while (!stack.empty()) {
    auto& [unit, next] = stack.back();
    const auto n = own_->unit_node(unit);
    if (next < n.deps.size()) {
      const std::uint32_t dep = n.deps[next++];
      if (stamp_[dep] != walk_) {
        stamp_[dep] = walk_;
        stack.emplace_back(dep, 0);  // invalidates `unit` and `next`
      }
      continue;
    }
    out.push_back(n.file);
    stack.pop_back();
  }
  return out;
}

const std::vector<std::string>& CompileLists::parent_parts(FileId file) {
  if (parent_parts_.size() <= file) parent_parts_.resize(rel_.size());
  if (!parent_parts_[file]) parent_parts_[file] = util::parent_parts(util::join_path(repo_path_, rel_[file]));
  return *parent_parts_[file];
}

// The common prefix of a set's directories is that of two of them: a pair of
// the union is one of the two pairs or a file of each.
const CompileLists::Scope& CompileLists::scope(std::uint32_t node) {
  post_order(
      *own_, node, [&](std::uint32_t u) { return scopes_[u].has_value(); },
      [&](std::uint32_t u) {
        const auto n = own_->unit_node(u);
        Scope s{n.file, n.file, parent_parts(n.file).size()};
        for (const std::uint32_t dep : n.deps) {
          const Scope& t = *scopes_[dep];
          const std::size_t across = util::common_parts_length(parent_parts(s.a), parent_parts(t.a));
          if (across < s.common && across < t.common)
            s = {s.a, t.a, across};
          else if (t.common < s.common)
            s = t;
        }
        scopes_[u] = s;
      });
  return *scopes_[node];
}

std::vector<std::string> CompileLists::scope_of(std::uint32_t node) {
  const Scope& s = scope(node);
  if (s.a == s.b) return {rel_[s.a]};
  return {rel_[s.a], rel_[s.b]};
}

const std::vector<std::string>& CompileLists::file_vendor_deps(FileId file,
                                                               const std::function<Json(const std::string&)>& in_file) {
  if (file_vendor_.size() <= file) file_vendor_.resize(rel_.size());
  if (!file_vendor_[file]) {
    const std::string& rel = rel_[file];
    file_vendor_[file] = strings_of(in_file(util::is_absolute_path(rel) ? rel : util::join_path(repo_path_, rel)));
  }
  return *file_vendor_[file];
}

const std::vector<std::string>& CompileLists::vendor_deps_of(std::uint32_t node,
                                                             const std::function<Json(const std::string&)>& in_file) {
  static const auto kNone = std::make_shared<const std::vector<std::string>>();
  post_order(
      *own_, node, [&](std::uint32_t u) { return node_vendor_[u] != nullptr; },
      [&](std::uint32_t u) {
        const auto n = own_->unit_node(u);
        const std::vector<std::string>& own = file_vendor_deps(n.file, in_file);
        std::vector<const std::shared_ptr<const std::vector<std::string>>*> found;
        for (const std::uint32_t dep : n.deps)
          if (!node_vendor_[dep]->empty()) found.push_back(&node_vendor_[dep]);
        if (own.empty() && found.size() <= 1) {  // the same set as below: shared
          node_vendor_[u] = found.empty() ? kNone : *found.front();
          return;
        }
        std::set<std::string> all(own.begin(), own.end());
        for (const auto* set : found) all.insert((*set)->begin(), (*set)->end());
        node_vendor_[u] = std::make_shared<const std::vector<std::string>>(all.begin(), all.end());
      });
  return *node_vendor_[node];
}

std::vector<std::string> CompileLists::vendor_deps_of(const FileIds& files,
                                                      const std::function<Json(const std::string&)>& in_file) {
  std::set<std::string> all;
  for (const FileId file : files) {
    const std::vector<std::string>& deps = file_vendor_deps(file, in_file);
    all.insert(deps.begin(), deps.end());
  }
  return {all.begin(), all.end()};
}

}  // namespace quarrix::pipeline::detail
