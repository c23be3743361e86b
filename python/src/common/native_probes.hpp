#pragma once
// The built-in probes travel from quarrix_core.probes to a scan of
// quarrix_core.ip_scanner as C++ callables inside a capsule, so that a scan
// calls them without taking the GIL or converting values on the way, and can
// run their tool checks several at a time.

#include <nanobind/nanobind.h>

#include <quarrix/pipeline/scan_probes.hpp>

namespace quarrix::py {

// A capsule owning a copy of `probes`.
nanobind::object native_probes_capsule(pipeline::ScanProbes probes);

// The probes in a capsule made by native_probes_capsule, or null for anything else.
const pipeline::ScanProbes* native_probes_in(nanobind::handle capsule);

}  // namespace quarrix::py
