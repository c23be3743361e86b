#include "quarrix/util/json.hpp"

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
      if (c == '\\') ++i;
      else if (c == '"') in_string = false;
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
  bool string(string_t& v) { return add(std::move(v)); }
  bool binary(binary_t&) { return false; }
  bool start_object(std::size_t) {
    open_.push_back(Open{true, Json(), JsonObjectBuilder(), {}});
    return true;
  }
  bool key(string_t& k) {
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

void dump_string(std::string& out, std::string_view s) {
  static const char* hex = "0123456789abcdef";
  auto u_escape = [&](unsigned v) {
    out.append("\\u");
    for (int shift = 12; shift >= 0; shift -= 4) out.push_back(hex[(v >> shift) & 0xF]);
  };
  out.push_back('"');
  for (char32_t cp : to_code_points(s)) {
    switch (cp) {
      case '"': out.append("\\\""); break;
      case '\\': out.append("\\\\"); break;
      case '\n': out.append("\\n"); break;
      case '\r': out.append("\\r"); break;
      case '\t': out.append("\\t"); break;
      case '\b': out.append("\\b"); break;
      case '\f': out.append("\\f"); break;
      default:
        if (cp >= 0x20 && cp <= 0x7E) {
          out.push_back(static_cast<char>(cp));
        } else if (cp > 0xFFFF) {
          const unsigned v = static_cast<unsigned>(cp) - 0x10000;
          u_escape(0xD800 + (v >> 10));
          u_escape(0xDC00 + (v & 0x3FF));
        } else {
          u_escape(static_cast<unsigned>(cp));
        }
    }
  }
  out.push_back('"');
}

void dump_value(std::string& out, const Json& value) {
  switch (value.type()) {
    case Json::value_t::string: dump_string(out, value.get_ref<const std::string&>()); break;
    case Json::value_t::array: {
      out.push_back('[');
      bool first = true;
      for (const auto& item : value) {
        if (!first) out.append(", ");
        first = false;
        dump_value(out, item);
      }
      out.push_back(']');
      break;
    }
    case Json::value_t::object: {
      out.push_back('{');
      bool first = true;
      for (const auto& [key, item] : value.items()) {
        if (!first) out.append(", ");
        first = false;
        dump_string(out, key);
        out.append(": ");
        dump_value(out, item);
      }
      out.push_back('}');
      break;
    }
    default: out.append(value.dump()); break;
  }
}

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
  LinearBuilder builder;
  if (!Json::sax_parse(text.begin(), text.end(), &builder)) return std::nullopt;
  return std::move(builder).take();
}

std::string dumps_python(const Json& value) {
  std::string out;
  dump_value(out, value);
  return out;
}

}  // namespace quarrix::util
