// Description chain, verdict registry and the replaceable validator: the
// chain reaches it through the module attribute `_desc_is_suspect`
// (module_services.hpp), which starts as description_validator.is_suspect.

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>

#include <quarrix/describe/chain.hpp>
#include <quarrix/describe/verdicts.hpp>

#include "common/convert.hpp"
#include "ip_scanner/bindings.hpp"
#include "ip_scanner/module_services.hpp"

namespace quarrix::py {

using namespace nb::literals;

namespace {

// The curator verdict registry.
void bind_verdicts(nb::module_& m) {
  m.def(
      "load_description_verdicts",
      [](nb::handle index_dir) -> nb::object {
        if (index_dir.is_none()) return nb::dict();
        return from_json(describe::load_description_verdicts(path_arg(index_dir, "index_dir")));
      },
      nb::sig("def load_description_verdicts(index_dir: " QUARRIX_PY_PATH " | None) -> " QUARRIX_PY_JSON_MAP),
      "index_dir"_a.none(),
      "The curator verdict map of <index_dir>/descriptions_verdicts.json; {} when there is none.");

  m.def(
      "verdict_locked_text",
      [](nb::handle verdicts, const std::string& ns, const std::string& name) -> std::optional<std::string> {
        if (verdicts.is_none()) return describe::verdict_locked_text(nullptr, ns, name);
        if (!is_dict(verdicts)) type_error("verdicts must be a dict or None, not " + py_type_name(verdicts));
        const Json map = to_json(verdicts, "verdicts");
        return describe::verdict_locked_text(&map, ns, name);
      },
      nb::sig("def verdict_locked_text(verdicts: " QUARRIX_PY_JSON_MAP
              " | None, namespace: str, name: str) -> str | None"),
      "verdicts"_a.none(), "namespace"_a, "name"_a,
      "The curator-locked text of namespace/name when its verdict is \"good\", else None.");
}

// The description chain and its acceptance test.
void bind_description_chain(nb::module_& m) {
  m.def(
      "generate_description",
      [](const std::string& entity_name, nb::handle entity_path, const std::string& ns, const std::string& language,
         nb::handle use_llm, const std::optional<std::string>& previous_description,
         const std::optional<std::string>& locked_description) {
        const std::string path = path_arg(entity_path, "entity_path");
        const bool llm = truth_of(use_llm);
        std::pair<std::string, std::string> result;
        const pipeline::ScanContext context = context_from_environment();
        {
          nb::gil_scoped_release unlocked;
          result =
              describe::generate_description({entity_name, path, ns, language}, context.services, context.settings.llm,
                                             llm, {previous_description, locked_description});
        }
        return nb::make_tuple(to_pystr(result.first), to_pystr(result.second));
      },
      nb::sig("def generate_description(entity_name: str, entity_path: " QUARRIX_PY_PATH
              ", namespace: str, language: str, use_llm: bool | None = True, previous_description: str | None = None, "
              "locked_description: str | None = None) -> tuple[str, str]"),
      "entity_name"_a, "entity_path"_a, "namespace"_a, "language"_a, "use_llm"_a.none() = true,
      "previous_description"_a = nb::none(), "locked_description"_a = nb::none(),
      "(description, source) of one design unit; source is \"verdict\", \"header\", \"ports\",\n"
      "\"llm\", \"preserved\" or \"auto\".");

  m.def(
      "_accept_desc",
      [](const std::optional<std::string>& desc, const std::string& name, const std::string& ns) {
        return describe::accept_desc(desc, name, ns, module_services().is_suspect);
      },
      "desc"_a.none(), "name"_a, "namespace"_a,
      "True when `desc` is a non-empty text that _desc_is_suspect does not reject.");
}

}  // namespace

void bind_describe(nb::module_& m) {
  nb::object native = nb::module_::import_("quarrix_core.description_validator").attr("is_suspect");
  m.attr("_desc_is_suspect") = native;
  remember_native_validator(native);
  remember_module(m);

  bind_verdicts(m);
  bind_description_chain(m);
}

}  // namespace quarrix::py
