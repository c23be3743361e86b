#include "quarrix/llm/stats.hpp"

#include <algorithm>
#include <climits>
#include <mutex>
#include <stdexcept>

#include "quarrix/llm/chain.hpp"
#include "quarrix/llm/outcome.hpp"
#include "quarrix/util/errors.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::llm {

namespace {

struct SessionState {
  std::mutex mutex;
  Json stats = Json::object();    // provider -> counters
  std::vector<std::string> dead;  // providers whose credential was refused
};

SessionState& session() {
  static SessionState state;
  return state;
}

bool contains(const std::vector<std::string>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

long long count_of(const Json& value) {
  if (!value.is_number_integer() || (value.is_number_unsigned() && value.get<unsigned long long>() > LLONG_MAX))
    throw ValueError("format_llm_summary: counts must be integers");
  return value.get<long long>();
}

// Python truthiness of a counters value: missing, null, empty and zero skip it.
bool has_counters(const Json& counters) {
  if (counters.is_null()) return false;
  if (counters.is_boolean()) return counters.get<bool>();
  if (counters.is_number()) return counters.get<double>() != 0.0;
  return !counters.empty();
}

std::string format(const Json& stats, const std::vector<std::string>& dead) {
  if (!stats.is_object()) throw ValueError("format_llm_summary: stats must be a map of provider counters");
  if (stats.empty()) return "LLM: no provider calls recorded";
  std::vector<std::string> lines;
  for (const ProviderSpec& spec : kProviders) {
    const std::string_view provider = spec.name;
    const auto it = stats.find(provider);
    if (it == stats.end() || !has_counters(*it)) continue;
    if (!it->is_object()) throw ValueError("format_llm_summary: counters must map outcome words to counts");
    long long total = 0;
    std::vector<std::string> parts;
    for (const auto& [word, value] : it->items()) {
      const long long n = count_of(value);
      if (__builtin_add_overflow(total, n, &total)) throw ValueError("format_llm_summary: counts too large");
      if (n != 0) parts.push_back(word + "=" + std::to_string(n));
    }
    std::string line = "  " + std::string(provider) + ": " + std::to_string(total) + " calls (" +
                       (parts.empty() ? "n/a" : util::join(parts, ", ")) + ")";
    if (contains(dead, provider)) line += " DEAD";
    lines.push_back(std::move(line));
  }
  if (lines.empty()) return "LLM: no calls";
  return "LLM provider stats:\n" + util::join(lines, "\n");
}

}  // namespace

void bump_stat(std::string_view provider, std::string_view outcome) {
  SessionState& s = session();
  std::lock_guard lock(s.mutex);
  const std::string key(provider);
  if (!s.stats.contains(key)) {
    Json counters = Json::object();
    for (std::string_view word : kLlmOutcomes) counters[std::string(word)] = 0;
    s.stats[key] = std::move(counters);
  }
  Json& counters = s.stats[key];
  const std::string word(outcome);
  counters[word] = counters.value(word, 0LL) + 1;
}

Json get_llm_stats() {
  SessionState& s = session();
  std::lock_guard lock(s.mutex);
  return s.stats;
}

void reset_llm_session() {
  SessionState& s = session();
  std::lock_guard lock(s.mutex);
  s.dead.clear();
  s.stats = Json::object();
}

std::string format_llm_summary() {
  SessionState& s = session();
  std::lock_guard lock(s.mutex);
  return format(s.stats, s.dead);
}

std::string format_llm_summary(const Json& stats) { return format(stats, dead_providers()); }

bool is_provider_dead(std::string_view provider) {
  SessionState& s = session();
  std::lock_guard lock(s.mutex);
  return contains(s.dead, provider);
}

void mark_provider_dead(std::string_view provider) {
  SessionState& s = session();
  std::lock_guard lock(s.mutex);
  if (!contains(s.dead, provider)) s.dead.emplace_back(provider);
}

void revive_provider(std::string_view provider) {
  SessionState& s = session();
  std::lock_guard lock(s.mutex);
  s.dead.erase(std::remove(s.dead.begin(), s.dead.end(), provider), s.dead.end());
}

std::vector<std::string> dead_providers() {
  SessionState& s = session();
  std::lock_guard lock(s.mutex);
  return s.dead;
}

void clear_dead_providers() {
  SessionState& s = session();
  std::lock_guard lock(s.mutex);
  s.dead.clear();
}

void clear_provider_stats() {
  SessionState& s = session();
  std::lock_guard lock(s.mutex);
  s.stats = Json::object();
}

}  // namespace quarrix::llm
