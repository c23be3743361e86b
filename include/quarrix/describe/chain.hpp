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

// The unit a description is for.
struct DescribedUnit {
  std::string_view name;
  const std::string& path;  // its source file
  std::string_view ns;
  std::string_view language;
};

// What the unit's description was before: the previous clean one (kept over
// the filler) and the curator's locked text (final).
struct EarlierDescriptions {
  std::optional<std::string> previous;
  std::optional<std::string> locked;
};

// (description, source), source being "verdict", "header", "ports", "llm",
// "preserved" or "auto". Only the locked text and the "<ns> IP: <name>" filler
// skip validation. The language-model tier walks `llm_settings` through
// `services`. Exceptions of the tiers and of the validator propagate.
std::pair<std::string, std::string> generate_description(const DescribedUnit& unit, const Services& services,
                                                         const llm::ChainSettings& llm_settings, bool use_llm = true,
                                                         const EarlierDescriptions& earlier = {});

}  // namespace quarrix::describe
