#include "quarrix/util/json.hpp"

#include <cstdio>
#include <vector>

#include "quarrix/util/json_object_builder.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::util {

namespace {

// Bracket depth outside strings; the parser then never sees absurd nesting.
bool nesting_within(std::string_view text, std::size_t max_depth) {
  std::size_t depth = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > max_depth) return false;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return true;
}

// The JSON library refuses a lone surrogate escape, which json.loads accepts
// and our writer makes of a byte that is not UTF-8 ("\udcff" for 0xFF). Before
// parsing, each such escape becomes the pair NUL, U+00XX, and every escaped NUL
// a pair of NULs; decode_escaped_bytes() undoes both in each parsed string. The
// text holds no raw NUL, so every NUL in a parsed string comes from an escape.
// Other lone surrogates stay malformed: they have no bytes.
std::optional<std::string> mark_escaped_bytes(std::string_view text) {
  auto hex_at = [&](std::size_t i) -> long {
    if (i + 6 > text.size() || text[i] != '\\' || text[i + 1] != 'u') return -1;
    unsigned v = 0;
    for (std::size_t k = i + 2; k < i + 6; ++k) {
      const char c = ascii_lower(text[k]);
      if (c >= '0' && c <= '9')
        v = v * 16 + static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f')
        v = v * 16 + static_cast<unsigned>(c - 'a' + 10);
      else
        return -1;
    }
    return v;
  };
  std::optional<std::string> out;
  std::size_t copied = 0;
  bool in_string = false, after_high = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!in_string) {
      in_string = c == '"';
      continue;
    }
    if (c == '"') {
      in_string = after_high = false;
      continue;
    }
    if (c != '\\') {
      after_high = false;
      continue;
    }
    const long v = hex_at(i);
    const bool high = v >= 0xD800 && v <= 0xDBFF;
    const char* marked = nullptr;
    char pair[13];
    if (v == 0) {
      marked = "\\u0000\\u0000";
    } else if (v >= 0xDC80 && v <= 0xDCFF && !after_high) {
      std::snprintf(pair, sizeof pair, "\\u0000\\u00%02lx", v - 0xDC00);
      marked = pair;
    }
    if (marked) {
      if (!out) out.emplace();
      out->append(text.substr(copied, i - copied)).append(marked);
      copied = i + 6;
    }
    after_high = high;
    i += v >= 0 ? 5 : 1;  // past the escape
  }
  if (out) out->append(text.substr(copied));
  return out;
}

void decode_escaped_bytes(std::string& s) {
  if (s.find('\0') == std::string::npos) return;
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\0') {
      out.push_back(s[i]);
    } else if (s[i + 1] == '\0') {
      out.push_back(s[++i]);
    } else {  // U+00XX: C2 or C3, then a continuation byte
      out.push_back(static_cast<char>(((s[i + 1] & 0x03) << 6) | (s[i + 2] & 0x3F)));
      i += 2;
    }
  }
  s = std::move(out);
}

// Builds the value from parser events, objects through JsonObjectBuilder so a
// large map costs linear time.
class LinearBuilder {
 public:
  using number_integer_t = Json::number_integer_t;
  using number_unsigned_t = Json::number_unsigned_t;
  using number_float_t = Json::number_float_t;
  using string_t = Json::string_t;
  using binary_t = Json::binary_t;

  bool null() { return add(nullptr); }
  bool boolean(bool v) { return add(v); }
  bool number_integer(number_integer_t v) { return add(v); }
  bool number_unsigned(number_unsigned_t v) { return add(v); }
  bool number_float(number_float_t v, const string_t&) { return add(v); }
  bool string(string_t& v) {
    if (marked_) decode_escaped_bytes(v);
    return add(std::move(v));
  }
  bool binary(binary_t&) { return false; }
  bool start_object(std::size_t) {
    open_.push_back(Open{true, Json(), JsonObjectBuilder(), {}});
    return true;
  }
  bool key(string_t& k) {
    if (marked_) decode_escaped_bytes(k);
    open_.back().key = std::move(k);
    return true;
  }
  bool end_object() { return close(std::move(open_.back().object).take()); }
  bool start_array(std::size_t) {
    open_.push_back(Open{false, Json::array(), JsonObjectBuilder(), {}});
    return true;
  }
  bool end_array() { return close(std::move(open_.back().array)); }
  template <class Exception>
  bool parse_error(std::size_t, const std::string&, const Exception&) {
    return false;
  }

  Json take() && { return std::move(root_); }

  bool marked_ = false;  // the text went through mark_escaped_bytes()

 private:
  struct Open {
    bool is_object;
    Json array;
    JsonObjectBuilder object;
    std::string key;
  };

  bool close(Json value) {
    open_.pop_back();
    return add(std::move(value));
  }

