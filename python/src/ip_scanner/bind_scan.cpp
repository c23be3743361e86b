#include <nanobind/stl/optional.h>

#include "common/convert.hpp"
#include "ip_scanner/bindings.hpp"
#include "ip_scanner/module_services.hpp"
#include "ip_scanner/py_probes.hpp"
#include "ip_scanner/py_resolver.hpp"
#include "quarrix/aggregate/roles.hpp"
#include "quarrix/pipeline/scan.hpp"
#include "quarrix/repo/declarations.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace quarrix::py {

namespace {

std::optional<Json> map_param(nb::handle obj, const char* name) {
  if (obj.is_none()) return std::nullopt;
  if (!is_dict(obj)) type_error(std::string(name) + " must be a dict or None, not " + py_type_name(obj));
  return to_json(obj, name);
}

std::vector<std::string> exclude_param(nb::handle obj) {
  std::vector<std::string> out;
  if (obj.is_none()) return out;
  if (!is_list(obj)) type_error("exclude_dirs must be a list or None, not " + py_type_name(obj));
  for (nb::handle item : obj) out.push_back(str_arg(item, "exclude_dirs items"));
  return out;
}

// [(checkout, namespace), ...] -> the scan's dependencies.
std::vector<pipeline::ScanDependency> dependencies_param(nb::handle obj) {
  std::vector<pipeline::ScanDependency> out;
  if (obj.is_none()) return out;
  if (!is_list(obj)) type_error("dependencies must be a list or None, not " + py_type_name(obj));
  for (nb::handle item : obj) {
    if (!nb::isinstance<nb::tuple>(item) || nb::len(item) != 2)
      type_error("dependencies items must be (path, namespace) tuples");
    out.push_back({path_arg(item[0], "dependency path"), str_arg(item[1], "dependency namespace")});
  }
  return out;
}

// A scan built from a Python call's arguments, every one checked before any work.
struct PyScan {
  std::string repo_path;
  pipeline::ScanIdentity identity;
  pipeline::ScanProbes probes;
  pipeline::ScanOptions options;
  bool report_units = false;
  pipeline::ScanCounts counts;
  Json units = Json::array();  // of the last run, when report_units

  PyScan(nb::handle repo_path_arg, nb::handle ns, nb::handle url, nb::handle tag, nb::handle commit,
         nb::handle probes_arg, nb::handle use_llm, nb::handle granularity, nb::handle previous_descriptions,
         nb::handle description_verdicts, nb::handle exclude_dirs, nb::handle bucket_map, nb::handle dependencies,
         unsigned jobs, bool report_units_arg) {
    report_units = report_units_arg;
    repo_path = path_arg(repo_path_arg, "repo_path");
    identity = {str_arg(ns, "namespace"), str_arg(url, "url"), str_arg(tag, "tag"), str_arg(commit, "commit")};
    options.granularity = str_arg(granularity, "granularity");
    options.previous_descriptions = map_param(previous_descriptions, "previous_descriptions");
    options.description_verdicts = map_param(description_verdicts, "description_verdicts");
    options.bucket_map = map_param(bucket_map, "bucket_map");
    options.exclude_dirs = exclude_param(exclude_dirs);
    options.dependencies = dependencies_param(dependencies);
    options.use_llm = truth_of(use_llm);
    if (jobs < 1) throw nb::value_error("jobs must be at least 1");
    options.jobs = jobs;
    if (pipeline::needs_bucket_map(options.granularity) && !options.bucket_map)
      throw nb::value_error(pipeline::kSubprojectNeedsBucketMap);
    options.resolver_factory = resolver_factory_for_scan();
    if (options.resolver_factory && !options.dependencies.empty())
      throw nb::value_error(pipeline::kDependenciesNeedOwnResolver);
    probes = wrap_probes(probes_arg);
  }

  // The rows; the module's services are looked up now, once.
  nb::object run() {
    Json rows = Json::array();
    pipeline::ScanContext context = context_from_environment();
    pipeline::ScanOptions run_options = options;
    units = Json::array();
    if (report_units)
      run_options.on_unit = [this](const pipeline::UnitDecision& d) {
        if (!d.skipped_by.empty()) return;
        Json taken = Json::array();
        for (const pipeline::DependencyFile& file : d.from_dependencies)
          taken.push_back(Json{{"namespace", file.ns}, {"file", file.file}, {"units", file.units}});
        units.push_back(Json{{"name", d.name}, {"path", d.path}, {"from_dependencies", std::move(taken)}});
      };
    {
      nb::gil_scoped_release release;
      pipeline::Scan scan(repo_path, identity, probes, std::move(run_options), std::move(context));
      scan.run([&rows](Json&& row) { rows.push_back(std::move(row)); });
      counts = scan.counts();
    }
    return from_json(rows);
  }
};

}  // namespace

