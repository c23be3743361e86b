#include "quarrix/hdl/port_names.hpp"

#include <optional>

#include "quarrix/hdl/language.hpp"
#include "quarrix/util/regex.hpp"
#include "quarrix/util/text.hpp"
#include "text_scan.hpp"

namespace quarrix::hdl {

using detail::byte_at;
using detail::Finder;
using detail::is_word_at;
using detail::match_short;
using detail::npos;
using detail::search_short;
using detail::skip_space;
using detail::word_end;

namespace {

void append_group(std::vector<std::string>& out, const util::Match& m, std::size_t group) {
  out.push_back(util::lower(m.group(group)));
}

// Where the body of the first "<keyword>\s*(" begins (keyword case-insensitive), or npos.
std::size_t block_body(std::string_view text, const util::Regex& keyword) {
  for (auto k = search_short(keyword, text, 0); k; k = search_short(keyword, text, k->start() + 1)) {
    const std::size_t open = skip_space(text, k->end());
    if (byte_at(text, open, '(')) return open + 1;
  }
  return npos;
}

// Capture group 1 of kVhdlPortBlockPattern. The greedy group runs from the
// first "port(" to the last ")" of the text that has the closing shape
// ")\s*;\s*\n\s*end\b" after it; when that ")" lies before the first "port(",
// no later start can match either.
std::optional<std::string_view> vhdl_port_block(std::string_view text) {
  static const util::Regex keyword("port", util::kIgnoreCase);
  static const util::Regex end_word(R"(end\b)", util::kIgnoreCase);
  const std::size_t body = block_body(text, keyword);
  if (body == npos) return std::nullopt;
  const auto closes = [&](std::size_t r) {
    const std::size_t semi = skip_space(text, r + 1);
    if (!byte_at(text, semi, ';')) return false;
    const std::size_t word = skip_space(text, semi + 1);
    return text.substr(semi + 1, word - semi - 1).find('\n') != npos && match_short(end_word, text, word).has_value();
  };
  for (std::size_t limit = text.size(); limit > body;) {
    const std::size_t r = text.rfind(')', limit - 1);
    if (r == npos || r < body) break;
    if (closes(r)) return text.substr(body, r - body);
    limit = r;
  }
  return std::nullopt;
}

// kVerilogPortPattern over the whole text. After the keyword and its
// whitespace the pattern takes, in its backtracking order: a net keyword, then
// a "[...]" range (lazy, within the line) or not, then the name; failing that
// the same without the net keyword. The range's closing "]" is the first one on
// the line that is followed by optional whitespace and a word character.
void verilog_ports(std::string_view text, std::vector<std::string>& out) {
  static const util::Regex keyword("input|output|inout", util::kIgnoreCase);
  static const util::Regex net("wire|reg|logic", util::kIgnoreCase);
  Finder newline(text, '\n');
  Finder range_end(text, ']', [&](std::size_t r) { return is_word_at(text, skip_space(text, r + 1)); });
  const auto name_at = [&](std::size_t c) -> std::size_t {
    if (byte_at(text, c, '[')) {
      const std::size_t r = range_end.find(c + 1);
      if (r == npos || r > newline.find(c + 1)) return npos;
      return skip_space(text, r + 1);
    }
    return is_word_at(text, c) ? c : npos;
  };
  std::size_t pos = 0;
  while (const auto kw = search_short(keyword, text, pos)) {
    const std::size_t after = skip_space(text, kw->end());
    std::size_t name = npos;
    if (after > kw->end()) {
      if (const auto n = match_short(net, text, after)) name = name_at(skip_space(text, n->end()));
      if (name == npos) name = name_at(after);
    }
    if (name == npos) {
      pos = kw->start() + 1;  // the keywords are ASCII: +1 stays on a character boundary
      continue;
    }
    const std::size_t name_end = word_end(text, name);
    out.push_back(util::lower(text.substr(name, name_end - name)));
    pos = name_end;
  }
}

// Capture group 1 of kSvModuleHeaderPattern: the port list of the first module
// header. The lazy parameter list ends at the first ")" followed by optional
// whitespace and "("; the lazy port list at the first ")" followed by optional
// whitespace and ";".
std::optional<std::string_view> sv_first_port_list(std::string_view text) {
  static constexpr std::string_view kKeyword = "module";
  Finder close(text, ')', [&](std::size_t r) { return byte_at(text, skip_space(text, r + 1), ';'); });
  Finder then_open(text, ')', [&](std::size_t r) { return byte_at(text, skip_space(text, r + 1), '('); });
  for (std::size_t p = text.find(kKeyword); p != npos; p = text.find(kKeyword, p + 1)) {
    const std::size_t name = skip_space(text, p + kKeyword.size());
    if (name == p + kKeyword.size()) continue;
    const std::size_t name_end = word_end(text, name);
    if (name_end == name) continue;
    std::size_t open = skip_space(text, name_end);
    if (byte_at(text, open, '#')) {
      const std::size_t params = skip_space(text, open + 1);
      if (!byte_at(text, params, '(')) continue;
      const std::size_t r = then_open.find(params + 1);
      if (r == npos) continue;
      open = skip_space(text, r + 1);
    } else if (!byte_at(text, open, '(')) {
      continue;
    }
    const std::size_t r = close.find(open + 1);
    if (r == npos) return std::nullopt;  // no later header can close either
    return text.substr(open + 1, r - open - 1);
  }
  return std::nullopt;
}

// Capture group 1 of kVhdlGenericBlockPattern: from the first "generic(" to
// the first ")" followed by optional whitespace and ";".
std::optional<std::string_view> vhdl_generic_block(std::string_view text) {
  static const util::Regex keyword("generic", util::kIgnoreCase);
  const std::size_t body = block_body(text, keyword);
  if (body == npos) return std::nullopt;
  for (std::size_t r = text.find(')', body); r != npos; r = text.find(')', r + 1))
    if (byte_at(text, skip_space(text, r + 1), ';')) return text.substr(body, r - body);
  return std::nullopt;
}

}  // namespace

std::vector<std::string> extract_port_names(std::string_view source_text, std::string_view suffix) {
  std::vector<std::string> names;
  if (is_vhdl_suffix(suffix)) {
    static const util::Regex port(kVhdlPortPattern, util::kIgnoreCase);
    if (const auto block = vhdl_port_block(source_text))
      detail::for_each_word_led_match(port, *block, [&](const util::Match& m) { append_group(names, m, 1); });
    return names;
  }
  verilog_ports(source_text, names);
  if (is_systemverilog_suffix(suffix)) {
    static const util::Regex interface_port(kSvInterfacePortPattern);
    if (const auto ports = sv_first_port_list(source_text))
      detail::for_each_word_led_match(interface_port, *ports, [&](const util::Match& m) {
        append_group(names, m, 1);
        append_group(names, m, 2);
      });
  }
  return names;
}

std::vector<std::string> extract_generic_names(std::string_view source_text, std::string_view suffix) {
  std::vector<std::string> names;
  if (is_vhdl_suffix(suffix)) {
    static const util::Regex generic(kVhdlGenericPattern, util::kIgnoreCase);
    if (const auto block = vhdl_generic_block(source_text))
      detail::for_each_word_led_match(generic, *block, [&](const util::Match& m) { append_group(names, m, 1); });
    return names;
  }
  // Tried at each "parameter", within the words and spaces the pattern can span.
  static const util::Regex keyword("parameter", util::kIgnoreCase);
  static const util::Regex parameter(kVerilogParameterPattern, util::kIgnoreCase);
  std::size_t pos = 0;
  while (const auto k = search_short(keyword, source_text, pos)) {
    std::size_t end = skip_space(source_text, k->end());
    end = skip_space(source_text, word_end(source_text, end));
    end = skip_space(source_text, word_end(source_text, end));
    const auto m = parameter.match(detail::window(source_text, end + 1), k->start());
    if (m) append_group(names, *m, 1);
    pos = m ? m->end() : k->start() + 1;
  }
  return names;
}

}  // namespace quarrix::hdl
