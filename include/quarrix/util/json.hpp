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

// How deeply JSON-like values may nest, wherever they come from (files,
// provider answers, Python arguments). Deeper means malformed, never a crash.
inline constexpr std::size_t kMaxJsonDepth = 512;

// json.loads with the strictness the core wants: a duplicate key keeps the last
// value (in the first key's place), NaN/Infinity, a leading byte-order mark,
// invalid UTF-8, anything but whitespace after the value (a NUL byte included)
// and nesting deeper than `max_depth` are all malformed (nullopt). A lone
// surrogate escape "\udc80".."\udcff" reads as the byte it stands for (as
// os.fsencode reads the str json.loads makes), other lone surrogates are
// malformed. Linear in the text, however many keys an object has.
std::optional<Json> parse_json(std::string_view text, std::size_t max_depth = kMaxJsonDepth);

// Python's truth value of a JSON-like value (None, 0, "", [] and {} are false).
bool py_truthy(const Json& value);

// The keyword arguments of json.dumps that the core uses; the defaults are
// json.dumps's own.
struct JsonStyle {
  std::optional<std::size_t> indent;  // none: one line
  std::string_view item_separator = ", ";
  std::string_view key_separator = ": ";
  // \uXXXX escapes with lower-case hex, surrogate pairs above U+FFFF;
  // otherwise non-ASCII text is written as UTF-8.
  bool ensure_ascii = true;
  // C1 controls (U+0080..U+009F) as \u0080..\u009f even without ensure_ascii:
  // equal as text, but a terminal that shows the output cannot take them as
  // commands. Not json.dumps's behaviour; for what people read.
  bool escape_c1 = false;
};

// json.dumps(value, **style). A path byte that is not UTF-8 is written as
// json.dumps writes the str os.fsdecode makes of the path ("\udcff" for 0xFF).
std::string dumps_python(const Json& value, const JsonStyle& style = {});

}  // namespace util
}  // namespace quarrix
