#include "quarrix/pipeline/scan_repo.hpp"

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>

#include "compile_lists.hpp"
#include "quarrix/aggregate/entry_reach.hpp"
#include "quarrix/aggregate/repo_row.hpp"
#include "quarrix/aggregate/roles.hpp"
#include "quarrix/aggregate/subproject.hpp"
#include "quarrix/describe/chain.hpp"
#include "quarrix/describe/verdicts.hpp"
#include "quarrix/license/license.hpp"
#include "quarrix/repo/declarations.hpp"
#include "quarrix/repo/define_carriers.hpp"
#include "quarrix/repo/filters.hpp"
#include "quarrix/resolver/dependency_resolver.hpp"
#include "quarrix/tags/tags.hpp"
#include "quarrix/util/directory.hpp"
#include "quarrix/util/errors.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/path.hpp"
#include "quarrix/util/text_cache.hpp"

namespace quarrix::pipeline {

std::vector<std::string> source_roots(const std::string& repo_path) {
  std::vector<std::string> roots;
  for (const char* name : {"src", "hdl", "rtl"}) {
    const std::string dir = util::join_path(repo_path, name);
    if (util::is_directory(dir)) roots.push_back(dir);
  }
  if (roots.empty()) roots.push_back(repo_path);
  return roots;
}

std::vector<std::string> dependency_dirs(const ScanOptions& options) {
  std::vector<std::string> dirs;
  for (const ScanDependency& dependency : options.dependencies) dirs.push_back(dependency.path);
  return dirs;
}

namespace {

// Our own resolver behind the driver's interface.
class OwnResolver final : public Resolver {
 public:
  explicit OwnResolver(resolver::DependencyResolver impl) : impl_(std::move(impl)) {}
  const resolver::DependencyResolver& impl() const { return impl_; }
  std::vector<std::pair<std::string, std::string>> entity_map() const override { return impl_.entity_map(); }
  std::vector<std::string> compilation_order(const std::string& name) const override {
    return impl_.compilation_order(name);
  }
  std::vector<std::pair<std::string, std::string>> unresolved_use_clauses() const override {
    return impl_.unresolved_use_clauses();
  }
  std::vector<std::pair<std::string, std::string>> package_map() const override { return impl_.package_map(); }
  std::vector<std::pair<std::string, std::string>> left_out_sources() const override {
    return impl_.left_out_sources();
  }
  std::optional<resolver::UseGraph> use_graph() const override { return impl_.use_graph(); }

