#include "common/convert.hpp"
#include "ip_scanner/bindings.hpp"
#include "quarrix/scan/filters.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace quarrix::py {

void bind_scan_filters(nb::module_& m) {
  m.attr("DEFAULT_VENDOR_SIM_EXCLUDES") = to_pylist(scan::default_vendor_sim_excludes());
  m.attr("SKIP_PATH_PATTERNS") = to_pylist(scan::skip_path_patterns());
  m.attr("_JUNK_NAMES") = nb::frozenset(to_pylist(scan::junk_names()));
  m.attr("_SIM_NAME_RE") = scan::sim_name_re().pattern();
  m.attr("_TB_PATTERNS") = scan::tb_patterns().pattern();
  m.def(
      "is_simulation_only_name", [](const std::string& name) { return scan::is_simulation_only_name(name); }, "name"_a,
      "True when the entity name looks like a sim-only artefact.");
}

}  // namespace quarrix::py
