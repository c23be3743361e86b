#include <quarrix/repo/define_carriers.hpp>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <system_error>

#include <quarrix/hdl/language.hpp>
#include <quarrix/hdl/verilog_directives.hpp>
#include <quarrix/util/file.hpp>
#include <quarrix/util/path.hpp>
#include <quarrix/util/regex.hpp>
#include <quarrix/util/text.hpp>

namespace quarrix::repo {

const char* const kDefinePattern = "^\\s*`define\\s";
const char* const kTopDeclPattern = "^\\s*(?:module|interface|package|class|primitive|program)\\b";

bool is_define_only_text(std::string_view text) {
  static const util::Regex define_re(kDefinePattern, util::kMultiline);
  static const util::Regex top_decl_re(kTopDeclPattern, util::kMultiline);
  // A header with any other text (a function, a generate block) is a fragment
  // meant for the inside of a module: no tool takes it ahead of the sources.
  return define_re.search(text) && !top_decl_re.search(text) && hdl::is_directive_only_text(text);
}

namespace {

std::string parts_to_path(const std::vector<std::string>& parts, std::size_t first, std::size_t last) {
  std::string out;
  for (std::size_t i = first; i < last; ++i) {
    if (!out.empty() && out != "/") out.push_back('/');
    out += parts[i];
  }
  return out;
}

// The root-relative directory to walk for `scope_files` ("" for the root), or
// nullopt when the scope spans nothing inside the repository.
//
// The scope spans the common ancestor of its files' directories. When that
// ancestor lies above the root (absolute paths outside the repository), only
// its part under the root can hold carriers, so only the root is walked; a
// walk of the ancestor reaches the root only through real directories, never
// through links. A ".." below the root could leave the repository: no walk.
std::optional<std::string> walk_region(const std::string& root, const std::vector<std::string>& scope_files) {
  if (scope_files.empty()) return std::nullopt;
  std::vector<std::string> common;
  bool first = true;
  for (const std::string& file : scope_files) {
    const std::vector<std::string> dir = util::parent_parts(util::join_path(root, file));
    if (first) {
      common = dir;
      first = false;
      continue;
    }
    const bool dir_absolute = !dir.empty() && dir.front() == "/";
    const bool common_absolute = !common.empty() && common.front() == "/";
    if (dir_absolute != common_absolute) return std::nullopt;
    const auto diff = std::mismatch(common.begin(), common.end(), dir.begin(), dir.end());
    common.erase(diff.first, common.end());
  }

  const std::vector<std::string> root_parts = util::path_parts(root);
  const std::string common_path = common.empty() ? "." : parts_to_path(common, 0, common.size());
  if (!util::is_directory(common_path)) return std::nullopt;

  const std::size_t shared = static_cast<std::size_t>(
      std::mismatch(common.begin(), common.end(), root_parts.begin(), root_parts.end()).first - common.begin());
  if (shared == root_parts.size()) {
    // The ancestor is the root or lies below it.
    if (std::find(common.begin() + static_cast<std::ptrdiff_t>(shared), common.end(), "..") != common.end())
      return std::nullopt;
    return parts_to_path(common, shared, common.size());
  }
  if (shared != common.size()) return std::nullopt;  // disjoint from the root
  std::filesystem::path here(common_path);
  for (std::size_t i = shared; i < root_parts.size(); ++i) {
    if (root_parts[i] == "..") return std::nullopt;
    here /= root_parts[i];
    std::error_code ec;
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(here, ec))) return std::nullopt;
  }
  return std::string();
}

}  // namespace

const DefineCarrierIndex::FileFacts& DefineCarrierIndex::facts_of_resolved(const std::string& resolved,
                                                                           const std::string& path) {
  auto [it, fresh] = facts_by_resolved_.try_emplace(resolved);
  if (fresh) {
    auto facts = std::make_unique<FileFacts>();
    if (const util::FileText text = util::read_text(path)) {
      facts->carrier = is_define_only_text(*text);
      facts->macros = hdl::verilog_macros(*text);
    }
    it->second = std::move(facts);
  }
  return *it->second;
}

const DefineCarrierIndex::FileFacts* DefineCarrierIndex::facts_of_path(const std::string& path) {
  const auto [it, fresh] = facts_by_path_.try_emplace(path, nullptr);
  if (fresh) {
    const std::string at = util::join_path(tree_.root(), path);
    const std::optional<std::string> resolved = util::resolved_path(at);
    if (resolved && !hdl::is_vhdl_suffix(util::path_suffix_lower(path))) it->second = &facts_of_resolved(*resolved, at);
  }
  return it->second;
}

