#include "quarrix/util/json.hpp"

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
  if (!nesting_within(text, max_depth)) return std::nullopt;
  Json value = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

std::string dumps_python(const Json& value) {
  std::string out;
  dump_value(out, value);
  return out;
}

}  // namespace quarrix::util
