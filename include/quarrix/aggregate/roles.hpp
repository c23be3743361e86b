#pragma once
// Roles of the entities of one scan from the dependency graph their compile
// lists imply: "top" (nothing depends on it), "component" (depended on, has
// dependencies) or "primitive" (depended on, a leaf).

#include <quarrix/util/json.hpp>

namespace quarrix::aggregate {

// Map name -> role, names in order of first occurrence. Reads only "name",
// "quarrix_compat"/"files" and "dep_count" of each entry. A missing "name"
// raises KeyError; a "quarrix_compat" that is not a map raises TypeError.
Json compute_roles(const Json& entries);

}  // namespace quarrix::aggregate