 private:
  resolver::DependencyResolver impl_;
};

// A top-level include/ beside the source roots holds headers their sources include.
std::vector<std::string> top_level_include_dirs(const std::string& repo_path,
                                                const std::vector<std::string>& src_dirs) {
  const std::string dir = util::join_path(repo_path, "include");
  if (src_dirs.size() == 1 && src_dirs.front() == repo_path) return {};  // inside the only root already
  return util::is_directory(dir) ? std::vector<std::string>{dir} : std::vector<std::string>{};
}

std::vector<std::string> string_list(const Json& value, const char* what) {
  if (!value.is_array()) throw TypeError(std::string(what) + " must be a list of str");
  std::vector<std::string> out;
  for (const auto& item : value) {
    if (!item.is_string()) throw TypeError(std::string(what) + " must be a list of str");
    out.push_back(item.get<std::string>());
  }
  return out;
}

std::optional<std::string> optional_text(const Json& value, const char* what) {
  if (value.is_null()) return std::nullopt;
  if (!value.is_string()) throw TypeError(std::string(what) + " must be str or None");
  return value.get<std::string>();
}

Json build_entry(const std::string& name, std::string_view ns, std::string_view url, std::string_view tag,
                 const Json& language, const Json& library, Json rel_files,
                 const std::pair<std::string, std::string>& description, const Json& std_value, const Json& vendor_deps,
                 const Json& verified, const Json& badges, const Json& test_info,
                 const std::vector<std::string>& tags) {
  Json entry = Json::object();
  // The keys set here and by the later steps (role, components, license_class,
  // external_uses, provides_packages): one allocation instead of a doubling
  // vector left half empty in every row.
  entry.get_ref<Json::object_t&>().reserve(19);
  entry["name"] = name;
  entry["namespace"] = ns;
  entry["source"] = {{"type", "git"}, {"url", url}, {"tag", tag}, {"ip_yml_path", "."}};
  const std::size_t dep_count = rel_files.size();
  entry["quarrix_compat"] = {{"language", language}, {"library", library}, {"files", std::move(rel_files)}};
  entry["description"] = description.first;
  entry["desc_source"] = description.second;
  entry["license"] = "";
  entry["dep_count"] = dep_count;
  entry["vhdl_standard"] = std_value;
  entry["vendor_deps"] = vendor_deps;
  entry["verified"] = verified;
  entry["badges"] = badges;
  entry["test_info"] = test_info;
  entry["tags"] = tags;
  return entry;
}

// What a kept unit's row holds besides its compile list, which is listed again
// when the row is made.
struct KeptUnit {
  std::string name;
  std::string rel_path;
  detail::FileId own = 0;
  std::optional<std::uint32_t> plain;  // the node of its plain list
  std::vector<detail::FileId> carriers;
  bool several_files = false;  // dep_count > 1
  Json language, std_value, verified, vendor_deps, badges;
  std::vector<std::string> tags;
  std::pair<std::string, std::string> description;
  std::string license;
  const char* role = "top";
  std::vector<std::size_t> components;  // indices of kept units, for a top
};

// The row's files: the define carriers, then the rest of the list; as
// strings, or (for a row) straight into its JSON array. A carrier the list
// already holds (a header that one of its files includes) moves to the front
// too: the macros must be defined before the first file that uses them.
template <class Files>
Files row_files(const detail::CompileLists& lists, const std::vector<detail::FileId>& carriers,
                const detail::FileIds& list) {
  Files out;
  if constexpr (std::is_same_v<Files, Json>) out = Json::array();
  for (const detail::FileId carrier : carriers) out.emplace_back(lists.path(carrier));
  const std::unordered_set<detail::FileId> first(carriers.begin(), carriers.end());
  for (const detail::FileId file : list)
    if (!first.contains(file)) out.emplace_back(lists.path(file));
  return out;
}

const char* role_of(bool depended_on, const KeptUnit& unit) {
  return !depended_on ? "top" : (unit.several_files ? "component" : "primitive");
}

bool is_top(const KeptUnit& unit) { return std::string_view(unit.role) == "top"; }

// Roles from the resolver's use graph: a unit is depended on when another
// kept unit reaches it; a top's components are the units it reaches.
void assign_roles_by_use(std::vector<KeptUnit>& kept, const resolver::UseGraph& graph) {
  std::vector<std::uint32_t> nodes;
  nodes.reserve(kept.size());
  for (const KeptUnit& unit : kept) {
    const auto it = graph.node_of.find(unit.name);
    nodes.push_back(it == graph.node_of.end() ? aggregate::EntryReach::kNoNode : it->second);
  }
  aggregate::EntryReach reach(graph, std::move(nodes));
  const std::vector<bool> depended = reach.depended_on();
  for (std::size_t i = 0; i < kept.size(); ++i) kept[i].role = role_of(depended[i], kept[i]);
  for (std::size_t t = 0; t < kept.size(); ++t)
    if (is_top(kept[t]))
      for (const std::size_t c : reach.reached_from(t))
        if (!is_top(kept[c])) kept[t].components.push_back(c);
}

// Without a use graph, roles as aggregate::compute_roles gives them for
// entries without one: a unit is depended on when it is the first to claim its
// own file and another unit's files hold that file (`used`).
void assign_roles_by_files(std::vector<KeptUnit>& kept, const std::vector<bool>& used) {
  std::unordered_map<detail::FileId, std::size_t> claimer;
  for (std::size_t i = 0; i < kept.size(); ++i) claimer.try_emplace(kept[i].own, i);
  for (std::size_t i = 0; i < kept.size(); ++i) {
    KeptUnit& unit = kept[i];
    const bool depended_on = claimer.at(unit.own) == i && unit.own < used.size() && used[unit.own];
    unit.role = role_of(depended_on, unit);
  }
}

// Without a use graph, "components" of each top: the component and primitive
// units whose files share a path with its files, in scan order. Indexed by
// the tops' paths, so the cost follows the length of the lists.
void assign_components_by_files(std::vector<KeptUnit>& kept, detail::CompileLists& lists) {
  const auto files_of = [&](const KeptUnit& unit) {
    detail::FileIds files = lists.files(unit.name, unit.rel_path);
    files.insert(files.end(), unit.carriers.begin(), unit.carriers.end());
    return files;
  };
  std::unordered_map<detail::FileId, std::vector<std::size_t>> tops_of;
  for (std::size_t t = 0; t < kept.size(); ++t)
    if (is_top(kept[t]))
      for (const detail::FileId f : files_of(kept[t])) {
        std::vector<std::size_t>& tops = tops_of[f];
        if (tops.empty() || tops.back() != t) tops.push_back(t);
      }
  if (tops_of.empty()) return;
  std::vector<std::size_t> marked(kept.size(), SIZE_MAX);  // per top: the last unit added
  for (std::size_t c = 0; c < kept.size(); ++c) {
    if (is_top(kept[c])) continue;
    for (const detail::FileId f : files_of(kept[c])) {
      const auto it = tops_of.find(f);
      if (it == tops_of.end()) continue;
      for (const std::size_t t : it->second)
        if (marked[t] != c) {
          marked[t] = c;
          kept[t].components.push_back(c);
        }
    }
  }
}

// describe::verdict_locked_text over the indexed verdicts: the one record of
// "namespace/name" is handed over alone, so the lookup does not search them all.
std::optional<std::string> locked_text(const std::unordered_map<std::string_view, const Json*>& verdict_by_key,
                                       std::string_view ns, std::string_view name) {
  std::string key;
  key.append(ns).append("/").append(name);
  const auto it = verdict_by_key.find(key);
  if (it == verdict_by_key.end()) return std::nullopt;
  Json single = Json::object();
  single[key] = *it->second;
  return describe::verdict_locked_text(&single, ns, name);
}

}  // namespace

void scan_repo_rows(const std::string& repo_path, std::string_view ns, std::string_view url, std::string_view tag,
                    std::string_view /*commit*/, const ScanProbes& probes, const ScanOptions& options,
                    const ScanContext& context, const RowSink& sink, ScanCounts* counts) {
  // A subproject scan without buckets can never succeed: say so before any work.
  if (needs_bucket_map(options.granularity) && !options.bucket_map)
    throw std::invalid_argument(kSubprojectNeedsBucketMap);

  // The dependencies by resolved directory: files are told apart by path.
  std::vector<std::string> dependency_paths;
  if (!options.dependencies.empty() && options.resolver_factory)
    throw std::invalid_argument(kDependenciesNeedOwnResolver);
  const std::optional<std::string> resolved_repo = util::resolved_path(repo_path);
  for (const ScanDependency& dependency : options.dependencies) {
    const std::optional<std::string> dir = util::resolved_path(dependency.path);
    if (!dir || !util::is_directory(*dir))
      throw std::invalid_argument("dependency '" + dependency.path + "' is not a directory");
    if (resolved_repo && (util::lies_within(*dir, *resolved_repo) || util::lies_within(*resolved_repo, *dir)))
      throw std::invalid_argument("dependency '" + dependency.path + "' overlaps the repository");
    dependency_paths.push_back(*dir);
  }
  // Nothing outside the repository and its dependencies is read, whatever
  // their links point at.
  const util::ReadConfinement confinement(repo_path, dependency_paths);
  // Every source is read once: the resolver, the declaration check and the
  // description extractors share the text. Dropped once the units are built.
  std::optional<util::ScanTextCache> text_cache(std::in_place);
  // The resolver's walk and the repository listing share each directory's
  // read; once both are made the listings are of no further use.
  std::optional<util::ScanDirectoryCache> directory_cache(std::in_place);
  const std::vector<std::string> src_dirs = source_roots(repo_path);
  std::vector<std::string> merged_excludes = repo::default_vendor_sim_excludes();
  merged_excludes.insert(merged_excludes.end(), options.exclude_dirs.begin(), options.exclude_dirs.end());
  const resolver::DependencyResolver* own_resolver = nullptr;
  std::unique_ptr<Resolver> resolver;
  if (options.resolver_factory) {
    resolver = options.resolver_factory(src_dirs, false, merged_excludes);
  } else {
    std::vector<std::string> include_dirs = top_level_include_dirs(repo_path, src_dirs);
    std::vector<std::string> dependency_roots;
    for (const std::string& dir : dependency_paths) {
      const std::vector<std::string> roots = source_roots(dir);
      const std::vector<std::string> includes = top_level_include_dirs(dir, roots);
      dependency_roots.insert(dependency_roots.end(), roots.begin(), roots.end());
      include_dirs.insert(include_dirs.end(), includes.begin(), includes.end());
    }
    auto own = std::make_unique<OwnResolver>(resolver::DependencyResolver(
        src_dirs, false, merged_excludes, std::move(include_dirs), repo_path, std::move(dependency_roots)));
    own_resolver = &own->impl();
    resolver = std::move(own);
  }
  if (options.on_left_out)
    for (const auto& [path, reason] : resolver->left_out_sources())
      options.on_left_out(util::relative_to_root(path, repo_path), reason);
  repo::RepoTree tree(repo_path);
  tree.listing();
  directory_cache.reset();

  const Json library = probes.detect_library_name(repo_path);
  const Json test_info = probes.detect_test_infrastructure(repo_path);

  auto units = resolver->entity_map();
  std::sort(units.begin(), units.end(), [](const auto& a, const auto& b) { return a.first < b.first; });

  repo::DefineCarrierIndex carriers(tree);
  detail::CompileLists lists(*resolver, own_resolver, repo_path, dependency_paths);
  // The units each dependency file declares, for the report.
  std::unordered_map<detail::FileId, std::vector<std::string>> dependency_units;
  if (own_resolver && options.on_unit)
    for (const auto& [unit_name, unit_path] : own_resolver->dependency_units())
      dependency_units[lists.intern(unit_path)].push_back(unit_name);
  const Json* verdicts = options.description_verdicts ? &*options.description_verdicts : nullptr;

  // A JSON object finds its keys one by one: index the verdicts and the
  // previous descriptions once.
  std::unordered_map<std::string_view, const Json*> verdict_by_key;
  if (verdicts && verdicts->is_object())
    for (auto it = verdicts->begin(); it != verdicts->end(); ++it) verdict_by_key.try_emplace(it.key(), &*it);

  std::unordered_map<std::string_view, const Json*> previous_by_name;
  if (options.previous_descriptions && options.previous_descriptions->is_object())
    for (auto it = options.previous_descriptions->begin(); it != options.previous_descriptions->end(); ++it)
      previous_by_name.try_emplace(it.key(), &*it);

  // Each entity's own source may name its licence (an SPDX line, a vendor's
  // proprietary notice), which then holds whatever the repository's says.
  const std::string license_id = license::detect_license(repo_path);
  // Probes that need no list of a plain unit: its list waits for its row.
  const bool checks_need_lists = !probes.can_run_checks || probes.can_run_checks();
  const bool vendor_deps_per_file = static_cast<bool>(probes.detect_vendor_deps_in_file);

  const std::optional<resolver::UseGraph> use_graph = resolver->use_graph();
  std::vector<KeptUnit> kept;
  // Without a use graph: files that some kept unit's list holds besides its own file.
  std::vector<bool> used;
  const auto use = [&](detail::FileId file) {
    if (use_graph) return;
    if (used.size() <= file) used.resize(file + 1);
    used[file] = true;
  };
  for (std::size_t index = 0; index < units.size(); ++index) {
    const auto& [name, path] = units[index];
    if (options.progress) options.progress(index, units.size(), name);

    const std::string rel_path = util::relative_to_root(path, repo_path);
    const auto skip = [&](std::string why) {
      if (options.on_unit) options.on_unit({name, rel_path, std::move(why), {}, {}});
    };
    if (const char* fragment = repo::path_skip_fragment(rel_path)) {
      skip(std::string("path under ") + fragment);
      continue;
    }
    if (const char* reason = repo::name_skip_reason(name)) {
      skip(reason);
      continue;
    }
    const auto decl_kind = repo::classify_top_declaration(name, path);
    if (decl_kind && !repo::is_installable_kind(*decl_kind)) {
      skip("declared as " + *decl_kind + ", not a module or entity");
      continue;
    }

    KeptUnit unit;
    unit.name = name;
    unit.rel_path = rel_path;
    unit.plain = lists.plain_node(name);
    // Which carriers a list needs depends on every macro its files use: with
    // carriers around, even a plain unit's list is made now.
    const bool listed = !unit.plain || checks_need_lists || !vendor_deps_per_file || options.on_unit ||
                        !dependency_paths.empty() || carriers.any_in(lists.scope_of(*unit.plain));
    std::optional<detail::FileIds> list;  // the repository's files of the compile list
    detail::FileIds taken;                // the dependencies' files of it, compiled first
    std::vector<std::string> rel_files;
    if (listed) {
      list = lists.own_files(lists.files(name, rel_path), &taken);
      for (const detail::FileId f : *list) rel_files.push_back(lists.path(f));
      for (const std::string& carrier : repo::collect_define_carriers(carriers, rel_files))
        unit.carriers.push_back(lists.intern(carrier));
    }
    unit.own = list ? list->back() : lists.own_file(*unit.plain);
    if (list) {
      rel_files = row_files<std::vector<std::string>>(lists, unit.carriers, *list);
      unit.several_files = rel_files.size() > 1;
    } else {
      unit.several_files = lists.has_deps(*unit.plain) || std::any_of(unit.carriers.begin(), unit.carriers.end(),
                                                                      [&](detail::FileId c) { return c != unit.own; });
    }
    for (const detail::FileId carrier : unit.carriers)
      if (carrier != unit.own) use(carrier);
    if (list) {
      for (const detail::FileId f : *list)
        if (f != unit.own) use(f);
    } else if (!use_graph) {
      lists.for_each_new_file_below(*unit.plain, use);
    }

    PathList abs_dep_files;
    for (const auto& f : rel_files)
      abs_dep_files.push_back(util::is_absolute_path(f) ? f : util::join_path(repo_path, f));
    PathList check_files;
    if (checks_need_lists) {
      for (const detail::FileId f : taken) check_files.push_back(lists.path(f));
      check_files.insert(check_files.end(), abs_dep_files.begin(), abs_dep_files.end());
    }

    if (vendor_deps_per_file) {
      const auto& in_file = probes.detect_vendor_deps_in_file;
      std::vector<std::string> found = lists.vendor_deps_of(unit.carriers, in_file);
      const std::vector<std::string> of_list =
          list ? lists.vendor_deps_of(*list, in_file) : lists.vendor_deps_of(*unit.plain, in_file);
      found.insert(found.end(), of_list.begin(), of_list.end());
      std::sort(found.begin(), found.end());
      found.erase(std::unique(found.begin(), found.end()), found.end());
      unit.vendor_deps = found;
    } else {
      unit.vendor_deps = probes.detect_vendor_deps(abs_dep_files);
    }
    const Json standard = probes.detect_vhdl_standard(check_files, library);
    if (!standard.is_array()) throw TypeError("detect_vhdl_standard must return two values (standard, verified)");
    if (standard.size() != 2) throw std::invalid_argument("detect_vhdl_standard must return exactly two values");
    unit.std_value = standard[0];
    unit.verified = standard[1];
    const std::string suffix = util::path_suffix_lower(path);
    if (suffix == ".v" || suffix == ".sv") {
      unit.language = suffix == ".sv" ? "systemverilog" : "verilog";
      unit.std_value = unit.language;
      unit.verified = probes.verify_verilog_unit ? probes.verify_verilog_unit(check_files, name)
                                                 : probes.verify_verilog(check_files);
    } else {
      unit.language = unit.std_value == "unknown" ? Json("vhdl-2008") : unit.std_value;
    }

    unit.tags =
        tags::generate_tags(name, string_list(unit.vendor_deps, "detect_vendor_deps result"), context.settings.tag_cap);
    std::optional<std::string> previous;
    if (const auto it = previous_by_name.find(name); it != previous_by_name.end())
      previous = optional_text(*it->second, "previous_descriptions values");
    const auto locked = locked_text(verdict_by_key, ns, name);
    unit.description = describe::generate_description(
        name, path, ns, unit.language.is_string() ? unit.language.get<std::string>() : unit.language.dump(),
        context.services, context.settings.llm, options.use_llm, previous, locked);
    unit.badges = probes.compute_badges(unit.verified, test_info);
    const std::string own = license::unit_license(path);
    unit.license = own.empty() ? license_id : own;
    if (options.on_unit) {
      std::vector<DependencyFile> from_dependencies;
      for (const detail::FileId f : taken) {
        const std::size_t d = *lists.dependency_of(f);
        const auto declared = dependency_units.find(f);
        from_dependencies.push_back(
            {options.dependencies[d].ns, util::relative_to_root(lists.path(f), dependency_paths[d]),
             declared == dependency_units.end() ? std::vector<std::string>{} : declared->second});
      }
      options.on_unit({name, rel_path, "", rel_files, std::move(from_dependencies)});
    }
    kept.push_back(std::move(unit));
  }

  text_cache.reset();
  if (counts) *counts = {units.size(), kept.size(), units.size() - kept.size()};

  if (use_graph) {
    assign_roles_by_use(kept, *use_graph);
  } else {
    assign_roles_by_files(kept, used);
    assign_components_by_files(kept, lists);
  }

  Json external_uses = Json::array();
  for (const auto& [lib, package] : resolver->unresolved_use_clauses())
    external_uses.push_back({{"library", lib}, {"package", package}});
  std::unordered_map<detail::FileId, std::vector<std::string>> packages_of_file;
  for (const auto& [package, path] : resolver->package_map())
    packages_of_file[lists.intern(util::relative_to_root(path, repo_path))].push_back(package);

  // A row, its list listed again.
  const auto row_of = [&](const KeptUnit& unit) {
    const detail::FileIds list = lists.own_files(lists.files(unit.name, unit.rel_path));
    Json row = build_entry(unit.name, ns, url, tag, unit.language, library, row_files<Json>(lists, unit.carriers, list),
                           unit.description, unit.std_value, unit.vendor_deps, unit.verified, unit.badges, test_info,
                           unit.tags);
    row["role"] = unit.role;
    if (is_top(unit)) {
      Json components = Json::array();
      for (const std::size_t c : unit.components) components.push_back(kept[c].name);
      row["components"] = std::move(components);
    }
    row["license"] = unit.license;
    row["license_class"] = license::classify_license(unit.license);
    if (!external_uses.empty()) row["external_uses"] = external_uses;
    if (!packages_of_file.empty()) {
      std::vector<std::string> provides;
      std::unordered_set<detail::FileId> seen;
      const auto add = [&](detail::FileId f) {
        const auto it = packages_of_file.find(f);
        if (it != packages_of_file.end() && seen.insert(f).second)
          provides.insert(provides.end(), it->second.begin(), it->second.end());
      };
      for (const detail::FileId f : unit.carriers) add(f);
      for (const detail::FileId f : list) add(f);
      std::sort(provides.begin(), provides.end());
      provides.erase(std::unique(provides.begin(), provides.end()), provides.end());
      if (!provides.empty()) row["provides_packages"] = provides;
    }
    return row;
  };

  const bool repo_row = gives_repo_row(options.granularity);
  if (repo_row || gives_subproject_rows(options.granularity)) {
    // The aggregate rows need every unit's row at once.
    Json entries = Json::array();
    Json roles = Json::object();
    // Names are unique: appended, not looked up one by one.
    auto& members = static_cast<std::vector<std::pair<const std::string, Json>>&>(roles.get_ref<Json::object_t&>());
    for (const KeptUnit& unit : kept) {
      entries.push_back(row_of(unit));
      members.emplace_back(unit.name, unit.role);
    }
    const aggregate::RowContext row_context{context.settings.tag_cap, context.services.is_suspect};
    Json rows = repo_row
                    ? aggregate::aggregate_repo_entry(entries, roles, carriers, ns, url, tag, verdicts, row_context)
                    : aggregate::aggregate_subproject_entries(entries, roles, repo_path, ns, url, tag,
                                                              *options.bucket_map, verdicts, row_context);
    for (Json& row : rows) sink(std::move(row));
    return;
  }
  const bool tops_only = keeps_top_rows_only(options.granularity);
  for (const KeptUnit& unit : kept)
    if (!tops_only || is_top(unit) || std::string_view(unit.role) == "component") sink(row_of(unit));
}

Json scan_repo(const std::string& repo_path, std::string_view ns, std::string_view url, std::string_view tag,
               std::string_view commit, const ScanProbes& probes, const ScanOptions& options,
               const ScanContext& context, ScanCounts* counts) {
  Json rows = Json::array();
  scan_repo_rows(
      repo_path, ns, url, tag, commit, probes, options, context,
      [&rows](Json&& row) { rows.push_back(std::move(row)); }, counts);
  return rows;
}

}  // namespace quarrix::pipeline
