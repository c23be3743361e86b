#pragma once
// Resolvers for a scan from Python: our own when the host leaves
// quarrix_core.dependency_resolver.DependencyResolver as it is, otherwise an
// adapter over whatever object the host's class builds.

#include <nanobind/nanobind.h>

#include <quarrix/pipeline/scan_repo.hpp>

namespace quarrix::py {

// The factory for this scan, looked up now; empty for our native resolver.
pipeline::ResolverFactory resolver_factory_for_scan();

}  // namespace quarrix::py
