#pragma once
// The description request sent to every provider, and the cleaning of its answer.

#include <optional>
#include <string>
#include <string_view>

#include <quarrix/util/json.hpp>

namespace quarrix::llm {

// The prompt for one unit. `hints` is the port-analysis map (its "protocols",
// "interfaces" and "role" entries are shown when present and non-empty) or null.
std::string build_llm_prompt(std::string_view name, std::string_view signature, std::string_view language,
                             const Json& hints = Json());

// One catalog line from a model answer: heading lines dropped, lines joined,
// one layer of matching quotes removed, length capped. nullopt when empty.
std::optional<std::string> clean_llm_response(std::string_view text);

}  // namespace quarrix::llm
