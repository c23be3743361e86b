#pragma once
// The curator verdict registry: "namespace/name" -> {"verdict", "locked_text"}.
// A "good" verdict locks its text against every generated description.

#include <optional>
#include <string>
#include <string_view>

#include <quarrix/util/json.hpp>

namespace quarrix::describe {

// The registry file inside the index directory.
inline constexpr std::string_view kVerdictsFileName = "descriptions_verdicts.json";

// The verdict map of <index_dir>/descriptions_verdicts.json: the "entries"
// object of the wrapped form, or the top-level object of the flat form. A
// missing, unreadable, non-UTF-8 or malformed file, or any other top-level
// value, gives an empty object.
Json load_description_verdicts(const std::string& index_dir);

// The locked text of the record under namespace + "/" + name when its verdict
// is exactly "good" and the text is a non-blank string; nullopt otherwise. A
// null pointer, a non-object map and records of any shape are tolerated.
std::optional<std::string> verdict_locked_text(const Json* verdicts, std::string_view ns, std::string_view name);

}  // namespace quarrix::describe
