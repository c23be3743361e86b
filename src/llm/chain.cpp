#include "quarrix/llm/chain.hpp"

#include <mutex>
#include <stdexcept>
#include <utility>

#include "quarrix/llm/adapters.hpp"
#include "quarrix/llm/prompt.hpp"
#include "quarrix/llm/sleep.hpp"
#include "quarrix/llm/stats.hpp"
#include "quarrix/util/env.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::llm {

namespace {

std::mutex& dispatcher_mutex() {
  static std::mutex m;
  return m;
}

AdapterDispatcher& installed_dispatcher() {
  static AdapterDispatcher dispatcher = call_native_adapter;
  return dispatcher;
}

const ProviderSpec* find_provider(std::string_view name) {
  for (const ProviderSpec& provider : kProviderFns)
    if (provider.name == name) return &provider;
  return nullptr;
}

std::vector<std::string> default_chain() { return {kDefaultProviderChain.begin(), kDefaultProviderChain.end()}; }

}  // namespace

std::vector<std::string> resolve_provider_chain() {
  const std::string value(util::strip(util::getenv_str("QUARRIX_LLM_PROVIDERS").value_or("")));
  if (value.empty()) return default_chain();
  std::vector<std::string> chain;
  for (const std::string& piece : util::split(value, ",")) {
    std::string name = util::lower(util::strip(piece));
    if (find_provider(name)) chain.push_back(std::move(name));
  }
  return chain.empty() ? default_chain() : chain;
}

double resolve_pace() {
  const std::string value(util::strip(util::getenv_str("QUARRIX_LLM_PACE").value_or("")));
  if (value.empty()) return 0.0;
  const std::optional<double> pace = util::parse_float(value);
  return pace && *pace > 0 ? *pace : 0.0;
}

Reply call_native_adapter(std::string_view fn_name, std::string_view entity_name, std::string_view signature,
                          std::string_view language, std::string_view api_key, const Json& hints) {
  if (fn_name == "_llm_describe_groq") return llm_describe_groq(entity_name, signature, language, api_key, hints);
  if (fn_name == "_llm_describe_gemini") return llm_describe_gemini(entity_name, signature, language, api_key, hints);
  if (fn_name == "_llm_describe_anthropic")
    return llm_describe_anthropic(entity_name, signature, language, api_key, hints);
  throw std::invalid_argument("unknown provider adapter " + std::string(fn_name));
}

AdapterDispatcher set_adapter_dispatcher(AdapterDispatcher dispatcher) {
  std::lock_guard lock(dispatcher_mutex());
  AdapterDispatcher previous = std::move(installed_dispatcher());
  installed_dispatcher() = dispatcher ? std::move(dispatcher) : AdapterDispatcher(call_native_adapter);
  return previous;
}

std::optional<std::string> llm_describe(std::string_view entity_name, std::string_view signature,
                                        std::string_view language, const Json& hints) {
  const double pace = resolve_pace();
  for (const std::string& provider : resolve_provider_chain()) {
    if (is_provider_dead(provider)) continue;
    const ProviderSpec& known = *find_provider(provider);
    const std::optional<std::string> api_key = util::getenv_str(std::string(known.env_key).c_str());
    if (!api_key || api_key->empty()) continue;

    AdapterDispatcher dispatch;
    {
      std::lock_guard lock(dispatcher_mutex());
      dispatch = installed_dispatcher();
    }
    const Reply reply = dispatch(known.fn_name, entity_name, signature, language, *api_key, hints);
    bump_stat(provider, reply.outcome);
    if (reply.outcome == "403") mark_provider_dead(provider);
    llm_sleep(pace);  // no pause for 0; an infinite pace would block the scan for good, so none either
    if (reply.text && !reply.text->empty())
      if (std::optional<std::string> cleaned = clean_llm_response(*reply.text)) return cleaned;
  }
  return std::nullopt;
}

}  // namespace quarrix::llm
