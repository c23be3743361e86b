#include "quarrix/util/text.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <utf8proc.h>

namespace quarrix::util {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kEscapedByteBase = 0xDC00;

// Length of the valid UTF-8 sequence at `s[i]`, or 0 when it is invalid. On
// failure, `bad` receives the length of the maximal invalid subpart (at least 1).
std::size_t utf8_sequence(std::string_view s, std::size_t i, char32_t& cp, std::size_t& bad) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  bad = 1;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  for (std::size_t k = 1; k <= need; ++k) {
    if (i + k >= s.size()) return 0;
    const auto b = static_cast<unsigned char>(s[i + k]);
    const unsigned char l = (k == 1) ? lo : 0x80;
    const unsigned char h = (k == 1) ? hi : 0xBF;
    if (b < l || b > h) return 0;
    cp = (cp << 6) | (b & 0x3F);
    bad = k + 1;
  }
  return need + 1;
}

// A byte that is not part of valid UTF-8 as the lone surrogate Python's
// "surrogateescape" decodes it to; append_utf8 turns it back into the byte.
char32_t escaped_byte(char byte) { return kEscapedByteBase + static_cast<unsigned char>(byte); }

// Decodes the code point at byte offset i; an invalid byte is one escaped code point.
char32_t next_cp(std::string_view s, std::size_t& i) {
  char32_t cp;
  std::size_t bad;
  const std::size_t n = utf8_sequence(s, i, cp, bad);
  if (n == 0) return escaped_byte(s[i++]);
  i += n;
  return cp;
}

char32_t prev_cp(std::string_view s, std::size_t& i) {
  std::size_t j = i - 1;
  while (j > 0 && (static_cast<unsigned char>(s[j]) & 0xC0) == 0x80 && i - j < 4) --j;
  std::size_t k = j;
  const char32_t cp = next_cp(s, k);
  if (k != i) {  // not a clean sequence ending at i: step back one byte
    i -= 1;
    return escaped_byte(s[i]);
  }
  i = j;
  return cp;
}

template <class Pred>
std::string_view lstrip_if(std::string_view text, Pred pred) {
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t j = i;
    if (!pred(next_cp(text, j))) break;
    i = j;
  }
  return text.substr(i);
}

template <class Pred>
std::string_view rstrip_if(std::string_view text, Pred pred) {
  std::size_t i = text.size();
  while (i > 0) {
    std::size_t j = i;
    if (!pred(prev_cp(text, j))) break;
    i = j;
  }
  return text.substr(0, i);
}

bool cp_in(std::string_view chars, char32_t cp) {
  for (std::size_t i = 0; i < chars.size();)
    if (next_cp(chars, i) == cp) return true;
  return false;
}

bool is_cased(char32_t cp) {
  const auto cat = utf8proc_category(static_cast<utf8proc_int32_t>(cp));
  if (cat == UTF8PROC_CATEGORY_LU || cat == UTF8PROC_CATEGORY_LL || cat == UTF8PROC_CATEGORY_LT) return true;
  const auto c = static_cast<utf8proc_int32_t>(cp);
  return utf8proc_tolower(c) != c || utf8proc_toupper(c) != c;
}

bool is_case_ignorable(char32_t cp) {
  switch (cp) {
    case '\'':
    case '.':
    case ':':
    case '^':
    case '`':
    case 0xAD:
    case 0xB7:
    case 0x2018:
    case 0x2019:
    case 0x2024:
    case 0x2027: return true;
    default: break;
  }
  const auto cat = utf8proc_category(static_cast<utf8proc_int32_t>(cp));
  return cat == UTF8PROC_CATEGORY_MN || cat == UTF8PROC_CATEGORY_ME || cat == UTF8PROC_CATEGORY_CF ||
         cat == UTF8PROC_CATEGORY_LM || cat == UTF8PROC_CATEGORY_SK;
}

// Python's final-sigma rule: preceded by a cased letter and not followed by one
// (case-ignorable characters skipped on both sides).
bool is_final_sigma(const std::u32string& cps, std::size_t i) {
  std::size_t j = i;
  bool before = false;
  while (j > 0) {
    --j;
    if (is_case_ignorable(cps[j])) continue;
    before = is_cased(cps[j]);
    break;
  }
  if (!before) return false;
  for (std::size_t k = i + 1; k < cps.size(); ++k) {
    if (is_case_ignorable(cps[k])) continue;
    return !is_cased(cps[k]);
  }
  return true;
}

}  // namespace

