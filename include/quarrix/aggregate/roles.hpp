#pragma once
// Roles of the entities of one scan: "top" (nothing depends on it),
// "component" (depended on, has dependencies) or "primitive" (depended on, a
// leaf). An entry that lists the names it "uses" depends on those; one that
// does not, on the entities whose own file its compile list holds (the first
// entity declared in a file stands for it).

#include <quarrix/util/json.hpp>

namespace quarrix::aggregate {

// Map name -> role, names in order of first occurrence. Reads only "name",
// "uses", "quarrix_compat"/"files" and "dep_count" of each entry. A missing "name"
// raises KeyError; a "quarrix_compat" that is not a map raises TypeError.
Json compute_roles(const Json& entries);

}  // namespace quarrix::aggregate
