#include <nanobind/stl/optional.h>

#include "common/convert.hpp"
#include "ip_scanner/bindings.hpp"
#include "ip_scanner/module_services.hpp"
#include "ip_scanner/py_probes.hpp"
#include "ip_scanner/py_resolver.hpp"
#include "quarrix/aggregate/roles.hpp"
#include "quarrix/llm/chain.hpp"
#include "quarrix/pipeline/memory_size.hpp"
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

// Each of the three: a missing handle (scan_repo's) is None.

// llm_providers: known provider names, in the order they are asked.
std::optional<std::vector<std::string>> providers_param(nb::handle obj) {
  if (!obj.is_valid() || obj.is_none()) return std::nullopt;
  if (!is_list(obj)) type_error("llm_providers must be a list or None, not " + py_type_name(obj));
  std::vector<std::string> out;
  for (nb::handle item : obj) {
    std::string name = str_arg(item, "llm_providers items");
    if (!llm::find_provider(name)) throw nb::value_error(("unknown provider in llm_providers: " + name).c_str());
    out.push_back(std::move(name));
  }
  return out;
}

// llm_pace: seconds after each provider call; infinity, as in QUARRIX_LLM_PACE, is none.
std::optional<double> pace_param(nb::handle obj) {
  if (!obj.is_valid() || obj.is_none()) return std::nullopt;
  if (PyBool_Check(obj.ptr()) || (!PyFloat_Check(obj.ptr()) && !PyLong_Check(obj.ptr())))
    type_error("llm_pace must be a number or None, not " + py_type_name(obj));
  const double pace = PyFloat_AsDouble(obj.ptr());
  if (PyErr_Occurred()) throw nb::python_error();
  if (!(pace >= 0)) throw nb::value_error("llm_pace must be a number of seconds >= 0");
  return pace;
}

llm::ProviderCall provider_call_param(nb::handle obj) {
  if (!obj.is_valid() || obj.is_none()) return {};
  if (!PyCallable_Check(obj.ptr())) type_error("provider_call must be callable or None, not " + py_type_name(obj));
  return host_provider_call(nb::borrow(obj));
}

// The arguments of scan_repo, as the Python call gave them.
struct ScanArguments {
  nb::handle repo_path, ns, url, tag, commit, probes, use_llm, granularity, previous_descriptions, description_verdicts,
      exclude_dirs, bucket_map, dependencies;
};

// What a Scan's caller sets of the language-model tier in place of the
// environment and the module's adapters.
struct LlmChoices {
  nb::handle providers, pace, provider_call;
};

// A scan built from a Python call's arguments, every one checked before any work.
struct PyScan {
  std::string repo_path;
  pipeline::ScanIdentity identity;
  pipeline::ScanProbes probes;
  pipeline::ScanOptions options;
  bool report_units = false;
  pipeline::ScanCounts counts;
  Json units = Json::array();                             // of the last run, when report_units
  std::optional<std::vector<std::string>> llm_providers;  // none: QUARRIX_LLM_PROVIDERS
  std::optional<double> llm_pace;                         // none: QUARRIX_LLM_PACE
  llm::ProviderCall provider_call;                        // empty: the module's adapters

  PyScan(const ScanArguments& args, unsigned jobs, bool report_units_arg, const LlmChoices& llm = {}) {
    report_units = report_units_arg;
    repo_path = path_arg(args.repo_path, "repo_path");
    identity = {str_arg(args.ns, "namespace"), str_arg(args.url, "url"), str_arg(args.tag, "tag"),
                str_arg(args.commit, "commit")};
    options.granularity = str_arg(args.granularity, "granularity");
    options.previous_descriptions = map_param(args.previous_descriptions, "previous_descriptions");
    options.description_verdicts = map_param(args.description_verdicts, "description_verdicts");
    options.bucket_map = map_param(args.bucket_map, "bucket_map");
    options.exclude_dirs = exclude_param(args.exclude_dirs);
    options.dependencies = dependencies_param(args.dependencies);
    options.use_llm = truth_of(args.use_llm);
    if (jobs < 1) throw nb::value_error("jobs must be at least 1");
    options.jobs = jobs;
    if (pipeline::needs_bucket_map(options.granularity) && !options.bucket_map)
      throw nb::value_error(pipeline::kSubprojectNeedsBucketMap);
    options.resolver_factory = resolver_factory_for_scan();
    if (options.resolver_factory && !options.dependencies.empty())
      throw nb::value_error(pipeline::kDependenciesNeedOwnResolver);
    probes = wrap_probes(args.probes);
    llm_providers = providers_param(llm.providers);
    llm_pace = pace_param(llm.pace);
    provider_call = provider_call_param(llm.provider_call);
  }

