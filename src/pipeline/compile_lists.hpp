#pragma once
// The compile lists of one scan's units, built once and shared: a unit whose
// list is plain (resolver::DependencyResolver::ListNode) is its own file after
// the lists of the units it needs, so what the scan asks of it (the files'
// common directory, their vendor dependencies, which files it uses) is made
// from those units' answers; its files are listed only for a row or a tool
// check. Other units' lists come from the resolver's walk, each time they are
// needed; a host's resolver is asked once per unit and its answer kept.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <quarrix/pipeline/resolver_api.hpp>
#include <quarrix/resolver/dependency_resolver.hpp>
#include <quarrix/util/json.hpp>

namespace quarrix::pipeline::detail {

using FileId = std::uint32_t;
using FileIds = std::vector<FileId>;

class CompileLists {
 public:
  // `own`: our own resolver behind `resolver`, or null for a host's;
  // `dependency_dirs`: resolved directories of the repositories it depends on.
  CompileLists(const Resolver& resolver, const resolver::DependencyResolver* own, std::string repo_path,
               std::vector<std::string> dependency_dirs = {});

  // The path of a file relative to the repository when inside it.
  const std::string& path(FileId file) const { return rel_[file]; }
  // The file of a path (relative to the repository when inside it).
  FileId intern(const std::string& rel);
  // The dependency (index into dependency_dirs) a file lies in, if any.
  std::optional<std::size_t> dependency_of(FileId file);
  // `list` without the files of dependencies, and those apart, in order.
  FileIds own_files(const FileIds& list, FileIds* taken = nullptr);

  // The compile list of unit `name`, declared in `rel_path`: dependencies
  // first, its own file last; its own file alone when the resolver cannot
  // order it (unknown unit, cycle).
  FileIds files(const std::string& name, const std::string& rel_path);

  // The plain node of `name`, if its list is plain.
  std::optional<std::uint32_t> plain_node(const std::string& name) const;
  bool has_deps(std::uint32_t node) const { return !own_->unit_node(node).deps.empty(); }
  FileId own_file(std::uint32_t node) const { return own_->unit_node(node).file; }
  // Up to two files of a plain list whose directories have the same longest
  // common prefix as all of its files' (what a define-carrier scope asks).
  std::vector<std::string> scope_of(std::uint32_t node);
  // The sorted union of `in_file` over a plain list's files.
  const std::vector<std::string>& vendor_deps_of(std::uint32_t node,
                                                 const std::function<Json(const std::string&)>& in_file);
  // The sorted union of `in_file` over `files`.
  std::vector<std::string> vendor_deps_of(const FileIds& files, const std::function<Json(const std::string&)>& in_file);
  // Calls `use` once for each file of the plain lists of `node`'s
  // dependencies not given by an earlier call.
  template <class Use>
  void for_each_new_file_below(std::uint32_t node, Use&& use);

 private:
  FileIds walk_plain(std::uint32_t node);
  const std::vector<std::string>& file_vendor_deps(FileId file, const std::function<Json(const std::string&)>& in_file);
  const std::vector<std::string>& parent_parts(FileId file);

  struct Scope {
    FileId a, b;
    std::size_t common;  // length of the common prefix of their directories' parts
  };
  const Scope& scope(std::uint32_t node);

  const Resolver& resolver_;
  const resolver::DependencyResolver* own_;
  std::string repo_path_;
  std::vector<std::string> dependency_dirs_;
  std::vector<std::optional<std::optional<std::size_t>>> dependency_of_;  // per file, once asked
  std::vector<std::string> rel_;
  std::unordered_map<std::string, FileId> by_rel_;
  std::unordered_map<std::string, FileIds> host_lists_;  // a host resolver's answers
  std::vector<std::uint32_t> stamp_;                     // per node: the walk that reached it
  std::uint32_t walk_ = 0;
  std::vector<std::uint8_t> seen_below_;  // per node: given by for_each_new_file_below
  std::vector<std::optional<Scope>> scopes_;
  std::vector<std::shared_ptr<const std::vector<std::string>>> node_vendor_;
  std::vector<std::optional<std::vector<std::string>>> file_vendor_;
  std::vector<std::optional<std::vector<std::string>>> parent_parts_;
};

template <class Use>
void CompileLists::for_each_new_file_below(std::uint32_t node, Use&& use) {
  if (seen_below_.empty()) seen_below_.assign(stamp_.size(), 0);
  std::vector<std::uint32_t> todo(own_->unit_node(node).deps.begin(), own_->unit_node(node).deps.end());
  while (!todo.empty()) {
    const std::uint32_t next = todo.back();
    todo.pop_back();
    if (seen_below_[next]) continue;
    seen_below_[next] = 1;
    const auto n = own_->unit_node(next);
    use(n.file);
    todo.insert(todo.end(), n.deps.begin(), n.deps.end());
  }
}

}  // namespace quarrix::pipeline::detail
