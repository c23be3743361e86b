#include "common/convert.hpp"
#include "ip_scanner/bindings.hpp"
#include "quarrix/repo/filters.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace quarrix::py {

void bind_scan_filters(nb::module_& m) {
  m.attr("DEFAULT_VENDOR_SIM_EXCLUDES") = to_pylist(repo::default_vendor_sim_excludes());
  m.attr("SKIP_PATH_PATTERNS") = to_pylist(repo::skip_path_patterns());
  m.attr("_JUNK_NAMES") = nb::frozenset(to_pylist(repo::junk_names()));
  m.attr("_SIM_NAME_RE") = repo::sim_name_re().pattern();
  m.attr("_TB_PATTERNS") = repo::tb_patterns().pattern();
  m.def(
      "is_simulation_only_name", [](const std::string& name) { return repo::is_simulation_only_name(name); }, "name"_a,
      "True when the entity name looks like a sim-only artefact.");
}

}  // namespace quarrix::py
