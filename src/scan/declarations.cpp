#include "quarrix/scan/declarations.hpp"

#include <algorithm>

#include "quarrix/util/file.hpp"
#include "quarrix/util/path.hpp"
#include "quarrix/util/regex.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::scan {

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
  if (suffix_lower == ".v" || suffix_lower == ".sv" || suffix_lower == ".vh" || suffix_lower == ".svh") {
    re.emplace("\\b(module|interface|package|class|program)\\s+" + name_re + "\\b", util::kNoJit);
  } else if (suffix_lower == ".vhd" || suffix_lower == ".vhdl") {
    re.emplace("\\b(entity|package|configuration)\\s+" + name_re + "\\b", util::kIgnoreCase | util::kNoJit);
  } else {
    return std::nullopt;
  }
  const auto m = re->search(text);
  if (!m) return std::nullopt;
  return util::lower(m->group(1));
}

std::optional<std::string> classify_top_declaration(std::string_view entity_name, const std::string& entity_path) {
  const auto text = util::read_text_file(entity_path);
  if (!text) return std::nullopt;
  return classify_declaration_text(entity_name, util::path_suffix_lower(entity_path), *text);
}

}  // namespace quarrix::scan
