#pragma once
// One design unit's catalog description from a chain of sources, best first:
// the curator's locked text, the file header comment, the port analysis, the
// language model, the previous clean description, and the filler.

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <quarrix/describe/services.hpp>
#include <quarrix/llm/chain.hpp>

namespace quarrix::describe {

// True when `desc` is a non-empty text that the validator does not call
// suspect; the validator is not asked about an empty or missing text.
bool accept_desc(const std::optional<std::string>& desc, std::string_view name, std::string_view ns,
                 const SuspectFn& is_suspect);

// (description, source), source being "verdict", "header", "ports", "llm",
// "preserved" or "auto". Only the locked text and the "<ns> IP: <name>" filler
// skip validation. The language-model tier walks `llm_settings` through
// `services`. Exceptions of the tiers and of the validator propagate.
std::pair<std::string, std::string> generate_description(
    std::string_view entity_name, const std::string& entity_path, std::string_view ns, std::string_view language,
    const Services& services, const llm::ChainSettings& llm_settings, bool use_llm = true,
    const std::optional<std::string>& previous_description = std::nullopt,
    const std::optional<std::string>& locked_description = std::nullopt);

}  // namespace quarrix::describe
