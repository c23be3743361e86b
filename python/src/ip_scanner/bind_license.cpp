#include "common/convert.hpp"
#include "ip_scanner/bindings.hpp"
#include "quarrix/license/license.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace quarrix::py {

void bind_license(nb::module_& m) {
  nb::list patterns;
  for (const auto& [pattern, id] : license::spdx_patterns()) patterns.append(nb::make_tuple(pattern, id));
  m.attr("SPDX_PATTERNS") = patterns;
  m.attr("_STRONG_COPYLEFT") = nb::frozenset(to_pylist(license::strong_copyleft()));
  m.attr("_WEAK_COPYLEFT") = nb::frozenset(to_pylist(license::weak_copyleft()));
  m.attr("_PERMISSIVE") = nb::frozenset(to_pylist(license::permissive()));
  m.def("classify_license", &license::classify_license, "spdx_id"_a,
        "Classify an SPDX identifier or expression: permissive, weak-copyleft, strong-copyleft or unknown.");
  m.def(
      "_detect_license",
      [](nb::handle repo_path) {
        const std::string root = path_arg(repo_path, "repo_path");
        nb::gil_scoped_release release;
        return license::detect_license(root);
      },
      nb::sig("def _detect_license(repo_path: " QUARRIX_PY_PATH ") -> str"), "repo_path"_a,
      "SPDX identifier of the repository's licence file, or ''.");
}

}  // namespace quarrix::py