  // The rows; the module's services are looked up now, once.
  nb::object run() {
    Json rows = Json::array();
    pipeline::ScanContext context = context_from_environment();
    if (llm_providers) context.settings.llm.providers = *llm_providers;
    if (llm_pace) context.settings.llm.pace = *llm_pace;
    if (provider_call) context.services.llm.ask = provider_call;
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

#define QUARRIX_SCAN_ARGS \
  "repo_path: " QUARRIX_PY_PATH \
  ", namespace: str, url: str, tag: str, commit: str, probes: ScanProbes, " \
  "use_llm: bool = True, granularity: str = 'top', previous_descriptions: " QUARRIX_PY_JSON_MAP \
  " | None = None, description_verdicts: " QUARRIX_PY_JSON_MAP \
  " | None = None, exclude_dirs: list[str] | None = " \
  "None, bucket_map: " QUARRIX_PY_JSON_MAP " | None = None, dependencies: list[tuple[" QUARRIX_PY_PATH \
  ", str]] | None = None"

// The Scan class: checked at construction, run by run().
void bind_scan_class(nb::module_& m) {
  nb::class_<PyScan>(m, "Scan",
                     "One repository's scan, built from the arguments of scan_repo (checked now) and run by run().\n"
                     "jobs tool checks run at once when the probes are the built-in ones; the rows do not depend "
                     "on it.\n"
                     "llm_providers and llm_pace replace QUARRIX_LLM_PROVIDERS and QUARRIX_LLM_PACE;\n"
                     "provider_call(provider, name, sig, lang, api_key, hints) -> (text or None, outcome)\n"
                     "is asked in place of every provider's adapter.")
      .def(
          "__init__",
          [](PyScan* self, nb::handle repo_path, nb::handle ns, nb::handle url, nb::handle tag, nb::handle commit,
             nb::handle probes, nb::handle use_llm, nb::handle granularity, nb::handle previous_descriptions,
             nb::handle description_verdicts, nb::handle exclude_dirs, nb::handle bucket_map, nb::handle dependencies,
             unsigned jobs, bool report_units, nb::handle llm_providers, nb::handle llm_pace,
             nb::handle provider_call) {
            new (self) PyScan({repo_path, ns, url, tag, commit, probes, use_llm, granularity, previous_descriptions,
                               description_verdicts, exclude_dirs, bucket_map, dependencies},
                              jobs, report_units, {llm_providers, llm_pace, provider_call});
          },
          nb::sig("def __init__(self, " QUARRIX_SCAN_ARGS
                  ", *, jobs: int = 1, report_units: bool = False, llm_providers: list[str] | None = None, "
                  "llm_pace: float | None = None, provider_call: collections.abc.Callable[[str, str, str, str, "
                  "str, " QUARRIX_PY_JSON_MAP " | None], tuple[str | None, str]] | None = None) -> None"),
          "repo_path"_a, "namespace"_a, "url"_a, "tag"_a, "commit"_a, "probes"_a, "use_llm"_a = true,
          "granularity"_a = "top", "previous_descriptions"_a = nb::none(), "description_verdicts"_a = nb::none(),
          "exclude_dirs"_a = nb::none(), "bucket_map"_a = nb::none(), "dependencies"_a = nb::none(), nb::kw_only(),
          "jobs"_a = 1, "report_units"_a = false, "llm_providers"_a = nb::none(), "llm_pace"_a = nb::none(),
          "provider_call"_a = nb::none())
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
}

// scan_repo: a Scan of one tool check at a time, run once.
void bind_scan_repo(nb::module_& m) {
  m.def(
      "scan_repo",
      [](nb::handle repo_path, nb::handle ns, nb::handle url, nb::handle tag, nb::handle commit, nb::handle probes,
         nb::handle use_llm, nb::handle granularity, nb::handle previous_descriptions, nb::handle description_verdicts,
         nb::handle exclude_dirs, nb::handle bucket_map, nb::handle dependencies) {
        return PyScan({repo_path, ns, url, tag, commit, probes, use_llm, granularity, previous_descriptions,
                       description_verdicts, exclude_dirs, bucket_map, dependencies},
                      1, false)
            .run();
      },
      nb::sig("def scan_repo(" QUARRIX_SCAN_ARGS ") -> " QUARRIX_PY_ROWS), "repo_path"_a, "namespace"_a, "url"_a,
      "tag"_a, "commit"_a, "probes"_a, "use_llm"_a = true, "granularity"_a = "top",
      "previous_descriptions"_a = nb::none(), "description_verdicts"_a = nb::none(), "exclude_dirs"_a = nb::none(),
      "bucket_map"_a = nb::none(), "dependencies"_a = nb::none(),
      "Scan a cloned repo and return a list of discovered IP entries.");
}

#undef QUARRIX_SCAN_ARGS

// --tool-memory's size, as quarrix-scan reads it, for quarrix-batch.
void bind_memory_size(nb::module_& m) {
  m.def(
      "_parse_memory_size",
      [](const std::string& text) {
        const pipeline::MemorySize size = pipeline::parse_memory_size(text);
        using Fault = pipeline::MemorySize::Fault;
        const char* fault = size.fault == Fault::kNone       ? ""
                            : size.fault == Fault::kZero     ? "zero"
                            : size.fault == Fault::kTooLarge ? "too large"
                                                             : "invalid";
        return nb::make_tuple(size.bytes, fault);
      },
      nb::sig("def _parse_memory_size(text: str) -> tuple[int, str]"), "text"_a,
      "(bytes, '') for a size such as 512M or 2G (a bare number is MiB), else (0, 'invalid', 'zero' or 'too large').");
}

// Roles and the declaration check, as the scan uses them.
void bind_roles_and_declarations(nb::module_& m) {
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

}  // namespace

void bind_scan(nb::module_& m) {
  bind_scan_probes(m);
  bind_scan_class(m);
  bind_scan_repo(m);
  bind_roles_and_declarations(m);
  bind_memory_size(m);
}

}  // namespace quarrix::py
