#include "quarrix/llm/adapters.hpp"

#include <optional>
#include <string>
#include <unordered_set>

#include "quarrix/llm/endpoint.hpp"
#include "quarrix/llm/http.hpp"
#include "quarrix/llm/prompt.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::llm {

namespace {

Json request_body(std::string_view model, const std::string& prompt) {
  Json message = Json::object();
  message["role"] = "user";
  message["content"] = prompt;
  Json body = Json::object();
  body["model"] = model;
  body["max_tokens"] = 80;
  body["messages"] = Json::array({message});
  return body;
}

// "choices"[0]."message"."content" of an OpenAI-style chat completion.
std::optional<std::string> chat_completion_text(const Json& data) {
  if (!data.is_object() || !data.contains("choices")) return std::nullopt;
  const Json& choices = data["choices"];
  if (!choices.is_array() || choices.empty() || !choices[0].is_object()) return std::nullopt;
  const Json& choice = choices[0];
  if (!choice.contains("message") || !choice["message"].is_object()) return std::nullopt;
  const Json& message = choice["message"];
  if (!message.contains("content") || !message["content"].is_string()) return std::nullopt;
  return message["content"].get<std::string>();
}

// "content"[0]."text" of a Messages answer; a missing "content" reads as
// [{}] and a missing "text" as "".
std::optional<std::string> messages_text(const Json& data) {
  if (!data.is_object()) return std::nullopt;
  if (!data.contains("content")) return std::string();
  const Json& content = data["content"];
  if (!content.is_array() || content.empty() || !content[0].is_object()) return std::nullopt;
  const Json& block = content[0];
  if (!block.contains("text")) return std::string();
  if (!block["text"].is_string()) return std::nullopt;
  return block["text"].get<std::string>();
}

// Whether `answer` repeats `api_key` or any kKeyEchoWindow consecutive
// characters of it (the whole key when it is shorter). A provider, or someone
// posing as one, must not get the credential published as a description.
// One pass over the answer against the set of the key's windows.
bool echoes_key(std::string_view answer, std::string_view api_key) {
  if (api_key.empty()) return false;
  if (api_key.size() < kKeyEchoWindow) return answer.find(api_key) != std::string_view::npos;
  std::unordered_set<std::string_view> windows;
  for (std::size_t i = 0; i + kKeyEchoWindow <= api_key.size(); ++i) windows.insert(api_key.substr(i, kKeyEchoWindow));
  for (std::size_t i = 0; i + kKeyEchoWindow <= answer.size(); ++i)
    if (windows.contains(answer.substr(i, kKeyEchoWindow))) return true;
  return false;
}

using Extractor = std::optional<std::string> (*)(const Json&);

Reply ask(const std::string& url, const Headers& headers, const std::string& body, std::string_view api_key,
          Extractor extract, const SleepFunction& sleep) {
  Reply reply = http_post_with_retry(url, headers, body, {}, sleep);
  if (reply.outcome != "ok" || !reply.text || reply.text->empty()) return {std::nullopt, reply.outcome};
  const std::optional<Json> data = util::parse_json(*reply.text);
  if (!data) return {std::nullopt, "other"};
  const std::optional<std::string> answer = extract(*data);
  if (!answer || echoes_key(*answer, api_key)) return {std::nullopt, "other"};
  std::string text(util::strip(*answer));
  if (text.empty()) return {std::nullopt, "ok"};
  return {std::move(text), "ok"};
}

// Where an OpenAI-style chat-completions API is reached, and its model.
struct ChatEndpoint {
  const char* base_env;  // the variable that overrides default_base
  std::string_view default_base;
  std::string_view path;
  std::string_view model;
};

Reply ask_chat_completions(const ChatEndpoint& endpoint, const DescribeRequest& request, const SleepFunction& sleep) {
  const std::string prompt = build_llm_prompt(request.entity_name, request.signature, request.language, request.hints);
  const Headers headers{
      {"Authorization", "Bearer " + std::string(request.api_key)},
      {"Content-Type", "application/json"},
      {"User-Agent", std::string(kUserAgent)},
  };
  return ask(resolve_base_url(endpoint.base_env, endpoint.default_base) + std::string(endpoint.path), headers,
             util::dumps_python(request_body(endpoint.model, prompt)), request.api_key, chat_completion_text, sleep);
}

}  // namespace

Reply llm_describe_groq(std::string_view name, std::string_view sig, std::string_view lang, std::string_view api_key,
                        const Json& hints, const SleepFunction& sleep) {
  return ask_chat_completions(
      {kGroqBaseUrlEnv, "https://api.groq.com", "/openai/v1/chat/completions", "llama-3.3-70b-versatile"},
      {name, sig, lang, api_key, hints}, sleep);
}

Reply llm_describe_gemini(std::string_view name, std::string_view sig, std::string_view lang, std::string_view api_key,
                          const Json& hints, const SleepFunction& sleep) {
  return ask_chat_completions({kGeminiBaseUrlEnv, "https://generativelanguage.googleapis.com",
                               "/v1beta/openai/chat/completions", "gemini-2.0-flash"},
                              {name, sig, lang, api_key, hints}, sleep);
}

Reply llm_describe_anthropic(std::string_view name, std::string_view sig, std::string_view lang,
                             std::string_view api_key, const Json& hints, const SleepFunction& sleep) {
  const std::string prompt = build_llm_prompt(name, sig, lang, hints);
  const Headers headers{
      {"x-api-key", std::string(api_key)},
      {"anthropic-version", "2023-06-01"},
      {"content-type", "application/json"},
      {"User-Agent", std::string(kUserAgent)},
  };
  return ask(resolve_base_url(kAnthropicBaseUrlEnv, "https://api.anthropic.com") + "/v1/messages", headers,
             util::dumps_python(request_body("claude-haiku-4-5-20251001", prompt)), api_key, messages_text, sleep);
}

}  // namespace quarrix::llm
