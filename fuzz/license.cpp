// Licence detection from a LICENSE file holding the input, and classification
// of the input's first line as an SPDX expression.
#include <quarrix/license/license.hpp>
#include <quarrix/util/text.hpp>

#include "fuzz_target.hpp"

QUARRIX_FUZZ_TARGET(license) {
  using namespace quarrix;
  (void)license::detect_license(fuzz::write_scratch("LICENSE", input));
  const std::string text = util::decode_text(input);
  (void)license::classify_license(text.substr(0, text.find('\n')));
}
