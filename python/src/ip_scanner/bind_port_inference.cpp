#include <nanobind/stl/optional.h>

#include "common/convert.hpp"
#include "ip_scanner/bindings.hpp"
#include "quarrix/describe/port_inference.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace quarrix::py {

void bind_port_inference(nb::module_& m) {
  m.attr("_MEANINGFUL_GENERICS") = describe::meaningful_generics().pattern();
  m.def(
      "_infer_description_from_ports",
      [](const std::string& entity_name, nb::handle source_path) {
        auto [description, hints] =
            describe::infer_description_from_ports(entity_name, path_arg(source_path, "source_path"));
        return nb::make_tuple(description ? nb::object(to_pystr(*description)) : nb::none(), from_json(hints));
      },
      nb::sig("def _infer_description_from_ports(entity_name: str, source_path: " QUARRIX_PY_PATH
              ") -> tuple[str | None, " QUARRIX_PY_JSON_MAP "]"),
      "entity_name"_a, "source_path"_a);
  m.def(
      "_compose_description",
      [](const std::string& entity_name, nb::handle protocols, nb::handle interfaces,
         const std::optional<std::string>& role, bool has_generics) {
        return describe::compose_description(entity_name, str_list_arg(protocols, "protocols", true),
                                             str_list_arg(interfaces, "interfaces", true), role, has_generics);
      },
      nb::sig("def _compose_description(entity_name: str, protocols: " QUARRIX_PY_STR_SEQUENCE
              ", interfaces: " QUARRIX_PY_STR_SEQUENCE ", role: str | None, has_generics: bool) -> str"),
      "entity_name"_a, "protocols"_a, "interfaces"_a, "role"_a, "has_generics"_a);
}

}  // namespace quarrix::py
