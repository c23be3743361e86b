#pragma once
// Reference extractors that apply the declaration patterns literally (plain
// regex searches), and a generator of small random HDL-like texts. The linear
// scanners of the library must agree with them on every input.

#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "quarrix/util/regex.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::hdl::testing {

// Concatenates `max_tokens` or fewer tokens drawn from `alphabet`.
class RandomText {
 public:
  RandomText(std::vector<std::string> alphabet, unsigned seed) : alphabet_(std::move(alphabet)), rng_(seed) {}
  std::string next(int max_tokens = 24) {
    std::uniform_int_distribution<int> count(0, max_tokens);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet_.size() - 1);
    std::string out;
    for (int i = count(rng_); i > 0; --i) out += alphabet_[pick(rng_)];
    return out;
  }

 private:
  std::vector<std::string> alphabet_;
  std::mt19937 rng_;
};

inline std::vector<std::string> finditer_group(const util::Regex& re, std::string_view text,
                                               std::vector<std::size_t> groups = {1}) {
  std::vector<std::string> out;
  for (const auto& m : re.finditer(text))
    for (std::size_t g : groups) out.push_back(util::lower(m.group(g)));
  return out;
}

inline std::optional<std::string> search_group(const util::Regex& re, std::string_view text, std::size_t group = 1) {
  const auto m = re.search(text);
  if (!m) return std::nullopt;
  return std::string(m->group(group));
}

}  // namespace quarrix::hdl::testing
