#include "quarrix/llm/chain.hpp"

#include <stdexcept>
#include <utility>

#include "quarrix/llm/adapters.hpp"
#include "quarrix/llm/prompt.hpp"
#include "quarrix/llm/stats.hpp"
#include "quarrix/util/env.hpp"
#include "quarrix/util/errors.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::llm {

std::vector<std::string> default_chain() {
  std::vector<std::string> chain;
  for (const ProviderSpec& provider : kProviders) chain.emplace_back(provider.name);
  return chain;
}

const ProviderSpec* find_provider(std::string_view name) {
  for (const ProviderSpec& provider : kProviders)
    if (provider.name == name) return &provider;
  return nullptr;
}

std::vector<std::string> parse_provider_chain(std::string_view text) {
  const std::string value(util::strip(text));
  if (value.empty()) return default_chain();
  std::vector<std::string> chain;
  for (const std::string& piece : util::split(value, ",")) {
    std::string name = util::lower(util::strip(piece));
    if (find_provider(name)) chain.push_back(std::move(name));
  }
  return chain.empty() ? default_chain() : chain;
}

std::vector<std::string> resolve_provider_chain() {
  return parse_provider_chain(util::getenv_str("QUARRIX_LLM_PROVIDERS").value_or(""));
}

double parse_pace(std::string_view text) {
  const std::string value(util::strip(text));
  if (value.empty()) return 0.0;
  const std::optional<double> pace = util::parse_float(value);
  return pace && *pace > 0 ? *pace : 0.0;
}

double resolve_pace() { return parse_pace(util::getenv_str("QUARRIX_LLM_PACE").value_or("")); }

ChainSettings ChainSettings::from_environment() {
  ChainSettings settings;
  settings.providers = resolve_provider_chain();
  settings.pace = resolve_pace();
  for (const ProviderSpec& provider : kProviders)
    if (std::optional<std::string> key = util::getenv_str(std::string(provider.env_key).c_str()))
      settings.api_keys.emplace(provider.name, std::move(*key));
  return settings;
}

Reply call_native_adapter(std::string_view provider, const DescribeRequest& request, const SleepFunction& sleep) {
  if (const ProviderSpec* spec = find_provider(provider))
    return spec->adapter(request.entity_name, request.signature, request.language, request.api_key, request.hints,
                         sleep);
  throw ValueError("unknown provider " + std::string(provider));
}

std::optional<std::string> llm_describe(std::string_view entity_name, std::string_view signature,
                                        std::string_view language, const Json& hints, const ChainSettings& settings,
                                        const ChainServices& services) {
  for (const std::string& provider : settings.providers) {
    if (is_provider_dead(provider)) continue;
    const auto key = settings.api_keys.find(provider);
    if (key == settings.api_keys.end() || key->second.empty()) continue;

    const Reply reply = services.ask(provider, {entity_name, signature, language, key->second, hints}, services.sleep);
    bump_stat(provider, reply.outcome);
    if (reply.outcome == "403") mark_provider_dead(provider);
    // No pause for 0; an infinite pace would block the scan for good, so none either.
    pause_for(services.sleep, settings.pace);
    if (reply.text && !reply.text->empty())
      if (std::optional<std::string> cleaned = clean_llm_response(*reply.text)) return cleaned;
  }
  return std::nullopt;
}

}  // namespace quarrix::llm
