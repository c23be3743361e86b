#include "quarrix/hdl/module_signature.hpp"

#include <vector>

#include "quarrix/hdl/language.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/file_memo.hpp"
#include "quarrix/util/path.hpp"
#include "quarrix/util/regex.hpp"
#include "quarrix/util/text.hpp"
#include "text_scan.hpp"

namespace quarrix::hdl {

using detail::byte_at;
using detail::Finder;
using detail::npos;
using detail::search_short;
using detail::skip_space;
using detail::word_end;

namespace {

// kVhdlEntityPattern: the first "entity NAME is" up to the first closing
// "end [entity] NAME;" after it. When the first head has no closing after it,
// no later head has one either.
std::optional<std::string_view> vhdl_entity(std::string_view text) {
  static const util::Regex entity_word("entity", util::kIgnoreCase);
  static const util::Regex head(R"(entity\s+\w+\s+is\s+)", util::kIgnoreCase);
  static const util::Regex end_word("end", util::kIgnoreCase);
  static const util::Regex closing(R"(end\s+(?:entity\s+)?\w+\s*;)", util::kIgnoreCase);
  // Both patterns are tried at their keyword within the words and spaces they can span.
  const auto extent = [&](std::size_t from, int words) {
    std::size_t end = skip_space(text, from);
    for (int i = 0; i < words; ++i) end = skip_space(text, word_end(text, end));
    return detail::window(text, end + 1);
  };
  std::optional<util::Match> h;
  for (auto k = search_short(entity_word, text, 0); k && !h; k = search_short(entity_word, text, k->start() + 1))
    h = head.match(extent(k->end(), 2), k->start());
  if (!h) return std::nullopt;
  for (auto e = search_short(end_word, text, h->end()); e; e = search_short(end_word, text, e->start() + 1))
    if (const auto c = closing.match(extent(e->end(), 2), e->start()))
      return text.substr(h->start(), c->end() - h->start());
  return std::nullopt;
}

// "(" + keyword + kVerilogHeaderTail, located without backtracking. After the
// name come whitespace-led import clauses, then either "(" or a "#(...)"
// parameter list. Of the parameter list's possible closing ")" (those before
// the first segment between two ")" that holds no "(", the nesting the pattern
// allows), the backtracking takes the first one followed by optional whitespace
// and a port list "(...)" with no ";" inside, closed by optional whitespace and ";".
std::optional<std::string_view> verilog_header(std::string_view text, std::string_view keyword) {
  static constexpr std::string_view kImport = "import";
  Finder semicolon(text, ';');
  Finder close(text, ')', [&](std::size_t r) { return byte_at(text, skip_space(text, r + 1), ';'); });
  const auto port_list_end = [&](std::size_t open) -> std::size_t {
    const std::size_t r = close.find(open + 1);
    if (r == npos || r > semicolon.find(open + 1)) return npos;
    return skip_space(text, r + 1) + 1;
  };
  Finder any_close(text, ')');
  Finder any_open(text, '(');
  Finder before_port_list(text, ')', [&](std::size_t r) {
    const std::size_t open = skip_space(text, r + 1);
    return byte_at(text, open, '(') && port_list_end(open) != npos;
  });
  Finder after_bare_segment(text, ')', [&](std::size_t r) {
    const std::size_t prev = r == 0 ? npos : text.find_last_of("()", r - 1);
    return prev == npos || text[prev] == ')';
  });

  for (std::size_t p = text.find(keyword); p != npos; p = text.find(keyword, p + 1)) {
    const std::size_t name = skip_space(text, p + keyword.size());
    if (name == p + keyword.size()) continue;
    const std::size_t name_end = word_end(text, name);
    if (name_end == name) continue;
    std::size_t space_from = name_end;
    std::size_t at = skip_space(text, name_end);
    while (at > space_from && text.substr(at, kImport.size()) == kImport) {
      const std::size_t body = at + kImport.size();
      const std::size_t semi = semicolon.find(body);
      // "\s+[^;]+;": at least one space, then at least one more character.
      if (skip_space(text, body) == body || semi == npos || semi < body + 2) break;
      space_from = semi + 1;
      at = skip_space(text, space_from);
    }
    std::size_t open = at;
    if (byte_at(text, at, '#')) {
      const std::size_t params = skip_space(text, at + 1);
      if (!byte_at(text, params, '(')) continue;
      const std::size_t first = any_close.find(params + 1);
      if (first == npos) continue;
      const bool nested = any_open.find(params + 1) < first;
      const std::size_t last_allowed = nested ? after_bare_segment.find(first + 1) : first;
      const std::size_t r = before_port_list.find(params + 1);
      if (r == npos || r > last_allowed) continue;
      open = skip_space(text, r + 1);
    } else if (!byte_at(text, at, '(')) {
      continue;
    }
    const std::size_t end = port_list_end(open);
    if (end != npos) return text.substr(p, end - p);
  }
  return std::nullopt;
}

// "(" + keyword + kVerilogHeaderFallbackTail: keyword, name, up to the first ";".
std::optional<std::string_view> verilog_header_fallback(std::string_view text, std::string_view keyword) {
  for (std::size_t p = text.find(keyword); p != npos; p = text.find(keyword, p + 1)) {
    const std::size_t name = skip_space(text, p + keyword.size());
    if (name == p + keyword.size()) continue;
    const std::size_t name_end = word_end(text, name);
    if (name_end == name) continue;
    const std::size_t semi = text.find(';', name_end);
    if (semi == npos) return std::nullopt;  // no later start reaches a ";" either
    return text.substr(p, semi + 1 - p);
  }
  return std::nullopt;
}

std::optional<std::string_view> first_declaration(std::string_view text, std::string_view suffix) {
  if (is_vhdl_suffix(suffix)) return vhdl_entity(text);
  for (const std::string_view keyword : {std::string_view("module"), std::string_view("interface")}) {
    if (const auto header = verilog_header(text, keyword)) return header;
    if (const auto header = verilog_header_fallback(text, keyword)) return header;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> signature_from_text(std::string_view source_text, std::string_view suffix,
                                               long long max_lines) {
  const auto declaration = first_declaration(source_text, suffix);
  if (!declaration) return std::nullopt;
  const long long limit = is_systemverilog_suffix(suffix) ? kSvSignatureMaxLines : max_lines;
  std::vector<std::string> lines;
  if (limit >= 0) {
    if (limit > 0)
      detail::for_each_line(*declaration, [&](std::string_view line) {
        lines.emplace_back(line);
        return static_cast<long long>(lines.size()) < limit;
      });
  } else {
    lines = util::splitlines(*declaration);
    const auto keep = static_cast<long long>(lines.size()) + limit;
    lines.resize(keep > 0 ? static_cast<std::size_t>(keep) : 0);
  }
  return util::join(lines, "\n");
}

std::optional<std::string> find_module_signature(const std::string& entity_path, long long max_lines) {
  const auto compute = [&]() -> std::optional<std::string> {
    const auto text = util::read_text(entity_path);
    if (!text) return std::nullopt;
    return signature_from_text(*text, util::path_suffix_lower(entity_path), max_lines);
  };
  // A scan asks for the default length, once per unit; the first declaration
  // of a file serves every unit declared in it.
  static const util::FileMemoKey key;
  if (max_lines != kSignatureMaxLines) return compute();
  return *util::memo_per_file<std::optional<std::string>>(entity_path, key, compute);
}

std::string extract_module_signature(const std::string& entity_path, long long max_lines) {
  return find_module_signature(entity_path, max_lines).value_or("");
}

}  // namespace quarrix::hdl
