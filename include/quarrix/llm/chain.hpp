#pragma once
// The language-model description tier: walks the configured provider chain and
// returns the first usable description.

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <quarrix/llm/outcome.hpp>
#include <quarrix/util/json.hpp>

namespace quarrix::llm {

struct ProviderSpec {
  std::string_view name;
  std::string_view env_key;  // environment variable holding the API key
  std::string_view fn_name;  // adapter operation, looked up at each call
};

inline constexpr std::array<std::string_view, 3> kDefaultProviderChain{"groq", "gemini", "anthropic"};
inline constexpr std::array<ProviderSpec, 3> kProviderFns{{
    {"groq", "GROQ_API_KEY", "_llm_describe_groq"},
    {"gemini", "GEMINI_API_KEY", "_llm_describe_gemini"},
    {"anthropic", "ANTHROPIC_API_KEY", "_llm_describe_anthropic"},
}};

// QUARRIX_LLM_PROVIDERS as a list of known provider names (duplicates kept);
// the default chain when it is unset or names no known provider.
std::vector<std::string> resolve_provider_chain();

// QUARRIX_LLM_PACE in seconds: the parsed value when positive (infinity
// included), else 0.
double resolve_pace();

// Calls the adapter operation named `fn_name` with (entity name, signature,
// language, API key, hints).
using AdapterDispatcher = std::function<Reply(std::string_view fn_name, std::string_view entity_name,
                                              std::string_view signature, std::string_view language,
                                              std::string_view api_key, const Json& hints)>;

// The built-in adapters by operation name; std::invalid_argument for other names.
Reply call_native_adapter(std::string_view fn_name, std::string_view entity_name, std::string_view signature,
                          std::string_view language, std::string_view api_key, const Json& hints);

// Installs the dispatcher consulted at every provider call (an empty function
// restores call_native_adapter) and returns the one it replaces. A host binding
// uses it to honour replacements of the adapter operations.
AdapterDispatcher set_adapter_dispatcher(AdapterDispatcher dispatcher);

// The first cleaned, non-empty provider answer, or nullopt. Dead providers and
// providers without an API key are skipped; every call is counted, a "403"
// marks the provider dead, and a finite positive pace is slept after each call.
// Exceptions thrown by an adapter propagate.
std::optional<std::string> llm_describe(std::string_view entity_name, std::string_view signature,
                                        std::string_view language, const Json& hints = Json());

}  // namespace quarrix::llm