void bind_scan(nb::module_& m) {
  bind_scan_probes(m);

#define QUARRIX_SCAN_ARGS \
  "repo_path: " QUARRIX_PY_PATH \
  ", namespace: str, url: str, tag: str, commit: str, probes: ScanProbes, " \
  "use_llm: bool = True, granularity: str = 'top', previous_descriptions: " QUARRIX_PY_JSON_MAP \
  " | None = None, description_verdicts: " QUARRIX_PY_JSON_MAP \
  " | None = None, exclude_dirs: list[str] | None = " \
  "None, bucket_map: " QUARRIX_PY_JSON_MAP " | None = None, dependencies: list[tuple[" QUARRIX_PY_PATH \
  ", str]] | None = None"
  nb::class_<PyScan>(m, "Scan",
                     "One repository's scan, built from the arguments of scan_repo (checked now) and run by run().\n"
                     "jobs tool checks run at once when the probes are the built-in ones; the rows do not depend "
                     "on it.")
      .def(nb::init<nb::handle, nb::handle, nb::handle, nb::handle, nb::handle, nb::handle, nb::handle, nb::handle,
                    nb::handle, nb::handle, nb::handle, nb::handle, nb::handle, unsigned, bool>(),
           nb::sig("def __init__(self, " QUARRIX_SCAN_ARGS ", *, jobs: int = 1, report_units: bool = False) -> None"),
           "repo_path"_a, "namespace"_a, "url"_a, "tag"_a, "commit"_a, "probes"_a, "use_llm"_a = true,
           "granularity"_a = "top", "previous_descriptions"_a = nb::none(), "description_verdicts"_a = nb::none(),
           "exclude_dirs"_a = nb::none(), "bucket_map"_a = nb::none(), "dependencies"_a = nb::none(), nb::kw_only(),
           "jobs"_a = 1, "report_units"_a = false)
      .def("run", &PyScan::run, nb::sig("def run(self) -> " QUARRIX_PY_ROWS), "Scans and returns the rows.")
      .def_prop_ro(
          "counts",
          [](const PyScan& scan) {
            nb::dict out;
            out["units"] = scan.counts.units;
            out["kept"] = scan.counts.kept;
            out["skipped"] = scan.counts.skipped;
            return out;
          },
          nb::sig("def counts(self) -> dict[str, int]"),
          "Units of the resolver's map, kept and skipped, by the last run.")
      .def_prop_ro(
          "units", [](const PyScan& scan) { return from_json(scan.units); },
          nb::sig("def units(self) -> list[dict[str, typing.Any]]"),
          "With report_units: each kept unit of the last run, its name, path and the files it took from each\n"
          "dependency (from_dependencies: namespace, file, units).");

  m.def(
      "scan_repo",
      [](nb::handle repo_path, nb::handle ns, nb::handle url, nb::handle tag, nb::handle commit, nb::handle probes,
         nb::handle use_llm, nb::handle granularity, nb::handle previous_descriptions, nb::handle description_verdicts,
         nb::handle exclude_dirs, nb::handle bucket_map, nb::handle dependencies) {
        return PyScan(repo_path, ns, url, tag, commit, probes, use_llm, granularity, previous_descriptions,
                      description_verdicts, exclude_dirs, bucket_map, dependencies, 1, false)
            .run();
      },
      nb::sig("def scan_repo(" QUARRIX_SCAN_ARGS ") -> " QUARRIX_PY_ROWS), "repo_path"_a, "namespace"_a, "url"_a,
      "tag"_a, "commit"_a, "probes"_a, "use_llm"_a = true, "granularity"_a = "top",
      "previous_descriptions"_a = nb::none(), "description_verdicts"_a = nb::none(), "exclude_dirs"_a = nb::none(),
      "bucket_map"_a = nb::none(), "dependencies"_a = nb::none(),
      "Scan a cloned repo and return a list of discovered IP entries.");
#undef QUARRIX_SCAN_ARGS

  m.def(
      "compute_roles",
      [](nb::handle entries) {
        if (!is_list(entries)) type_error("entries must be a list, not " + py_type_name(entries));
        return from_json(aggregate::compute_roles(to_json(entries, "entries")));
      },
      nb::sig("def compute_roles(entries: " QUARRIX_PY_JSON_LIST ") -> dict[str, str]"), "entries"_a,
      "Role of every entity: 'top', 'component' or 'primitive'.");

  nb::list kinds;
  for (const auto& kind : repo::installable_kinds()) kinds.append(kind);
  m.attr("_INSTALLABLE_KINDS") = nb::frozenset(kinds);
  m.def(
      "_classify_top_declaration",
      [](const std::string& entity_name, nb::handle entity_path) {
        const std::string path = path_arg(entity_path, "entity_path");
        return repo::classify_top_declaration(entity_name, path);
      },
      nb::sig("def _classify_top_declaration(entity_name: str, entity_path: " QUARRIX_PY_PATH ") -> str | None"),
      "entity_name"_a, "entity_path"_a, "Kind of declaration that carries the unit's name, or None.");
}

}  // namespace quarrix::py
