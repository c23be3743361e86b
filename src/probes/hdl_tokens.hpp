#pragma once
// A linear tokenizer for the probes' scans of HDL text: words (identifiers,
// keywords, numbers) and single punctuation characters, with comments and
// string literals skipped. It never backtracks, so hostile text costs one pass.

#include <string_view>

#include "quarrix/hdl/language.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::probes::detail {

struct Token {
  std::string_view text;
  bool word = false;  // identifier, keyword or number; otherwise one punctuation character
};

class TokenStream {
 public:
  TokenStream(std::string_view text, hdl::HdlLanguage language) : text_(text), language_(language) {}
  // The next token, or false at the end of the text.
  bool next(Token& token);

 private:
  std::string_view text_;
  hdl::HdlLanguage language_;
  std::size_t pos_ = 0;
};

// VHDL's names are case-insensitive in ASCII.
using util::ascii_lower;

}  // namespace quarrix::probes::detail
