#pragma once
// The "ports" tier of the description chain: what an entity's port and
// parameter names and its own name reveal (protocols, interface patterns, a
// functional role), scored, and composed into one sentence when the evidence
// is strong enough. The analysis also goes to the LLM prompt as hints.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quarrix/util/json.hpp"
#include "quarrix/util/regex.hpp"

namespace quarrix::describe {

// A generic/parameter name that configures the unit (widths, depths, counts...).
const util::Regex& meaningful_generics();

// The hints map in its initial state: {"protocols": [], "interfaces": [],
// "role": null, "has_generics": false}.
Json initial_port_hints();

// (description or nullopt, hints) for the entity `entity_name` declared in the
// file at `entity_path`. An unreadable file or one without ports gives
// (nullopt, initial hints).
std::pair<std::optional<std::string>, Json> infer_description_from_ports(std::string_view entity_name,
                                                                         const std::string& entity_path);

// "<protocol> <role> with <q1> and <q2>", or a name-derived "<Word> IP core"
// subject when neither a protocol nor a role is known.
std::string compose_description(std::string_view entity_name, const std::vector<std::string>& protocols,
                                const std::vector<std::string>& interfaces, const std::optional<std::string>& role,
                                bool has_generics);

}  // namespace quarrix::describe
