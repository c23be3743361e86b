#include "quarrix/pipeline/scan.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "compile_lists.hpp"
#include "kept_unit.hpp"
#include "quarrix/aggregate/repo_row.hpp"
#include "quarrix/aggregate/subproject.hpp"
#include "quarrix/describe/chain.hpp"
#include "quarrix/describe/verdicts.hpp"
#include "quarrix/license/license.hpp"
#include "quarrix/pipeline/default_probes.hpp"
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

namespace {

using detail::CompileLists;
using detail::FileId;
using detail::FileIds;
using detail::KeptUnit;

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

// The options' checks that need no work, then the dependencies by resolved
// directory (files are told apart by path).
std::vector<std::string> checked_dependencies(const std::string& repo_path, const ScanOptions& options) {
  // A subproject scan without buckets can never succeed: say so before any work.
  if (needs_bucket_map(options.granularity) && !options.bucket_map) throw ValueError(kSubprojectNeedsBucketMap);
  if (!options.dependencies.empty() && options.resolver_factory) throw ValueError(kDependenciesNeedOwnResolver);
  std::vector<std::string> paths;
  const std::optional<std::string> resolved_repo = util::resolved_path(repo_path);
  for (const ScanDependency& dependency : options.dependencies) {
    const std::optional<std::string> dir = util::resolved_path(dependency.path);
    if (!dir || !util::is_directory(*dir)) throw ValueError("dependency '" + dependency.path + "' is not a directory");
    if (resolved_repo && (util::lies_within(*dir, *resolved_repo) || util::lies_within(*resolved_repo, *dir)))
      throw ValueError("dependency '" + dependency.path + "' overlaps the repository");
    paths.push_back(*dir);
  }
  return paths;
}

// A JSON object finds its keys one by one: an index of its members.
std::unordered_map<std::string_view, const Json*> index_of(const std::optional<Json>& object) {
  std::unordered_map<std::string_view, const Json*> index;
  if (object && object->is_object())
    for (auto it = object->begin(); it != object->end(); ++it) index.try_emplace(it.key(), &*it);
  return index;
}

// Runs `check` over `checks`, `jobs` at a time, each thread confined as the
// scan is; the first failure is rethrown once all are done.
void run_checks(const std::vector<ToolCheck>& checks, unsigned jobs, const std::function<void(const ToolCheck&)>& check,
                const std::string& repo_path, const std::vector<std::string>& dependency_paths) {
  std::atomic<std::size_t> next{0};
  std::mutex failure_mutex;
  std::exception_ptr failure;
  const auto worker = [&] {
    const util::ReadConfinement confinement(repo_path, dependency_paths);
    for (std::size_t i; (i = next++) < checks.size();) {
      try {
        check(checks[i]);
      } catch (...) {
        const std::lock_guard<std::mutex> lock(failure_mutex);
        if (!failure) failure = std::current_exception();
      }
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < jobs && t < checks.size(); ++t) pool.emplace_back(worker);
  worker();
  for (std::thread& thread : pool) thread.join();
  if (failure) std::rethrow_exception(failure);
}

// One run of a scan: its state from the first stage to the last.
class Run {
 public:
  Run(const std::string& repo_path, const ScanIdentity& identity, const ScanProbes& probes, const ScanOptions& options,
      const ScanContext& context)
      : repo_path_(repo_path),
        id_(identity),
        probes_(probes),
        options_(options),
        context_(context),
        dependency_paths_(checked_dependencies(repo_path, options)),
        confinement_(repo_path, dependency_paths_),
        text_cache_(std::in_place),
        directory_cache_(std::in_place) {}

  void operator()(const RowSink& sink, ScanCounts& counts) {
    discover();
    select_and_list();
    if (options_.jobs > 1 && probes_.check_ahead && checks_need_lists_) {
      // The checks read their sources themselves, on several threads: the
      // texts are not kept meanwhile, so that the peak stays that of a scan
      // without them; the units read each file once more.
      text_cache_.reset();
      check_ahead();
      text_cache_.emplace();
    }
    if (options_.on_stage) options_.on_stage(ScanStage::kUnits);
    probe_units();
    text_cache_.reset();
    counts = {units_.size(), kept_.size(), units_.size() - kept_.size()};
    assign_roles();
    emit_rows(sink);
  }

 private:
  // What the selection decided for a unit of the map, in map order.
  struct Slot {
    static constexpr std::size_t kNone = SIZE_MAX;
    std::string skipped_by;    // empty: kept
    std::size_t kept = kNone;  // index into kept_
  };

  // The resolver's units, sorted by name, and what the repository holds.
  void discover() {
    const std::vector<std::string> src_dirs = source_roots(repo_path_);
    std::vector<std::string> excludes = repo::default_vendor_sim_excludes();
    excludes.insert(excludes.end(), options_.exclude_dirs.begin(), options_.exclude_dirs.end());
    if (options_.resolver_factory) {
      resolver_ = options_.resolver_factory(src_dirs, false, excludes);
    } else {
      std::vector<std::string> include_dirs = top_level_include_dirs(repo_path_, src_dirs);
      std::vector<std::string> dependency_roots;
      for (const std::string& dir : dependency_paths_) {
        const std::vector<std::string> roots = source_roots(dir);
        const std::vector<std::string> includes = top_level_include_dirs(dir, roots);
        dependency_roots.insert(dependency_roots.end(), roots.begin(), roots.end());
        include_dirs.insert(include_dirs.end(), includes.begin(), includes.end());
      }
      auto own = std::make_unique<OwnResolver>(resolver::DependencyResolver(
          src_dirs, false, excludes, std::move(include_dirs), repo_path_, std::move(dependency_roots)));
      own_resolver_ = &own->impl();
      resolver_ = std::move(own);
    }
    if (options_.on_left_out)
      for (const auto& [path, reason] : resolver_->left_out_sources())
        options_.on_left_out(util::relative_to_root(path, repo_path_), reason);
    // The resolver's walk and the listing share each directory's read; once
    // both are made the listings are of no further use.
    tree_.emplace(repo_path_);
    tree_->listing();
    directory_cache_.reset();
    carriers_.emplace(*tree_);

    library_ = probes_.detect_library_name(repo_path_);
    test_info_ = probes_.detect_test_infrastructure(repo_path_);
    units_ = resolver_->entity_map();
    std::sort(units_.begin(), units_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    lists_.emplace(*resolver_, own_resolver_, repo_path_, dependency_paths_);
    if (own_resolver_ && options_.on_unit)
      for (const auto& [unit_name, unit_path] : own_resolver_->dependency_units())
        dependency_units_[lists_->intern(unit_path)].push_back(unit_name);
    // Each entity's own source may name its licence (an SPDX line, a vendor's
    // proprietary notice), which then holds whatever the repository's says.
    license_id_ = license::detect_license(repo_path_);
    checks_need_lists_ = !probes_.can_run_checks || probes_.can_run_checks();
    use_graph_ = resolver_->use_graph();
  }

  // The skip rules, then each kept unit's compile list.
  void select_and_list() {
    slots_.reserve(units_.size());
    for (const auto& [name, path] : units_) {
      KeptUnit unit;
      unit.name = name;
      unit.path = path;
      unit.rel_path = util::relative_to_root(path, repo_path_);
      Slot slot{skip_reason(unit)};
      if (slot.skipped_by.empty()) {
        list_unit(unit);
        slot.kept = kept_.size();
        kept_.push_back(std::move(unit));
      }
      slots_.push_back(std::move(slot));
    }
  }

  std::string skip_reason(const KeptUnit& unit) const {
    if (const char* fragment = repo::path_skip_fragment(unit.rel_path)) return std::string("path under ") + fragment;
    if (const char* reason = repo::name_skip_reason(unit.name)) return reason;
    const auto decl_kind = repo::classify_top_declaration(unit.name, unit.path);
    if (decl_kind && !repo::is_installable_kind(*decl_kind))
      return "declared as " + *decl_kind + ", not a module or entity";
    return "";
  }

  void list_unit(KeptUnit& unit) {
    CompileLists& lists = *lists_;
    unit.plain = lists.plain_node(unit.name);
    // Which carriers a list needs depends on every macro its files use: with
    // carriers around, even a plain unit's list is made now. Probes that need
    // no list of a plain unit: its list waits for its row.
    const bool listed = !unit.plain || checks_need_lists_ || !probes_.detect_vendor_deps_in_file || options_.on_unit ||
                        !dependency_paths_.empty() || carriers_->any_in(lists.scope_of(*unit.plain));
    if (listed) {
      unit.list = lists.own_files(lists.files(unit.name, unit.rel_path), &unit.taken);
      std::vector<std::string> rel_files;
      for (const FileId f : *unit.list) rel_files.push_back(lists.path(f));
      for (const std::string& carrier : repo::collect_define_carriers(*carriers_, rel_files))
        unit.carriers.push_back(lists.intern(carrier));
      unit.own = unit.list->back();
      unit.several_files = detail::row_files<std::vector<std::string>>(lists, unit.carriers, *unit.list).size() > 1;
    } else {
      unit.own = lists.own_file(*unit.plain);
      unit.several_files = lists.has_deps(*unit.plain) || std::any_of(unit.carriers.begin(), unit.carriers.end(),
                                                                      [&](FileId c) { return c != unit.own; });
    }
    for (const FileId carrier : unit.carriers)
      if (carrier != unit.own) use(carrier);
    if (unit.list) {
      for (const FileId f : *unit.list)
        if (f != unit.own) use(f);
    } else if (!use_graph_) {
      lists.for_each_new_file_below(*unit.plain, [this](FileId f) { use(f); });
    }
  }

  // Without a use graph: marks a file that some kept unit's list holds besides its own.
  void use(FileId file) {
    if (use_graph_) return;
    if (used_.size() <= file) used_.resize(file + 1);
    used_[file] = true;
  }

  // A listed unit's row files, joined to the repository: what its probes get.
  PathList absolute_files(const KeptUnit& unit) const {
    PathList files;
    for (const std::string& f : detail::row_files<std::vector<std::string>>(*lists_, unit.carriers, *unit.list))
      files.push_back(util::is_absolute_path(f) ? f : util::join_path(repo_path_, f));
    return files;
  }

  // The files a check of `unit` compiles: the dependencies' first, then
  // `absolute` (absolute_files of the unit).
  PathList check_files(const KeptUnit& unit, const PathList& absolute) const {
    PathList files;
    if (!checks_need_lists_) return files;
    for (const FileId f : unit.taken) files.push_back(lists_->path(f));
    files.insert(files.end(), absolute.begin(), absolute.end());
    return files;
  }

  static bool is_verilog(const KeptUnit& unit) {
    const std::string suffix = util::path_suffix_lower(unit.path);
    return suffix == ".v" || suffix == ".sv";
  }

  // Every check the units will ask, run `jobs` at a time; their own calls
  // then find them answered.
  void check_ahead() {
    if (options_.on_stage) options_.on_stage(ScanStage::kChecksAhead);
    std::vector<ToolCheck> checks;
    for (const KeptUnit& unit : kept_) {
      PathList files = check_files(unit, absolute_files(unit));
      checks.push_back({files, library_, std::nullopt});
      if (is_verilog(unit))
        checks.push_back(
            {std::move(files), std::nullopt,
             probes_.verify_verilog_unit ? std::optional<std::string>(unit.name) : std::optional<std::string>()});
    }
    run_checks(checks, options_.jobs, probes_.check_ahead, repo_path_, dependency_paths_);
  }

  // Per unit in map order: progress, the probes, tags, description, licence.
  void probe_units() {
    const auto verdict_by_key = index_of(options_.description_verdicts);
    const auto previous_by_name = index_of(options_.previous_descriptions);
    for (std::size_t index = 0; index < units_.size(); ++index) {
      const Slot& slot = slots_[index];
      if (options_.progress) options_.progress(index, units_.size(), units_[index].first);
      if (slot.kept == Slot::kNone) {
        if (options_.on_unit)
          options_.on_unit(
              {units_[index].first, util::relative_to_root(units_[index].second, repo_path_), slot.skipped_by, {}, {}});
        continue;
      }
      KeptUnit& unit = kept_[slot.kept];
      probe_unit(unit);
      describe_unit(unit, verdict_by_key, previous_by_name);
      if (options_.on_unit) report_unit(unit);
      unit.list.reset();
      unit.taken = {};
    }
  }

  void probe_unit(KeptUnit& unit) {
    CompileLists& lists = *lists_;
    const PathList absolute = unit.list ? absolute_files(unit) : PathList{};
    const PathList files = check_files(unit, absolute);
    if (const auto& in_file = probes_.detect_vendor_deps_in_file) {
      std::vector<std::string> found = lists.vendor_deps_of(unit.carriers, in_file);
      const std::vector<std::string> of_list =
          unit.list ? lists.vendor_deps_of(*unit.list, in_file) : lists.vendor_deps_of(*unit.plain, in_file);
      found.insert(found.end(), of_list.begin(), of_list.end());
      std::sort(found.begin(), found.end());
      found.erase(std::unique(found.begin(), found.end()), found.end());
      unit.vendor_deps = found;
    } else {
      unit.vendor_deps = probes_.detect_vendor_deps(absolute);
    }
    const Json standard = probes_.detect_vhdl_standard(files, library_);
    if (!standard.is_array()) throw TypeError("detect_vhdl_standard must return two values (standard, verified)");
    if (standard.size() != 2) throw ValueError("detect_vhdl_standard must return exactly two values");
    unit.std_value = standard[0];
    unit.verified = standard[1];
    if (is_verilog(unit)) {
      unit.language = util::path_suffix_lower(unit.path) == ".sv" ? "systemverilog" : "verilog";
      unit.std_value = unit.language;
      unit.verified =
          probes_.verify_verilog_unit ? probes_.verify_verilog_unit(files, unit.name) : probes_.verify_verilog(files);
    } else {
      unit.language = unit.std_value == "unknown" ? Json("vhdl-2008") : unit.std_value;
    }
  }

  void describe_unit(KeptUnit& unit, const std::unordered_map<std::string_view, const Json*>& verdict_by_key,
                     const std::unordered_map<std::string_view, const Json*>& previous_by_name) {
    unit.tags = tags::generate_tags(unit.name, string_list(unit.vendor_deps, "detect_vendor_deps result"),
                                    context_.settings.tag_cap);
    std::optional<std::string> previous;
    if (const auto it = previous_by_name.find(unit.name); it != previous_by_name.end())
      previous = optional_text(*it->second, "previous_descriptions values");
    // The one verdict of "namespace/name" is handed over alone, so the lookup
    // does not search them all.
    std::optional<std::string> locked;
    const std::string key = id_.ns + "/" + unit.name;
    if (const auto it = verdict_by_key.find(key); it != verdict_by_key.end()) {
      Json single = Json::object();
      single[key] = *it->second;
      locked = describe::verdict_locked_text(&single, id_.ns, unit.name);
    }
    const std::string language = unit.language.is_string() ? unit.language.get<std::string>() : unit.language.dump();
    unit.description = describe::generate_description({unit.name, unit.path, id_.ns, language}, context_.services,
                                                      context_.settings.llm, options_.use_llm,
                                                      {std::move(previous), std::move(locked)});
    unit.badges = probes_.compute_badges(unit.verified, test_info_);
    const std::string own = license::unit_license(unit.path);
    unit.license = own.empty() ? license_id_ : own;
  }

  void report_unit(const KeptUnit& unit) {
    std::vector<DependencyFile> from_dependencies;
    for (const FileId f : unit.taken) {
      const std::size_t d = *lists_->dependency_of(f);
      const auto declared = dependency_units_.find(f);
      from_dependencies.push_back(
          {options_.dependencies[d].ns, util::relative_to_root(lists_->path(f), dependency_paths_[d]),
           declared == dependency_units_.end() ? std::vector<std::string>{} : declared->second});
    }
    options_.on_unit({unit.name, unit.rel_path, "",
                      detail::row_files<std::vector<std::string>>(*lists_, unit.carriers, *unit.list),
                      std::move(from_dependencies)});
  }

  void assign_roles() {
    if (use_graph_) {
      detail::assign_roles_by_use(kept_, *use_graph_);
    } else {
      detail::assign_roles_by_files(kept_, used_);
      detail::assign_components_by_files(kept_, *lists_);
    }
  }

  // A unit's row, its list listed again.
  Json row_of(const KeptUnit& unit) {
    const FileIds list = lists_->own_files(lists_->files(unit.name, unit.rel_path));
    Json files = detail::row_files<Json>(*lists_, unit.carriers, list);
    Json row = Json::object();
    // The keys set here: one allocation instead of a doubling vector left
    // half empty in every row.
    row.get_ref<Json::object_t&>().reserve(19);
    row["name"] = unit.name;
    row["namespace"] = id_.ns;
    row["source"] = {{"type", "git"}, {"url", id_.url}, {"tag", id_.tag}, {"ip_yml_path", "."}};
    const std::size_t dep_count = files.size();
    row["quarrix_compat"] = {{"language", unit.language}, {"library", library_}, {"files", std::move(files)}};
    row["description"] = unit.description.first;
    row["desc_source"] = unit.description.second;
    row["license"] = "";
    row["dep_count"] = dep_count;
    row["vhdl_standard"] = unit.std_value;
    row["vendor_deps"] = unit.vendor_deps;
    row["verified"] = unit.verified;
    row["badges"] = unit.badges;
    row["test_info"] = test_info_;
    row["tags"] = unit.tags;
    row["role"] = unit.role;
    if (detail::is_top(unit)) {
      Json components = Json::array();
      for (const std::size_t c : unit.components) components.push_back(kept_[c].name);
      row["components"] = std::move(components);
    }
    row["license"] = unit.license;
    row["license_class"] = license::classify_license(unit.license);
    if (!external_uses_.empty()) row["external_uses"] = external_uses_;
    if (!packages_of_file_.empty()) {
      std::vector<std::string> provides;
      std::unordered_set<FileId> seen;
      const auto add = [&](FileId f) {
        const auto it = packages_of_file_.find(f);
        if (it != packages_of_file_.end() && seen.insert(f).second)
          provides.insert(provides.end(), it->second.begin(), it->second.end());
      };
      for (const FileId f : unit.carriers) add(f);
      for (const FileId f : list) add(f);
      std::sort(provides.begin(), provides.end());
      provides.erase(std::unique(provides.begin(), provides.end()), provides.end());
      if (!provides.empty()) row["provides_packages"] = provides;
    }
    return row;
  }

  void emit_rows(const RowSink& sink) {
    external_uses_ = Json::array();
    for (const auto& [lib, package] : resolver_->unresolved_use_clauses())
      external_uses_.push_back({{"library", lib}, {"package", package}});
    for (const auto& [package, path] : resolver_->package_map())
      packages_of_file_[lists_->intern(util::relative_to_root(path, repo_path_))].push_back(package);

    const bool repo_row = gives_repo_row(options_.granularity);
    if (repo_row || gives_subproject_rows(options_.granularity)) {
      // The aggregate rows need every unit's row at once.
      Json entries = Json::array();
      Json roles = Json::object();
      // Names are unique: appended, not looked up one by one.
      auto& members = static_cast<std::vector<std::pair<const std::string, Json>>&>(roles.get_ref<Json::object_t&>());
      for (const KeptUnit& unit : kept_) {
        entries.push_back(row_of(unit));
        members.emplace_back(unit.name, unit.role);
      }
      const Json* verdicts = options_.description_verdicts ? &*options_.description_verdicts : nullptr;
      const aggregate::RowContext row_context{context_.settings.tag_cap, context_.services.is_suspect, verdicts};
      const aggregate::RowIdentity identity{id_.ns, id_.url, id_.tag};
      Json rows = repo_row ? aggregate::aggregate_repo_entry(entries, roles, *carriers_, identity, row_context)
                           : aggregate::aggregate_subproject_entries(entries, roles, repo_path_, identity,
                                                                     *options_.bucket_map, row_context);
      for (Json& row : rows) sink(std::move(row));
      return;
    }
    const bool tops_only = keeps_top_rows_only(options_.granularity);
    for (const KeptUnit& unit : kept_)
      if (!tops_only || detail::is_top(unit) || std::string_view(unit.role) == "component") sink(row_of(unit));
  }

  const std::string& repo_path_;
  const ScanIdentity& id_;
  const ScanProbes& probes_;
  const ScanOptions& options_;
  const ScanContext& context_;
  const std::vector<std::string> dependency_paths_;
  // Nothing outside the repository and its dependencies is read, whatever
  // their links point at.
  const util::ReadConfinement confinement_;
  // Every source is read once: the resolver, the declaration check and the
  // description extractors share the text. Dropped once the units are done.
  std::optional<util::ScanTextCache> text_cache_;
  std::optional<util::ScanDirectoryCache> directory_cache_;
  std::optional<repo::RepoTree> tree_;
  std::optional<repo::DefineCarrierIndex> carriers_;

  std::unique_ptr<Resolver> resolver_;
  const resolver::DependencyResolver* own_resolver_ = nullptr;
  std::optional<CompileLists> lists_;
  std::unordered_map<FileId, std::vector<std::string>> dependency_units_;  // for the report
  std::vector<std::pair<std::string, std::string>> units_;
  std::optional<resolver::UseGraph> use_graph_;
  Json library_, test_info_;
  std::string license_id_;
  bool checks_need_lists_ = true;

  std::vector<Slot> slots_;
  std::vector<KeptUnit> kept_;
  std::vector<bool> used_;
  Json external_uses_;
  std::unordered_map<FileId, std::vector<std::string>> packages_of_file_;
};

}  // namespace

Scan::Scan(std::string repo_path, ScanIdentity identity, ScanProbes probes, ScanOptions options, ScanContext context)
    : repo_path_(std::move(repo_path)),
      identity_(std::move(identity)),
      probes_(std::move(probes)),
      options_(std::move(options)),
      context_(std::move(context)) {}

Scan::Scan(std::string repo_path, ScanIdentity identity, const ScanTools& tools, ScanOptions options,
           ScanContext context)
    : repo_path_(std::move(repo_path)),
      identity_(std::move(identity)),
      options_(std::move(options)),
      context_(std::move(context)) {
  if (tools.run && tools.cache_file) cache_ = std::make_shared<probes::ToolCache>(*tools.cache_file);
  if (tools.run) tools_ = std::make_shared<probes::ToolSession>(context_.settings.tools, cache_);
  probes_ = default_probes(tools_);
}

void Scan::run(const RowSink& sink) {
  Run run(repo_path_, identity_, probes_, options_, context_);
  run(sink, counts_);
}

}  // namespace quarrix::pipeline
