#include <nanobind/stl/optional.h>

#include "common/convert.hpp"
#include "ip_scanner/bindings.hpp"
#include "ip_scanner/module_services.hpp"
#include "ip_scanner/py_probes.hpp"
#include "ip_scanner/py_resolver.hpp"
#include "quarrix/aggregate/roles.hpp"
#include "quarrix/pipeline/scan_repo.hpp"
#include "quarrix/repo/declarations.hpp"
#include "quarrix/util/errors.hpp"

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

nb::object scan_repo(nb::handle repo_path, nb::handle ns, nb::handle url, nb::handle tag, nb::handle commit,
                     nb::handle probes, nb::handle use_llm, nb::handle granularity, nb::handle previous_descriptions,
                     nb::handle description_verdicts, nb::handle exclude_dirs, nb::handle bucket_map,
                     nb::handle dependencies, nb::handle unit_report) {
  // Every argument is checked before any work.
  const std::string root = path_arg(repo_path, "repo_path");
  const std::string ns_s = str_arg(ns, "namespace");
  const std::string url_s = str_arg(url, "url");
  const std::string tag_s = str_arg(tag, "tag");
  const std::string commit_s = str_arg(commit, "commit");
  pipeline::ScanOptions options;
  options.granularity = str_arg(granularity, "granularity");
  options.previous_descriptions = map_param(previous_descriptions, "previous_descriptions");
  options.description_verdicts = map_param(description_verdicts, "description_verdicts");
  options.bucket_map = map_param(bucket_map, "bucket_map");
  options.exclude_dirs = exclude_param(exclude_dirs);
  options.dependencies = dependencies_param(dependencies);
  options.use_llm = truth_of(use_llm);
  if (pipeline::needs_bucket_map(options.granularity) && !options.bucket_map)
    throw nb::value_error(pipeline::kSubprojectNeedsBucketMap);
  options.resolver_factory = resolver_factory_for_scan();
  if (options.resolver_factory && !options.dependencies.empty())
    throw nb::value_error(pipeline::kDependenciesNeedOwnResolver);
  if (!unit_report.is_none() && !is_list(unit_report))
    type_error("unit_report must be a list or None, not " + py_type_name(unit_report));
  const pipeline::ScanProbes cpp_probes = wrap_probes(probes);

  // What each kept unit took from the dependencies, for a host that records the edges between repositories.
  Json report = Json::array();
  if (!unit_report.is_none()) {
    options.on_unit = [&report](const pipeline::UnitDecision& d) {
      if (!d.skipped_by.empty()) return;
      Json taken = Json::array();
      for (const pipeline::DependencyFile& file : d.from_dependencies)
        taken.push_back(Json{{"namespace", file.ns}, {"file", file.file}, {"units", file.units}});
      report.push_back(Json{{"name", d.name}, {"path", d.path}, {"from_dependencies", std::move(taken)}});
    };
  }
  Json rows;
  {
    nb::gil_scoped_release release;
    rows = pipeline::scan_repo(root, ns_s, url_s, tag_s, commit_s, cpp_probes, options, context_from_environment());
  }
  if (!unit_report.is_none())
    for (nb::handle unit : nb::list(from_json(report))) nb::borrow<nb::list>(unit_report).append(unit);
  return from_json(rows);
}

}  // namespace

void bind_scan(nb::module_& m) {
  nb::register_exception_translator([](const std::exception_ptr& error, void*) {
    try {
      std::rethrow_exception(error);
    } catch (const TypeError& e) {
      PyErr_SetString(PyExc_TypeError, e.what());
    } catch (const KeyError& e) {
      PyErr_SetObject(PyExc_KeyError, to_pystr(e.what()).ptr());
    } catch (const quarrix::resolver::UnknownUnitError& e) {
      PyErr_SetObject(PyExc_KeyError, to_pystr(e.what()).ptr());
    } catch (const quarrix::resolver::DependencyCycleError& e) {
      PyErr_SetString(PyExc_RecursionError, e.what());
    }
  });

  bind_scan_probes(m);

  m.def("scan_repo", &scan_repo,
        nb::sig("def scan_repo(repo_path: " QUARRIX_PY_PATH ", namespace: str, url: str, tag: str, commit: str, "
                "probes: ScanProbes, use_llm: bool = True, granularity: str = 'top', "
                "previous_descriptions: " QUARRIX_PY_JSON_MAP
                " | None = None, description_verdicts: " QUARRIX_PY_JSON_MAP " | None = None, "
                "exclude_dirs: list[str] | None = None, bucket_map: " QUARRIX_PY_JSON_MAP
                " | None = None, dependencies: list[tuple[" QUARRIX_PY_PATH ", str]] | None = None, "
                "unit_report: list[dict[str, typing.Any]] | None = None) -> " QUARRIX_PY_ROWS),
        "repo_path"_a, "namespace"_a, "url"_a, "tag"_a, "commit"_a, "probes"_a, "use_llm"_a = true,
        "granularity"_a = "top", "previous_descriptions"_a = nb::none(), "description_verdicts"_a = nb::none(),
        "exclude_dirs"_a = nb::none(), "bucket_map"_a = nb::none(), "dependencies"_a = nb::none(),
        "unit_report"_a = nb::none(), "Scan a cloned repo and return a list of discovered IP entries.");

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