void append_utf8(std::string& out, char32_t cp) {
  if (cp >= kEscapedByteBase + 0x80 && cp <= kEscapedByteBase + 0xFF) {
    out.push_back(static_cast<char>(cp - kEscapedByteBase));
  } else if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string decode_utf8_replace(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    // Fast path for ASCII runs.
    std::size_t j = i;
    while (j < bytes.size() && static_cast<unsigned char>(bytes[j]) < 0x80) ++j;
    out.append(bytes.data() + i, j - i);
    i = j;
    if (i >= bytes.size()) break;
    char32_t cp;
    std::size_t bad;
    const std::size_t n = utf8_sequence(bytes, i, cp, bad);
    if (n == 0) {
      append_utf8(out, kReplacement);
      i += bad;
    } else {
      out.append(bytes.data() + i, n);
      i += n;
    }
  }
  return out;
}

std::string normalize_newlines(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t cr = text.find('\r', i);
    if (cr == std::string_view::npos) {
      out.append(text.substr(i));
      break;
    }
    out.append(text.substr(i, cr - i));
    out.push_back('\n');
    i = cr + 1;
    if (i < text.size() && text[i] == '\n') ++i;
  }
  return out;
}

std::string decode_text(std::string_view bytes) { return normalize_newlines(decode_utf8_replace(bytes)); }

bool is_valid_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    // Eight ASCII bytes at a time: most HDL text is ASCII.
    while (i + 8 <= text.size()) {
      std::uint64_t word;
      std::memcpy(&word, text.data() + i, 8);
      if (word & 0x8080808080808080ull) break;
      i += 8;
    }
    if (i >= text.size()) break;
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    char32_t cp;
    std::size_t bad;
    const std::size_t n = utf8_sequence(text, i, cp, bad);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::u32string to_code_points(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) out.push_back(next_cp(text, i));
  return out;
}

std::string from_code_points(std::u32string_view cps) {
  std::string out;
  out.reserve(cps.size());
  for (char32_t cp : cps) append_utf8(out, cp);
  return out;
}

bool is_space(char32_t cp) {
  switch (cp) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x1C:
    case 0x1D:
    case 0x1E:
    case 0x1F:
    case 0x20:
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000: return true;
    default: return cp >= 0x2000 && cp <= 0x200A;
  }
}

bool is_line_break(char32_t cp) {
  switch (cp) {
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x1C:
    case 0x1D:
    case 0x1E:
    case 0x85:
    case 0x2028:
    case 0x2029: return true;
    default: return false;
  }
}

std::string_view lstrip(std::string_view text) { return lstrip_if(text, is_space); }
std::string_view rstrip(std::string_view text) { return rstrip_if(text, is_space); }
std::string_view strip(std::string_view text) { return rstrip(lstrip(text)); }

std::string_view lstrip(std::string_view text, std::string_view chars) {
  return lstrip_if(text, [&](char32_t cp) { return cp_in(chars, cp); });
}
std::string_view rstrip(std::string_view text, std::string_view chars) {
  return rstrip_if(text, [&](char32_t cp) { return cp_in(chars, cp); });
}
std::string_view strip(std::string_view text, std::string_view chars) { return rstrip(lstrip(text, chars), chars); }

namespace {

// Whether the character at `i` is white space; `i` moves past it. ASCII, most
// of any text, is answered without decoding.
bool space_at(std::string_view text, std::size_t& i) {
  const auto c = static_cast<unsigned char>(text[i]);
  if (c < 0x80) {
    ++i;
    return (c >= '\t' && c <= '\r') || (c >= 0x1c && c <= 0x1f) || c == ' ';
  }
  return is_space(next_cp(text, i));
}

// Calls `f` with each piece of str.split(), in order.
template <typename F>
void for_each_word(std::string_view text, F f) {
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t j = i;
    while (j < text.size()) {
      std::size_t k = j;
      if (!space_at(text, k)) break;
      j = k;
    }
    i = j;
    if (i >= text.size()) break;
    while (j < text.size()) {
      std::size_t k = j;
      if (space_at(text, k)) break;
      j = k;
    }
    f(text.substr(i, j - i));
    i = j;
  }
}

}  // namespace

std::vector<std::string> split_whitespace(std::string_view text) {
  std::vector<std::string> out;
  for_each_word(text, [&](std::string_view word) { out.emplace_back(word); });
  return out;
}

std::string join_words(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for_each_word(text, [&](std::string_view word) {
    if (!out.empty()) out.push_back(' ');
    out.append(word);
  });
  return out;
}

std::vector<std::string> split(std::string_view text, std::string_view sep) {
  std::vector<std::string> out;
  if (sep.empty()) {
    out.emplace_back(text);
    return out;
  }
  std::size_t start = 0;
  while (true) {
    const std::size_t pos = text.find(sep, start);
    if (pos == std::string_view::npos) {
      out.emplace_back(text.substr(start));
      return out;
    }
    out.emplace_back(text.substr(start, pos - start));
    start = pos + sep.size();
  }
}

