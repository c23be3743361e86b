// Port, parameter/generic and port-tag extraction; the first byte picks the suffix.
#include <quarrix/hdl/port_names.hpp>
#include <quarrix/tags/port_readme_tags.hpp>
#include <quarrix/util/text.hpp>

#include "fuzz_target.hpp"

QUARRIX_FUZZ_TARGET(ports) {
  using namespace quarrix;
  static const char* const suffixes[] = {".v", ".sv", ".vh", ".svh", ".vhd", ".vhdl"};
  if (input.empty()) return;
  const std::string_view suffix = suffixes[static_cast<unsigned char>(input[0]) % 6];
  const std::string text = util::decode_text(input.substr(1));
  (void)hdl::extract_port_names(text, suffix);
  (void)hdl::extract_generic_names(text, suffix);
  (void)tags::extract_port_tags(text, suffix);
}
