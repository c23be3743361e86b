#pragma once
// Outcome words of a provider call and the (text, outcome) pair that the HTTP
// layer and the provider adapters return.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace quarrix::llm {

// Every word a provider call can end with, in counter order.
inline constexpr std::array<std::string_view, 6> kLlmOutcomes{"ok", "429", "403", "5xx", "timeout", "other"};

struct Reply {
  std::optional<std::string> text;  // set only with outcome "ok" (and then maybe empty)
  std::string outcome;

  bool operator==(const Reply&) const = default;
};

}  // namespace quarrix::llm
