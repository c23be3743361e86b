#pragma once
// Session state of the language-model client: per-provider outcome counters and
// the providers whose credential was refused. One instance per process, guarded
// by a mutex; it lives until reset_llm_session() empties it.

#include <string>
#include <string_view>
#include <vector>

#include <quarrix/util/json.hpp>

namespace quarrix::llm {

// Counts one call of `provider` ending with `outcome`. A provider's counters
// start with every word of kLlmOutcomes at 0; other words are appended.
void bump_stat(std::string_view provider, std::string_view outcome);

// A copy of the counters: provider -> {outcome word -> count}.
Json get_llm_stats();

// Forgets the dead providers, then the counters.
void reset_llm_session();

// The end-of-session text for the session's counters, or for `stats` (same
// shape as get_llm_stats()). Dead marks always come from the session. Throws
// ValueError when a shown provider's counters are not a map of
// integer counts.
std::string format_llm_summary();
std::string format_llm_summary(const Json& stats);

// The dead-provider set.
bool is_provider_dead(std::string_view provider);
void mark_provider_dead(std::string_view provider);
void revive_provider(std::string_view provider);
std::vector<std::string> dead_providers();  // in marking order

// Partial resets, for hosts that manage the two halves separately.
void clear_dead_providers();
void clear_provider_stats();

}  // namespace quarrix::llm
