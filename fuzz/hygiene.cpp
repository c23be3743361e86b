// Description hygiene: the first byte picks the length cap (negative too).
#include <quarrix/util/text.hpp>
#include <quarrix/util/text_hygiene.hpp>

#include "fuzz_target.hpp"

QUARRIX_FUZZ_TARGET(hygiene) {
  using namespace quarrix;
  if (input.empty()) return;
  const long long cap = static_cast<signed char>(input[0]) * 3;
  const std::string text = util::decode_text(input.substr(1));
  (void)util::strip_dangling_tail(text);
  (void)util::strip_markdown_escapes(text);
  (void)util::apply_length_cap(text);
  (void)util::apply_length_cap(util::strip_markdown_escapes(util::strip_dangling_tail(text)), cap);
}
