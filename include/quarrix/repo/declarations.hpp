#pragma once
// What kind of declaration carries a design unit's name in its source file.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarrix::repo {

// The kinds that are installable IP: "module" and "entity".
const std::vector<std::string>& installable_kinds();
bool is_installable_kind(std::string_view kind);

// "module", "interface", "package", "class", "program" (Verilog family) or
// "entity", "package", "configuration" (VHDL); nullopt when the file cannot be
// read, its suffix is not HDL, or no declaration names the unit.
std::optional<std::string> classify_top_declaration(std::string_view entity_name, const std::string& entity_path);
// The same on text already read, with the file's lower-cased suffix.
std::optional<std::string> classify_declaration_text(std::string_view entity_name, std::string_view suffix_lower,
                                                     std::string_view text);

}  // namespace quarrix::repo