const DefineCarrierIndex::Carriers& DefineCarrierIndex::carriers_of(const TreeListing& listing) {
  if (const auto found = carriers_.find(&listing); found != carriers_.end()) return found->second;
  Carriers carriers;
  for (std::size_t ext = 0; ext < hdl::kVerilogSuffixCount; ++ext) {
    for (const std::string& rel : listing[ext]) {
      const std::string path = util::join_path(tree_.root(), rel);
      const std::optional<std::string> resolved = util::resolved_path(path);
      if (!resolved) continue;
      const FileFacts& facts = facts_of_resolved(*resolved, path);
      if (!facts.carrier) continue;
      carriers.rel[ext].push_back(rel);
      carriers.resolved[ext].push_back(*resolved);
      carriers.facts[ext].push_back(&facts);
    }
  }
  return carriers_.emplace(&listing, std::move(carriers)).first->second;
}

std::optional<DefineCarrierIndex::Region> DefineCarrierIndex::region_of(const std::vector<std::string>& scope_files) {
  const std::optional<std::string> region = walk_region(tree_.root(), scope_files);
  if (!region) return std::nullopt;
  const RepoTree::Walk walk = tree_.walk_from(*region);
  Region out{&carriers_of(*walk.listing), {}};
  bool any = false;
  for (std::size_t ext = 0; ext < hdl::kVerilogSuffixCount; ++ext) {
    out.ranges[ext] = range_below(out.carriers->rel[ext], walk.below);
    any = any || out.ranges[ext].first < out.ranges[ext].second;
  }
  if (!any) return std::nullopt;
  return out;
}

bool DefineCarrierIndex::any_in(const std::vector<std::string>& scope_files) {
  return region_of(scope_files).has_value();
}

std::vector<std::string> DefineCarrierIndex::collect(const std::vector<std::string>& scope_files) {
  const std::optional<Region> region = region_of(scope_files);
  if (!region) return {};

  // What the list's own files use and leave undefined; carriers in the list
  // are candidates, not users.
  std::vector<const FileFacts*> users;
  std::set<std::string_view> defined, needed;
  for (const std::string& file : scope_files) {
    const FileFacts* facts = facts_of_path(file);
    if (!facts || facts->carrier) continue;
    users.push_back(facts);
    defined.insert(facts->macros.defined.begin(), facts->macros.defined.end());
  }
  for (const FileFacts* facts : users)
    for (const std::string& used : facts->macros.used)
      if (!defined.count(used)) needed.insert(used);

  const Carriers& carriers = *region->carriers;
  std::array<std::vector<bool>, hdl::kVerilogSuffixCount> picked;
  for (std::size_t ext = 0; ext < hdl::kVerilogSuffixCount; ++ext)
    picked[ext].assign(region->ranges[ext].second - region->ranges[ext].first, false);
  // A picked carrier's own uses become needs: repeat until nothing new.
  for (bool grew = !needed.empty(); grew;) {
    grew = false;
    for (std::size_t ext = 0; ext < hdl::kVerilogSuffixCount; ++ext) {
      for (std::size_t i = region->ranges[ext].first; i < region->ranges[ext].second; ++i) {
        const std::size_t at = i - region->ranges[ext].first;
        if (picked[ext][at]) continue;
        const hdl::VerilogMacros& macros = carriers.facts[ext][i]->macros;
        if (std::none_of(macros.defined.begin(), macros.defined.end(),
                         [&](const std::string& name) { return needed.count(name) != 0; }))
          continue;
        picked[ext][at] = true;
        grew = true;
        for (const std::string& used : macros.used)
          if (!defined.count(used)) needed.insert(used);
      }
    }
  }

  std::vector<std::string> found;
  std::set<std::string_view> seen;
  for (std::size_t ext = 0; ext < hdl::kVerilogSuffixCount; ++ext) {
    for (std::size_t i = region->ranges[ext].first; i < region->ranges[ext].second; ++i) {
      if (!picked[ext][i - region->ranges[ext].first]) continue;
      if (!seen.insert(carriers.resolved[ext][i]).second) continue;
      found.push_back(carriers.rel[ext][i]);
    }
  }
  return found;
}

std::vector<std::string> collect_define_carriers(const std::string& repo_path,
                                                 const std::vector<std::string>& scope_files) {
  RepoTree tree(repo_path, /*share_root_listing=*/false);
  DefineCarrierIndex index(tree);
  return index.collect(scope_files);
}

}  // namespace quarrix::repo
