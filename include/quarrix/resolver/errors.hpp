#pragma once
// How a resolver's compilation_order query fails.

#include <quarrix/util/errors.hpp>

namespace quarrix::resolver {

// The unit is not in the entity map.
using UnknownUnitError = ErrorOf<ErrorKind::kUnknownUnit>;
// The dependencies of the unit form a cycle.
using DependencyCycleError = ErrorOf<ErrorKind::kDependencyCycle>;

}  // namespace quarrix::resolver
