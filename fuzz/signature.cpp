// Declaration signatures: the first byte picks the suffix and the line limit (negative too).
#include <quarrix/hdl/module_signature.hpp>
#include <quarrix/util/text.hpp>

#include "fuzz_target.hpp"

QUARRIX_FUZZ_TARGET(signature) {
  using namespace quarrix;
  static const char* const suffixes[] = {".v", ".sv", ".vhd", ".vhdl"};
  if (input.empty()) return;
  const auto selector = static_cast<unsigned char>(input[0]);
  const long long max_lines = static_cast<signed char>(selector) / 4;
  const std::string text = util::decode_text(input.substr(1));
  (void)hdl::signature_from_text(text, suffixes[selector % 4], max_lines);
  (void)hdl::signature_from_text(text, suffixes[selector % 4]);
}
