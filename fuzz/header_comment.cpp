// Header-comment extraction from VHDL and Verilog source text.
#include <quarrix/hdl/header_comment.hpp>
#include <quarrix/util/text.hpp>

#include "fuzz_target.hpp"

QUARRIX_FUZZ_TARGET(header_comment) {
  using namespace quarrix;
  const std::string text = util::decode_text(input);
  (void)hdl::extract_vhdl_header(text);
  (void)hdl::extract_verilog_header(text);
  (void)hdl::clean_comment_lines(util::splitlines(text), "-/* ");
}
