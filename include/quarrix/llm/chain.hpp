#pragma once
// The language-model description tier: walks the configured provider chain and
// returns the first usable description.

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <quarrix/llm/adapters.hpp>
#include <quarrix/llm/outcome.hpp>
#include <quarrix/llm/sleep.hpp>
#include <quarrix/util/json.hpp>

namespace quarrix::llm {

using Adapter = Reply (*)(std::string_view name, std::string_view sig, std::string_view lang, std::string_view api_key,
                          const Json& hints, const SleepFunction& sleep);

struct ProviderSpec {
  std::string_view name;
  std::string_view env_key;  // environment variable holding the API key
  Adapter adapter;           // our own call of its API
};

// The providers, in the order of the default chain: the one list of them.
inline constexpr std::array<ProviderSpec, 3> kProviders{{
    {"groq", "GROQ_API_KEY", llm_describe_groq},
    {"gemini", "GEMINI_API_KEY", llm_describe_gemini},
    {"anthropic", "ANTHROPIC_API_KEY", llm_describe_anthropic},
}};

// The names of kProviders, in order: the chain when none is configured.
std::vector<std::string> default_chain();

// The known provider of that name, or nullptr.
const ProviderSpec* find_provider(std::string_view name);

// A QUARRIX_LLM_PROVIDERS value as a list of known provider names (duplicates
// kept); the default chain when it names no known provider.
std::vector<std::string> parse_provider_chain(std::string_view text);
// QUARRIX_LLM_PROVIDERS, read now; unset is the default chain.
std::vector<std::string> resolve_provider_chain();

// A QUARRIX_LLM_PACE value in seconds: the parsed value when positive
// (infinity included), else 0.
double parse_pace(std::string_view text);
// QUARRIX_LLM_PACE, read now; unset is 0.
double resolve_pace();

// What a walk of the chain reads: taken once, by the caller, and passed in.
struct ChainSettings {
  std::vector<std::string> providers = default_chain();
  double pace = 0;  // seconds after each provider call; 0 or infinity: none
  // Provider name -> API key, for the providers whose key variable is set.
  std::map<std::string, std::string, std::less<>> api_keys;

  // The chain, pace and keys from the environment, read now.
  static ChainSettings from_environment();
};

// Asks one provider (by name) for a description; the adapter pauses through `sleep`.
using ProviderCall =
    std::function<Reply(std::string_view provider, const DescribeRequest& request, const SleepFunction& sleep)>;

// The built-in adapter of each known provider; ValueError for other names.
Reply call_native_adapter(std::string_view provider, const DescribeRequest& request, const SleepFunction& sleep);

// What the walk calls out to; a host or a test replaces either.
struct ChainServices {
  ProviderCall ask = call_native_adapter;
  SleepFunction sleep = real_sleep;
};

// The first cleaned, non-empty provider answer, or nullopt. Dead providers and
// providers without an API key are skipped; every call is counted, a "403"
// marks the provider dead, and a finite positive pace is slept after each call.
// Exceptions thrown by a provider call propagate.
std::optional<std::string> llm_describe(std::string_view entity_name, std::string_view signature,
                                        std::string_view language, const Json& hints, const ChainSettings& settings,
                                        const ChainServices& services);

}  // namespace quarrix::llm
