#include "quarrix/pipeline/scan_repo.hpp"

#include <algorithm>
#include <map>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

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

namespace {

// Our own resolver behind the driver's interface.
class OwnResolver final : public Resolver {
 public:
  explicit OwnResolver(resolver::DependencyResolver impl) : impl_(std::move(impl)) {}
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

// The compile list of one unit as repository-relative strings; the unit's own
// file alone when the resolver cannot order it.
std::vector<std::string> compile_list(const Resolver& resolver, const std::string& name, const std::string& repo_path,
                                      const std::string& rel_path) {
  std::vector<std::string> rel_files;
  try {
    for (const auto& path : resolver.compilation_order(name))
      rel_files.push_back(util::relative_to_root(path, repo_path));
  } catch (const UnknownUnitError&) {
    return {rel_path};
  } catch (const DependencyCycleError&) {
    return {rel_path};
  }
  return rel_files;
}

Json build_entry(const std::string& name, std::string_view ns, std::string_view url, std::string_view tag,
                 const Json& language, const Json& library, const std::vector<std::string>& rel_files,
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
  entry["quarrix_compat"] = {{"language", language}, {"library", library}, {"files", rel_files}};
  entry["description"] = description.first;
  entry["desc_source"] = description.second;
  entry["license"] = "";
  entry["dep_count"] = rel_files.size();
  entry["vhdl_standard"] = std_value;
  entry["vendor_deps"] = vendor_deps;
  entry["verified"] = verified;
  entry["badges"] = badges;
  entry["test_info"] = test_info;
  entry["tags"] = tags;
  return entry;
}

// "components" of each top entry: the component and primitive entries that
// share a compile-list path with it, in scan order. Indexed by path so the
// cost follows the total length of the compile lists.
void add_components(Json& entries, const Json& roles) {
  // A JSON object finds its keys one by one: index the roles once.
  std::unordered_map<std::string_view, const Json*> role_of;
  role_of.reserve(roles.size());
  for (auto it = roles.begin(); it != roles.end(); ++it) role_of.try_emplace(it.key(), &*it);
  const auto find_role = [&](const std::string& name) -> const Json* {
    const auto it = role_of.find(name);
    return it == role_of.end() ? nullptr : it->second;
  };

  std::unordered_map<std::string, std::vector<std::size_t>> users_of_path;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Json* role = find_role(entries[i]["name"].get<std::string>());
    if (!role || (*role != "component" && *role != "primitive")) continue;
    std::unordered_set<std::string> seen;
    for (const auto& f : entries[i]["quarrix_compat"]["files"])
      if (seen.insert(f.get<std::string>()).second) users_of_path[f.get<std::string>()].push_back(i);
  }
  for (auto& entry : entries) {
    const std::string name = entry["name"].get<std::string>();
    const Json* role = find_role(name);
    entry["role"] = role ? *role : Json("top");
    if (entry["role"] != "top") continue;
    std::vector<std::size_t> hits;
    for (const auto& f : entry["quarrix_compat"]["files"])
      if (const auto it = users_of_path.find(f.get<std::string>()); it != users_of_path.end())
        hits.insert(hits.end(), it->second.begin(), it->second.end());
    std::sort(hits.begin(), hits.end());
    hits.erase(std::unique(hits.begin(), hits.end()), hits.end());
    Json components = Json::array();
    for (std::size_t i : hits)
      if (entries[i]["name"] != name) components.push_back(entries[i]["name"]);
    entry["components"] = std::move(components);
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

void add_packages(Json& entries, const Resolver& resolver, const std::string& repo_path) {
  std::unordered_map<std::string, std::vector<std::string>> packages_of_file;
  for (const auto& [package, path] : resolver.package_map())
    packages_of_file[util::relative_to_root(path, repo_path)].push_back(package);
  for (auto& entry : entries) {
    std::vector<std::string> provides;
    std::unordered_set<std::string> seen;
    for (const auto& f : entry["quarrix_compat"]["files"]) {
      const auto it = packages_of_file.find(f.get<std::string>());
      if (it == packages_of_file.end() || !seen.insert(f.get<std::string>()).second) continue;
      provides.insert(provides.end(), it->second.begin(), it->second.end());
    }
    std::sort(provides.begin(), provides.end());
    provides.erase(std::unique(provides.begin(), provides.end()), provides.end());
    if (!provides.empty()) entry["provides_packages"] = provides;
  }
}

}  // namespace

Json scan_repo(const std::string& repo_path, std::string_view ns, std::string_view url, std::string_view tag,
               std::string_view /*commit*/, const ScanProbes& probes, const ScanOptions& options,
               const ScanContext& context, ScanCounts* counts) {
  // A subproject scan without buckets can never succeed: say so before any work.
  if (needs_bucket_map(options.granularity) && !options.bucket_map)
    throw std::invalid_argument(kSubprojectNeedsBucketMap);

  // Nothing outside the repository is read, whatever its links point at.
  const util::ReadConfinement confinement(repo_path);
  // Every source is read once: the resolver, the declaration check and the
  // description extractors share the text. Dropped once the units are built.
  std::optional<util::ScanTextCache> text_cache(std::in_place);
  // The resolver's walk and the repository listing share each directory's
  // read; once both are made the listings are of no further use.
  std::optional<util::ScanDirectoryCache> directory_cache(std::in_place);
  const std::vector<std::string> src_dirs = source_roots(repo_path);
  std::vector<std::string> merged_excludes = repo::default_vendor_sim_excludes();
  merged_excludes.insert(merged_excludes.end(), options.exclude_dirs.begin(), options.exclude_dirs.end());
  const std::unique_ptr<Resolver> resolver =
      options.resolver_factory ? options.resolver_factory(src_dirs, false, merged_excludes)
                               : std::make_unique<OwnResolver>(resolver::DependencyResolver(
                                     src_dirs, false, merged_excludes, top_level_include_dirs(repo_path, src_dirs)));
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
  std::vector<std::string> unit_licenses;

  Json entries = Json::array();
  for (std::size_t index = 0; index < units.size(); ++index) {
    const auto& [name, path] = units[index];
    if (options.progress) options.progress(index, units.size(), name);

    const std::string rel_path = util::relative_to_root(path, repo_path);
    const auto skip = [&](std::string why) {
      if (options.on_unit) options.on_unit({name, rel_path, std::move(why), {}});
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

    std::vector<std::string> rel_files = compile_list(*resolver, name, repo_path, rel_path);
    std::vector<std::string> with_carriers;
    const std::unordered_set<std::string_view> listed(rel_files.begin(), rel_files.end());
    for (auto& carrier : repo::collect_define_carriers(carriers, rel_files))
      if (!listed.contains(carrier)) with_carriers.push_back(std::move(carrier));
    with_carriers.insert(with_carriers.end(), rel_files.begin(), rel_files.end());
    rel_files = std::move(with_carriers);

    PathList abs_dep_files;
    for (const auto& f : rel_files)
      abs_dep_files.push_back(util::is_absolute_path(f) ? f : util::join_path(repo_path, f));

    const Json vendor_deps = probes.detect_vendor_deps(abs_dep_files);
    const Json standard = probes.detect_vhdl_standard(abs_dep_files, library);
    if (!standard.is_array()) throw TypeError("detect_vhdl_standard must return two values (standard, verified)");
    if (standard.size() != 2) throw std::invalid_argument("detect_vhdl_standard must return exactly two values");
    Json std_value = standard[0];
    Json verified = standard[1];
    Json language;
    const std::string suffix = util::path_suffix_lower(path);
    if (suffix == ".v" || suffix == ".sv") {
      language = suffix == ".sv" ? "systemverilog" : "verilog";
      std_value = language;
      verified = probes.verify_verilog(abs_dep_files);
    } else {
      language = std_value == "unknown" ? Json("vhdl-2008") : std_value;
    }

    const auto tags =
        tags::generate_tags(name, string_list(vendor_deps, "detect_vendor_deps result"), context.settings.tag_cap);
    std::optional<std::string> previous;
    if (const auto it = previous_by_name.find(name); it != previous_by_name.end())
      previous = optional_text(*it->second, "previous_descriptions values");
    const auto locked = locked_text(verdict_by_key, ns, name);
    const auto description = describe::generate_description(
        name, path, ns, language.is_string() ? language.get<std::string>() : language.dump(), context.services,
        context.settings.llm, options.use_llm, previous, locked);
    const Json badges = probes.compute_badges(verified, test_info);
    entries.push_back(build_entry(name, ns, url, tag, language, library, rel_files, description, std_value, vendor_deps,
                                  verified, badges, test_info, tags));
    unit_licenses.push_back(license::unit_license(path));
    if (options.on_unit) options.on_unit({name, rel_path, "", rel_files});
  }

  text_cache.reset();
  if (counts) *counts = {units.size(), entries.size(), units.size() - entries.size()};

  const Json roles = aggregate::compute_roles(entries);
  add_components(entries, roles);

  for (std::size_t i = 0; i < entries.size(); ++i) {
    Json& entry = entries[i];
    if (entry["license"] == "") entry["license"] = unit_licenses[i].empty() ? license_id : unit_licenses[i];
    entry["license_class"] = license::classify_license(entry["license"].get<std::string>());
  }

  Json external_uses = Json::array();
  for (const auto& [lib, package] : resolver->unresolved_use_clauses())
    external_uses.push_back({{"library", lib}, {"package", package}});
  if (!external_uses.empty())
    for (auto& entry : entries) entry["external_uses"] = external_uses;

  add_packages(entries, *resolver, repo_path);

  const aggregate::RowContext row_context{context.settings.tag_cap, context.services.is_suspect};
  if (gives_repo_row(options.granularity))
    return aggregate::aggregate_repo_entry(entries, roles, carriers, ns, url, tag, verdicts, row_context);
  if (gives_subproject_rows(options.granularity))
    return aggregate::aggregate_subproject_entries(entries, roles, repo_path, ns, url, tag, *options.bucket_map,
                                                   verdicts, row_context);
  if (keeps_top_rows_only(options.granularity)) {
    Json kept = Json::array();
    for (auto& entry : entries)
      if (entry["role"] == "top" || entry["role"] == "component") kept.push_back(std::move(entry));
    return kept;
  }
  return entries;
}

}  // namespace quarrix::pipeline
