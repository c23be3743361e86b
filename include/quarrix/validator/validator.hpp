#pragma once
// The description validator: decides whether a candidate catalog description
// is defective (legal text, header-template fields, an author's address, code
// residue, an echo of the unit's name, boilerplate or placeholders,
// language-model chatter).

#include <optional>
#include <string>
#include <string_view>

namespace quarrix::validator {

// The defect found in `text` ("legal", "template", "contact", "code", "echo",
// "boilerplate", "chatter", "empty"), or nullopt for a clean description. `name` and `ns`
// (the unit's name and namespace) are optional; without a name the echo check
// only catches the "<namespace> IP: <name>" filler and bare identifiers.
std::optional<std::string_view> suspect_reason(std::string_view text, const std::optional<std::string>& name,
                                               const std::optional<std::string>& ns);

// True when suspect_reason() finds a defect.
bool is_suspect(std::string_view text, const std::optional<std::string>& name = std::nullopt,
                const std::optional<std::string>& ns = std::nullopt);

}  // namespace quarrix::validator