std::vector<std::string> splitlines(std::string_view text) {
  std::vector<std::string> out;
  std::size_t line_start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t at = i;
    const char32_t cp = next_cp(text, i);
    if (!is_line_break(cp)) continue;
    out.emplace_back(text.substr(line_start, at - line_start));
    if (cp == '\r' && i < text.size() && text[i] == '\n') ++i;
    line_start = i;
  }
  if (line_start < text.size()) out.emplace_back(text.substr(line_start));
  return out;
}

std::string join(const std::vector<std::string>& parts, std::string_view sep) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out.append(sep);
    out.append(parts[i]);
  }
  return out;
}

std::string lower(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  // ASCII fast path: the common case in HDL names.
  bool ascii = true;
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  if (ascii) return ascii_lower(text);
  const std::u32string cps = to_code_points(text);
  for (std::size_t i = 0; i < cps.size(); ++i) {
    const char32_t cp = cps[i];
    if (cp == 0x130) {  // full mapping: "i" + combining dot above
      out.push_back('i');
      append_utf8(out, 0x307);
    } else if (cp == 0x3A3) {
      append_utf8(out, is_final_sigma(cps, i) ? 0x3C2 : 0x3C3);
    } else {
      append_utf8(out, static_cast<char32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(cp))));
    }
  }
  return out;
}

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ascii_lower(c);
  return out;
}

bool ascii_iequals(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t k = 0; k < text.size(); ++k)
    if (ascii_lower(text[k]) != lower[k]) return false;
  return true;
}

bool is_ascii(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

std::string upper(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = next_cp(text, i);
    if (cp == 0xDF) {  // the one full upper mapping names need: "ß" -> "SS"
      out.append("SS");
    } else {
      append_utf8(out, static_cast<char32_t>(utf8proc_toupper(static_cast<utf8proc_int32_t>(cp))));
    }
  }
  return out;
}

std::size_t length(std::string_view text) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size();) {
    next_cp(text, i);
    ++n;
  }
  return n;
}

std::string slice(std::string_view text, std::ptrdiff_t start, std::optional<std::ptrdiff_t> stop) {
  const auto n = static_cast<std::ptrdiff_t>(length(text));
  auto clamp = [n](std::ptrdiff_t v) {
    if (v < 0) v += n;
    return std::clamp<std::ptrdiff_t>(v, 0, n);
  };
  const std::ptrdiff_t a = clamp(start);
  const std::ptrdiff_t b = stop ? clamp(*stop) : n;
  if (a >= b) return {};
  std::size_t i = 0;
  std::ptrdiff_t k = 0;
  std::size_t begin = 0;
  while (i < text.size() && k < b) {
    if (k == a) begin = i;
    next_cp(text, i);
    ++k;
  }
  return std::string(text.substr(begin, i - begin));
}

bool starts_with(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }
bool ends_with(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}
bool contains(std::string_view text, std::string_view needle) { return text.find(needle) != std::string_view::npos; }

std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  std::size_t start = 0;
  while (true) {
    const std::size_t pos = text.find(from, start);
    if (pos == std::string_view::npos) break;
    out.append(text.substr(start, pos - start));
    out.append(to);
    start = pos + from.size();
  }
  out.append(text.substr(start));
  return out;
}

namespace {

template <class Pred>
bool all_cps(std::string_view text, Pred pred) {
  if (text.empty()) return false;
  for (std::size_t i = 0; i < text.size();)
    if (!pred(next_cp(text, i))) return false;
  return true;
}

bool cp_is_alpha(char32_t cp) {
  const auto cat = utf8proc_category(static_cast<utf8proc_int32_t>(cp));
  return cat >= UTF8PROC_CATEGORY_LU && cat <= UTF8PROC_CATEGORY_LO;
}
bool cp_is_numeric(char32_t cp) {
  const auto cat = utf8proc_category(static_cast<utf8proc_int32_t>(cp));
  return cat == UTF8PROC_CATEGORY_ND || cat == UTF8PROC_CATEGORY_NL || cat == UTF8PROC_CATEGORY_NO;
}

}  // namespace

bool is_alnum(std::string_view text) {
  return all_cps(text, [](char32_t cp) { return cp_is_alpha(cp) || cp_is_numeric(cp); });
}
bool is_alpha(std::string_view text) { return all_cps(text, cp_is_alpha); }
bool is_digit(std::string_view text) {
  return all_cps(text, [](char32_t cp) {
    return utf8proc_category(static_cast<utf8proc_int32_t>(cp)) == UTF8PROC_CATEGORY_ND || (cp >= 0xB2 && cp <= 0xB3) ||
           cp == 0xB9 || (cp >= 0x2070 && cp <= 0x2079) || (cp >= 0x2080 && cp <= 0x2089);
  });
}

