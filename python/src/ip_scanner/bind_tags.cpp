#include <nanobind/stl/vector.h>

#include "common/convert.hpp"
#include "ip_scanner/bindings.hpp"
#include "quarrix/hdl/abbreviations.hpp"
#include "quarrix/tags/tags.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace quarrix::py {

void bind_tags(nb::module_& m) {
  nb::dict abbreviations;
  for (const auto& [key, expansion] : hdl::abbreviation_map()) abbreviations[key.c_str()] = expansion;
  m.attr("ABBREVIATION_MAP") = abbreviations;
  nb::list stopwords;
  for (const auto& word : tags::tag_stopwords()) stopwords.append(word);
  m.attr("_TAG_STOPWORDS") = nb::frozenset(stopwords);
  m.attr("_TAG_CAP_DEFAULT") = tags::kTagCapDefault;

  m.def(
      "generate_tags",
      [](const std::string& entity_name, nb::handle entity_path, nb::handle dep_files, nb::handle vendor_deps,
         nb::handle repo_path) {
        // The paths are accepted for the caller's convenience; only the name and vendor deps matter.
        path_arg(entity_path, "entity_path");
        path_arg(repo_path, "repo_path");
        if (!is_list(dep_files)) type_error("dep_files must be a list, not " + py_type_name(dep_files));
        return tags::generate_tags(entity_name, str_list_arg(vendor_deps, "vendor_deps"), tags::resolve_tag_cap());
      },
      nb::sig("def generate_tags(entity_name: str, entity_path: " QUARRIX_PY_PATH ", dep_files: list[typing.Any], "
              "vendor_deps: list[str], repo_path: " QUARRIX_PY_PATH ") -> list[str]"),
      "entity_name"_a, "entity_path"_a, "dep_files"_a, "vendor_deps"_a, "repo_path"_a,
      "Search tags from the entity's own name and vendor dependencies, capped.");
  m.def(
      "_cap_tags", [](nb::handle tags, long long cap) { return tags::cap_tags(str_list_arg(tags, "tags"), cap); },
      nb::sig(
          ("def _cap_tags(tags: list[str], cap: int = " + py_literal(tags::kTagCapDefault) + ") -> list[str]").c_str()),
      "tags"_a, "cap"_a = tags::kTagCapDefault, "At most cap tags, the longest kept, sorted.");
}

}  // namespace quarrix::py
