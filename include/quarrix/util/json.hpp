#pragma once
// JSON values of the core. Rows, probe results and configuration maps are
// nlohmann::ordered_json so that maps keep their insertion order.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace quarrix {

using Json = nlohmann::ordered_json;

namespace util {

// json.loads with the strictness the core wants: a duplicate key keeps the last
// value (in the first key's place), NaN/Infinity, a leading byte-order mark,
// invalid UTF-8 and nesting deeper than `max_depth` are all malformed (nullopt).
std::optional<Json> parse_json(std::string_view text, std::size_t max_depth = 512);

// Python's truth value of a JSON-like value (None, 0, "", [] and {} are false).
bool py_truthy(const Json& value);

// json.dumps(value) with its defaults: separators ", " and ": ", ASCII output
// (\uXXXX escapes with lower-case hex, surrogate pairs above U+FFFF).
std::string dumps_python(const Json& value);

}  // namespace util
}  // namespace quarrix
