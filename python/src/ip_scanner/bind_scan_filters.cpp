#include <nanobind/stl/string.h>
#include <nanobind/stl/string_view.h>

#include "ip_scanner/bindings.hpp"
#include "quarrix/scan/filters.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace quarrix::py {

namespace {

nb::list to_list(const std::vector<std::string>& items) {
  nb::list out;
  for (const auto& item : items) out.append(item);
  return out;
}

}  // namespace

void bind_scan_filters(nb::module_& m) {
  m.attr("DEFAULT_VENDOR_SIM_EXCLUDES") = to_list(scan::default_vendor_sim_excludes());
  m.attr("SKIP_PATH_PATTERNS") = to_list(scan::skip_path_patterns());
  m.attr("_JUNK_NAMES") = nb::frozenset(to_list(scan::junk_names()));
  m.attr("_SIM_NAME_RE") = scan::sim_name_re().pattern();
  m.attr("_TB_PATTERNS") = scan::tb_patterns().pattern();
  m.def(
      "is_simulation_only_name", [](const std::string& name) { return scan::is_simulation_only_name(name); }, "name"_a,
      "True when the entity name looks like a sim-only artefact.");
}

}  // namespace quarrix::py
