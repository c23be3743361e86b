// The Python-semantics text layer on arbitrary bytes.
#include <quarrix/util/text.hpp>

#include "fuzz_target.hpp"

QUARRIX_FUZZ_TARGET(text) {
  using namespace quarrix::util;
  const std::string text = decode_text(input);
  (void)decode_utf8_replace(input);
  (void)strip(text);
  (void)strip(text, "-/* #");
  (void)split_whitespace(text);
  (void)split(text, ",");
  (void)splitlines(text);
  (void)lower(text);
  (void)upper(text);
  const auto n = static_cast<std::ptrdiff_t>(length(text));
  (void)slice(text, -n / 2, n / 3);
  (void)replace_all(text, "\n", " ");
}
