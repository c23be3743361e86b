#pragma once
// One adapter per provider: builds that provider's request from the prompt,
// sends it through http_post_with_retry and extracts the answer text.
//
// The result is (answer with surrounding white space removed, "ok"),
// (nullopt, "ok") for an empty answer, (nullopt, "other") for an answer that is
// not JSON of the expected shape or that repeats the API key (whole, or any
// kKeyEchoWindow consecutive characters of it), or (nullopt, transport outcome).

#include <cstddef>
#include <string_view>

#include <quarrix/llm/outcome.hpp>
#include <quarrix/llm/sleep.hpp>
#include <quarrix/util/json.hpp>

namespace quarrix::llm {

// Environment variables that override the providers' API hosts.
inline constexpr const char* kGroqBaseUrlEnv = "QUARRIX_GROQ_BASE_URL";
inline constexpr const char* kGeminiBaseUrlEnv = "QUARRIX_GEMINI_BASE_URL";
inline constexpr const char* kAnthropicBaseUrlEnv = "QUARRIX_ANTHROPIC_BASE_URL";

inline constexpr std::string_view kUserAgent = "quarrix-scanner/1.0";

// An answer holding this many consecutive characters of the API key (or the
// whole key, when shorter) is never taken as a description.
inline constexpr std::size_t kKeyEchoWindow = 8;

// What one provider is asked: a description of this unit, with this key.
struct DescribeRequest {
  std::string_view entity_name;
  std::string_view signature;
  std::string_view language;
  std::string_view api_key;
  const Json& hints;
};

// Each sends through http_post_with_retry, pausing through `sleep` between attempts.
Reply llm_describe_groq(std::string_view name, std::string_view sig, std::string_view lang, std::string_view api_key,
                        const Json& hints = Json(), const SleepFunction& sleep = real_sleep);
Reply llm_describe_gemini(std::string_view name, std::string_view sig, std::string_view lang, std::string_view api_key,
                          const Json& hints = Json(), const SleepFunction& sleep = real_sleep);
Reply llm_describe_anthropic(std::string_view name, std::string_view sig, std::string_view lang,
                             std::string_view api_key, const Json& hints = Json(),
                             const SleepFunction& sleep = real_sleep);

}  // namespace quarrix::llm
