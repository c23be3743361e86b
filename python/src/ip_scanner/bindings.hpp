#pragma once
// Each area of the core registers its names on quarrix_core.ip_scanner here.

#include <nanobind/nanobind.h>

namespace quarrix::py {

void bind_describe_hygiene(nanobind::module_& m);
void bind_describe(nanobind::module_& m);
void bind_hdl(nanobind::module_& m);
void bind_port_inference(nanobind::module_& m);
void bind_license(nanobind::module_& m);
void bind_tags(nanobind::module_& m);
void bind_scan_filters(nanobind::module_& m);
void bind_aggregate(nanobind::module_& m);
void bind_llm(nanobind::module_& m);
void bind_scan(nanobind::module_& m);

}  // namespace quarrix::py
