// Description hygiene: the first byte picks the length cap (negative too).
#include <quarrix/describe/hygiene.hpp>
#include <quarrix/util/text.hpp>

#include "fuzz_target.hpp"

QUARRIX_FUZZ_TARGET(hygiene) {
  using namespace quarrix;
  if (input.empty()) return;
  const long long cap = static_cast<signed char>(input[0]) * 3;
  const std::string text = util::decode_text(input.substr(1));
  (void)describe::strip_dangling_tail(text);
  (void)describe::strip_markdown_escapes(text);
  (void)describe::apply_length_cap(text);
  (void)describe::apply_length_cap(describe::strip_markdown_escapes(describe::strip_dangling_tail(text)), cap);
}
