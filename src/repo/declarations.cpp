#include "quarrix/repo/declarations.hpp"

#include <algorithm>
#include <unordered_map>

#include "quarrix/hdl/language.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/file_memo.hpp"
#include "quarrix/util/path.hpp"
#include "quarrix/util/regex.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::repo {

namespace {

using hdl::HdlLanguage;

constexpr std::string_view kVerilogKeywords = "module|interface|package|class|program";
constexpr std::string_view kVhdlKeywords = "entity|package|configuration";

// A name made only of ASCII letters, digits and "_": the declaration search
// for it is exactly "keyword, whitespace, then this whole word".
bool is_plain_name(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  });
}

// The plain name a declared VHDL word equals under the case-insensitive search,
// or nullopt when it equals none. Besides ASCII letters, only KELVIN SIGN and
// LATIN SMALL LETTER LONG S fold onto ASCII ("k", "s").
std::optional<std::string> vhdl_plain_key(std::string_view word) {
  std::string key;
  for (const char32_t cp : util::to_code_points(word)) {
    if (cp < 0x80)
      key.push_back(util::ascii_lower(static_cast<char>(cp)));
    else if (cp == 0x212A)
      key.push_back('k');
    else if (cp == 0x17F)
      key.push_back('s');
    else
      return std::nullopt;
  }
  return key;
}

// The kind of the leftmost declaration of every plain name in one file, from
// one pass: what the per-name search would find, without a search per unit.
struct DeclarationIndex {
  std::unordered_map<std::string, std::string> first_kind;  // by name (lower-cased for VHDL)
};

DeclarationIndex index_declarations(HdlLanguage language, std::string_view text) {
  // Keywords are matched without consuming the name, so "module module m"
  // indexes both "module" and "m", as the per-name search finds them.
  static const util::Regex verilog_re("\\b(" + std::string(kVerilogKeywords) + ")(?=\\s+(\\w+))");
  static const util::Regex vhdl_re("\\b(" + std::string(kVhdlKeywords) + ")(?=\\s+(\\w+))", util::kIgnoreCase);
  DeclarationIndex index;
  const util::Regex& re = language == HdlLanguage::vhdl ? vhdl_re : verilog_re;
  re.for_each(text, [&](const util::Match& m) {
    std::optional<std::string> key =
        language == HdlLanguage::vhdl ? vhdl_plain_key(m.group(2)) : std::optional<std::string>(m.group(2));
    if (key && is_plain_name(*key)) index.first_kind.try_emplace(std::move(*key), util::lower(m.group(1)));
    return true;
  });
  return index;
}

}  // namespace

const std::vector<std::string>& installable_kinds() {
  static const std::vector<std::string> kinds = {"module", "entity"};
  return kinds;
}

bool is_installable_kind(std::string_view kind) {
  const auto& kinds = installable_kinds();
  return std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
}

std::optional<std::string> classify_declaration_text(std::string_view entity_name, std::string_view suffix_lower,
                                                     std::string_view text) {
  // The pattern holds the name, so it serves one search: not worth JIT code.
  const std::string name_re = util::regex_escape(entity_name);
  std::optional<util::Regex> re;
  const std::optional<HdlLanguage> language = hdl::language_of_suffix(suffix_lower);
  if (!language) return std::nullopt;
  switch (*language) {
    case HdlLanguage::verilog:
      re.emplace("\\b(" + std::string(kVerilogKeywords) + ")\\s+" + name_re + "\\b", util::kNoJit);
      break;
    case HdlLanguage::vhdl:
      re.emplace("\\b(" + std::string(kVhdlKeywords) + ")\\s+" + name_re + "\\b", util::kIgnoreCase | util::kNoJit);
      break;
  }
  const auto m = re->search(text);
  if (!m) return std::nullopt;
  return util::lower(m->group(1));
}

std::optional<std::string> classify_top_declaration(std::string_view entity_name, const std::string& entity_path) {
  const std::string suffix = util::path_suffix_lower(entity_path);
  const std::optional<HdlLanguage> language = hdl::language_of_suffix(suffix);
  if (!language) return std::nullopt;
  if (!is_plain_name(entity_name)) {
    const auto text = util::read_text(entity_path);
    if (!text) return std::nullopt;
    return classify_declaration_text(entity_name, suffix, *text);
  }
  // A file declaring many units is indexed once rather than searched per unit.
  static const util::FileMemoKey key;
  const auto index =
      util::memo_per_file<std::optional<DeclarationIndex>>(entity_path, key, [&]() -> std::optional<DeclarationIndex> {
        const auto text = util::read_text(entity_path);
        if (!text) return std::nullopt;
        return index_declarations(*language, *text);
      });
  if (!*index) return std::nullopt;
  const auto& kinds = (*index)->first_kind;
  const auto found =
      kinds.find(*language == HdlLanguage::vhdl ? util::ascii_lower(entity_name) : std::string(entity_name));
  if (found == kinds.end()) return std::nullopt;
  return found->second;
}

}  // namespace quarrix::repo
