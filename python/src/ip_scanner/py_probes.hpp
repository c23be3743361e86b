#pragma once
// The Python face of the probe holder, and its adaptation to C++ callables.

#include <nanobind/nanobind.h>

#include <quarrix/pipeline/scan_probes.hpp>

namespace quarrix::py {

// Registers the ScanProbes class on the module.
void bind_scan_probes(nanobind::module_& m);

// C++ probes that call the host object's attributes of the same names, with
// the GIL held, converting each result to a JSON-like value.
pipeline::ScanProbes wrap_probes(nanobind::handle probes);

}  // namespace quarrix::py