  bool add(Json value) {
    if (open_.empty()) {
      root_ = std::move(value);
    } else if (Open& top = open_.back(); top.is_object) {
      top.object.set(std::move(top.key), std::move(value));
    } else {
      top.array.push_back(std::move(value));
    }
    return true;
  }

  std::vector<Open> open_;
  Json root_;
};

class Writer {
 public:
  explicit Writer(const JsonStyle& style) : style_(style) {}

  void value(const Json& v, std::size_t level) {
    switch (v.type()) {
      case Json::value_t::string: string(v.get_ref<const std::string&>()); break;
      case Json::value_t::array: {
        if (v.empty()) {
          out_.append("[]");
          break;
        }
        out_.push_back('[');
        bool first = true;
        for (const auto& item : v) {
          separate(first, level + 1);
          value(item, level + 1);
        }
        close(level, ']');
        break;
      }
      case Json::value_t::object: {
        if (v.empty()) {
          out_.append("{}");
          break;
        }
        out_.push_back('{');
        bool first = true;
        for (const auto& [key, item] : v.items()) {
          separate(first, level + 1);
          string(key);
          out_.append(style_.key_separator);
          value(item, level + 1);
        }
        close(level, '}');
        break;
      }
      default: out_.append(v.dump()); break;
    }
  }

  std::string take() && { return std::move(out_); }

 private:
  void newline(std::size_t level) {
    if (!style_.indent) return;
    out_.push_back('\n');
    out_.append(level * *style_.indent, ' ');
  }

  void separate(bool& first, std::size_t level) {
    if (!first) out_.append(style_.item_separator);
    first = false;
    newline(level);
  }

  void close(std::size_t level, char bracket) {
    newline(level);
    out_.push_back(bracket);
  }

  void u_escape(unsigned v) {
    static const char* hex = "0123456789abcdef";
    out_.append("\\u");
    for (int shift = 12; shift >= 0; shift -= 4) out_.push_back(hex[(v >> shift) & 0xF]);
  }

  // A byte that is not UTF-8 arrives as its escape code point (text.hpp) and
  // is written as "\udcXX" in either style, as json.dumps writes the str
  // os.fsdecode makes of it.
  void string(std::string_view s) {
    out_.push_back('"');
    for (char32_t cp : to_code_points(s)) {
      switch (cp) {
        case '"': out_.append("\\\""); break;
        case '\\': out_.append("\\\\"); break;
        case '\n': out_.append("\\n"); break;
        case '\r': out_.append("\\r"); break;
        case '\t': out_.append("\\t"); break;
        case '\b': out_.append("\\b"); break;
        case '\f': out_.append("\\f"); break;
        default:
          if (cp >= 0x20 && cp <= 0x7E) {
            out_.push_back(static_cast<char>(cp));
          } else if (cp < 0x20 || (cp >= 0xD800 && cp <= 0xDFFF) || (style_.escape_c1 && cp >= 0x80 && cp <= 0x9F)) {
            u_escape(static_cast<unsigned>(cp));
          } else if (!style_.ensure_ascii) {
            append_utf8(out_, cp);
          } else if (cp > 0xFFFF) {
            const unsigned v = static_cast<unsigned>(cp) - 0x10000;
            u_escape(0xD800 + (v >> 10));
            u_escape(0xDC00 + (v & 0x3FF));
          } else {
            u_escape(static_cast<unsigned>(cp));
          }
      }
    }
    out_.push_back('"');
  }

  const JsonStyle& style_;
  std::string out_;
};

}  // namespace

bool py_truthy(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null: return false;
    case Json::value_t::boolean: return value.get<bool>();
    case Json::value_t::number_integer: return value.get<long long>() != 0;
    case Json::value_t::number_unsigned: return value.get<unsigned long long>() != 0;
    case Json::value_t::number_float: return value.get<double>() != 0.0;
    case Json::value_t::string: return !value.get_ref<const std::string&>().empty();
    default: return !value.empty();
  }
}

std::optional<Json> parse_json(std::string_view text, std::size_t max_depth) {
  if (starts_with(text, "\xEF\xBB\xBF")) return std::nullopt;
  // The parser takes a NUL byte for the end of the input; Python's json never
  // accepts one (a raw control character, or data after the value).
  if (text.find('\0') != std::string_view::npos) return std::nullopt;
  if (!nesting_within(text, max_depth)) return std::nullopt;
  const std::optional<std::string> marked = mark_escaped_bytes(text);
  if (marked) text = *marked;
  LinearBuilder builder;
  builder.marked_ = marked.has_value();
  if (!Json::sax_parse(text.begin(), text.end(), &builder)) return std::nullopt;
  return std::move(builder).take();
}

std::string dumps_python(const Json& value, const JsonStyle& style) {
  Writer writer(style);
  writer.value(value, 0);
  return std::move(writer).take();
}

}  // namespace quarrix::util