namespace {
// str.isupper()/islower(): at least one cased character, and no cased character of the other case.
bool case_test(std::string_view text, bool want_upper) {
  bool cased = false;
  for (std::size_t i = 0; i < text.size();) {
    const auto cp = static_cast<utf8proc_int32_t>(next_cp(text, i));
    const auto cat = utf8proc_category(cp);
    const bool is_up = cat == UTF8PROC_CATEGORY_LU || cat == UTF8PROC_CATEGORY_LT;
    const bool is_lo = cat == UTF8PROC_CATEGORY_LL;
    if (want_upper ? is_lo || cat == UTF8PROC_CATEGORY_LT : is_up) return false;
    if (want_upper ? is_up : is_lo) cased = true;
  }
  return cased;
}
}  // namespace

bool is_upper(std::string_view text) { return case_test(text, true); }
bool is_lower(std::string_view text) { return case_test(text, false); }

std::string py_repr(std::string_view text) {
  const bool has_single = contains(text, "'");
  const bool has_double = contains(text, "\"");
  const char quote = (has_single && !has_double) ? '"' : '\'';
  std::string out(1, quote);
  static const char* hex = "0123456789abcdef";
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = next_cp(text, i);
    if (cp == static_cast<char32_t>(quote) || cp == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(cp));
    } else if (cp == '\n') {
      out.append("\\n");
    } else if (cp == '\r') {
      out.append("\\r");
    } else if (cp == '\t') {
      out.append("\\t");
    } else if (cp < 0x20 || cp == 0x7F) {
      out.append("\\x");
      out.push_back(hex[cp >> 4]);
      out.push_back(hex[cp & 0xF]);
    } else if (cp < 0x7F) {
      out.push_back(static_cast<char>(cp));
    } else {
      // str.isprintable(): everything but the C*, Z* (except space) categories.
      const auto cat = utf8proc_category(static_cast<utf8proc_int32_t>(cp));
      const bool printable =
          !(cat == UTF8PROC_CATEGORY_CC || cat == UTF8PROC_CATEGORY_CF || cat == UTF8PROC_CATEGORY_CS ||
            cat == UTF8PROC_CATEGORY_CO || cat == UTF8PROC_CATEGORY_CN || cat == UTF8PROC_CATEGORY_ZL ||
            cat == UTF8PROC_CATEGORY_ZP || cat == UTF8PROC_CATEGORY_ZS);
      if (printable) {
        append_utf8(out, cp);
      } else if (cp <= 0xFF) {
        out.append("\\x");
        out.push_back(hex[cp >> 4]);
        out.push_back(hex[cp & 0xF]);
      } else if (cp <= 0xFFFF) {
        out.append("\\u");
        for (int s = 12; s >= 0; s -= 4) out.push_back(hex[(cp >> s) & 0xF]);
      } else {
        out.append("\\U");
        for (int s = 28; s >= 0; s -= 4) out.push_back(hex[(cp >> s) & 0xF]);
      }
    }
  }
  out.push_back(quote);
  return out;
}

std::string py_repr(const std::vector<std::string>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out.append(", ");
    out.append(py_repr(items[i]));
  }
  out.push_back(']');
  return out;
}

std::optional<long long> parse_int(std::string_view text) {
  const std::string_view s = strip(text);
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i >= s.size()) return std::nullopt;
  long long value = 0;
  bool saturated = false;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return std::nullopt;
    const int d = s[i] - '0';
    if (!saturated && value > (std::numeric_limits<long long>::max() - d) / 10) saturated = true;
    if (!saturated) value = value * 10 + d;
  }
  if (saturated) return negative ? std::numeric_limits<long long>::min() : std::numeric_limits<long long>::max();
  return negative ? -value : value;
}

std::optional<double> parse_float(std::string_view text) {
  const std::string s(strip(text));
  if (s.empty()) return std::nullopt;
  std::size_t i = 0;
  if (s[i] == '+' || s[i] == '-') ++i;
  const std::string word = lower(s.substr(i));
  const double sign = (s[0] == '-') ? -1.0 : 1.0;
  if (word == "inf" || word == "infinity") return sign * std::numeric_limits<double>::infinity();
  if (word == "nan") return std::numeric_limits<double>::quiet_NaN();
  // Python's float() grammar: digits with optional fraction and exponent (underscores aside).
  std::size_t j = i, digits = 0;
  while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j, ++digits;
  if (j < s.size() && s[j] == '.') {
    ++j;
    while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
    std::size_t k = j + 1;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
    const std::size_t exp_start = k;
    while (k < s.size() && s[k] >= '0' && s[k] <= '9') ++k;
    if (k == exp_start) return std::nullopt;
    j = k;
  }
  if (j != s.size()) return std::nullopt;
  errno = 0;
  return std::strtod(s.c_str(), nullptr);
}

}  // namespace quarrix::util
