#include "common/errors.hpp"
#include "ip_scanner/bindings.hpp"

NB_MODULE(ip_scanner, m) {
  m.doc() = "Core IP scanning intelligence for the quarrix registry.";
  // The module keeps process-wide references (the validator and adapter hooks)
  // that outlive nanobind's shutdown check by design.
  nanobind::set_leak_warnings(false);
  quarrix::py::register_core_errors();
  quarrix::py::bind_describe_hygiene(m);
  quarrix::py::bind_hdl(m);
  quarrix::py::bind_port_inference(m);
  quarrix::py::bind_describe(m);
  quarrix::py::bind_license(m);
  quarrix::py::bind_tags(m);
  quarrix::py::bind_scan_filters(m);
  quarrix::py::bind_aggregate(m);
  quarrix::py::bind_llm(m);
  quarrix::py::bind_scan(m);
}
