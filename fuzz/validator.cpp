// The description validator on "text\0name\0namespace" (a missing part is none).
#include <quarrix/util/text.hpp>
#include <quarrix/validator/validator.hpp>

#include "fuzz_target.hpp"

QUARRIX_FUZZ_TARGET(validator) {
  using namespace quarrix;
  const auto [text, rest] = fuzz::split_at_nul(input);
  const auto [name, ns] = fuzz::split_at_nul(rest);
  const auto optional = [](std::string_view part) {
    return part.empty() ? std::nullopt : std::optional<std::string>(util::decode_text(part));
  };
  (void)validator::is_suspect(util::decode_text(text), optional(name), optional(ns));
  (void)validator::is_suspect(util::decode_text(text));
}
