#include "quarrix/util/terminal_text.hpp"

#include <cstdio>

#include "quarrix/util/text.hpp"

namespace quarrix::util {

namespace {

bool is_control(char32_t cp) { return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F); }

void append_escape(std::string& out, unsigned value) {
  char escaped[5];
  std::snprintf(escaped, sizeof escaped, "\\x%02x", value & 0xFF);
  out += escaped;
}

}  // namespace

std::string terminal_safe(std::string_view text, bool one_line) {
  std::string out;
  out.reserve(text.size());
  for (const char32_t cp : to_code_points(text)) {
    if ((cp == '\t' || cp == '\n') && !one_line)
      out.push_back(static_cast<char>(cp));
    else if (cp == '\t')
      out += "\\t";
    else if (cp == '\n')
      out += "\\n";
    else if (is_control(cp))
      append_escape(out, static_cast<unsigned>(cp));
    else if (cp >= 0xDC80 && cp <= 0xDCFF)  // a byte that is not UTF-8
      append_escape(out, static_cast<unsigned>(cp - 0xDC00));
    else
      append_utf8(out, cp);
  }
  return out;
}

}  // namespace quarrix::util
