#pragma once
// Text operations with the semantics of Python 3 str methods.
//
// Every string in the core is UTF-8. Text read from disk goes through
// decode_text() first. Paths are file-system bytes and may hold bytes that are
// not UTF-8: each such byte counts as one code point, U+DC80..U+DCFF, as in
// the str os.fsdecode() makes of it, and is written back as the same byte.
// Lengths, positions and slices are counted in code points, never bytes.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarrix::util {

// bytes.decode("utf-8", errors="replace"): one U+FFFD per maximal invalid
// subsequence. A byte-order mark is kept as U+FEFF.
std::string decode_utf8_replace(std::string_view bytes);

// Text-mode newline translation: "\r\n" and a lone "\r" become "\n".
std::string normalize_newlines(std::string_view text);

// What open(path, encoding="utf-8", errors="replace").read() gives.
std::string decode_text(std::string_view bytes);

bool is_valid_utf8(std::string_view text);

// Decodes UTF-8 into code points, a byte that is not UTF-8 into its escape.
std::u32string to_code_points(std::string_view text);
// Encodes code points as UTF-8, an escape U+DC80..U+DCFF as its byte.
std::string from_code_points(std::u32string_view cps);
void append_utf8(std::string& out, char32_t cp);

// str.isspace() for one code point.
bool is_space(char32_t cp);
// Python's line boundaries for splitlines().
bool is_line_break(char32_t cp);

std::string_view strip(std::string_view text);
std::string_view lstrip(std::string_view text);
std::string_view rstrip(std::string_view text);
// str.strip(chars) / rstrip(chars) / lstrip(chars): removes any code point of `chars`.
std::string_view strip(std::string_view text, std::string_view chars);
std::string_view lstrip(std::string_view text, std::string_view chars);
std::string_view rstrip(std::string_view text, std::string_view chars);

// str.split() with no argument: runs of whitespace, empty pieces dropped.
std::vector<std::string> split_whitespace(std::string_view text);
// " ".join(text.split()), without the list of pieces.
std::string join_words(std::string_view text);
// str.split(sep): empty pieces kept; "" gives [""].
std::vector<std::string> split(std::string_view text, std::string_view sep);
// str.splitlines(): all of Python's line boundaries, "\r\n" counted once.
std::vector<std::string> splitlines(std::string_view text);

std::string join(const std::vector<std::string>& parts, std::string_view sep);

// str.lower() / str.upper() with full Unicode case mapping.
std::string lower(std::string_view text);
// Only A-Z lowered, every other byte kept: for HDL keywords and identifiers
// that tools compare case-insensitively in ASCII.
inline char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
std::string ascii_lower(std::string_view text);
// ascii_lower(text) == lower, without building the lowered copy.
bool ascii_iequals(std::string_view text, std::string_view lower);
// Every byte below 0x80: bytes and code points are the same.
bool is_ascii(std::string_view text);
std::string upper(std::string_view text);

// len(str), str[start:stop] (negative indices count from the end, as in Python).
std::size_t length(std::string_view text);
std::string slice(std::string_view text, std::ptrdiff_t start, std::optional<std::ptrdiff_t> stop = std::nullopt);

bool starts_with(std::string_view text, std::string_view prefix);
bool ends_with(std::string_view text, std::string_view suffix);
bool contains(std::string_view text, std::string_view needle);
std::string replace_all(std::string_view text, std::string_view from, std::string_view to);

// str.isalnum(), str.isalpha(), str.isdigit(), str.isupper(), str.islower() on whole strings.
bool is_alnum(std::string_view text);
bool is_alpha(std::string_view text);
bool is_digit(std::string_view text);
bool is_upper(std::string_view text);
bool is_lower(std::string_view text);

// repr(str) and repr(list[str]) as Python prints them (used in error messages).
std::string py_repr(std::string_view text);
std::string py_repr(const std::vector<std::string>& items);

// int(text) after strip(): optional sign and ASCII digits only. nullopt when it
// does not parse; values beyond the int64 range saturate.
std::optional<long long> parse_int(std::string_view text);
// float(text) after strip(): decimal real, or inf/nan words.
std::optional<double> parse_float(std::string_view text);

}  // namespace quarrix::util
