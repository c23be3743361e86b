#include "hdl_tokens.hpp"

#include <array>
#include <string>

namespace quarrix::probes::detail {

namespace {

// Word bytes by language: bytes >= 0x80 belong to non-ASCII letters of
// extended identifiers, and "$" is a word byte in Verilog only.
struct WordBytes {
  std::array<bool, 256> vhdl{}, verilog{};
  WordBytes() {
    for (int c = 0; c < 256; ++c)
      vhdl[c] = verilog[c] =
          (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c >= 0x80;
    verilog['$'] = true;
  }
};

const std::array<bool, 256>& word_bytes(hdl::HdlLanguage language) {
  static const WordBytes tables;
  return language == hdl::HdlLanguage::verilog ? tables.verilog : tables.vhdl;
}

}  // namespace

bool TokenStream::next(Token& token) {
  const std::size_t n = text_.size();
  const std::array<bool, 256>& is_word = word_bytes(language_);
  while (pos_ < n) {
    const unsigned char c = static_cast<unsigned char>(text_[pos_]);
    // Words and blanks first: between them they are nearly every byte.
    if (is_word[c]) {
      const std::size_t start = pos_;
      while (++pos_ < n && is_word[static_cast<unsigned char>(text_[pos_])]) {
      }
      token = {text_.substr(start, pos_ - start), true};
      return true;
    }
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
      ++pos_;
      continue;
    }
    const char following = pos_ + 1 < n ? text_[pos_ + 1] : '\0';
    if ((language_ == hdl::HdlLanguage::vhdl && c == '-' && following == '-') ||
        (language_ == hdl::HdlLanguage::verilog && c == '/' && following == '/')) {
      const std::size_t eol = text_.find('\n', pos_);
      pos_ = eol == std::string_view::npos ? n : eol + 1;
    } else if (c == '/' && following == '*') {
      const std::size_t close = text_.find("*/", pos_ + 2);
      pos_ = close == std::string_view::npos ? n : close + 2;
    } else if (c == '"') {
      // A string literal ends at the next unescaped quote or at the line end.
      ++pos_;
      while (pos_ < n && text_[pos_] != '"' && text_[pos_] != '\n') {
        if (language_ == hdl::HdlLanguage::verilog && text_[pos_] == '\\') ++pos_;
        ++pos_;
      }
      if (pos_ < n) ++pos_;
    } else {
      token = {text_.substr(pos_, 1), false};
      ++pos_;
      return true;
    }
  }
  return false;
}

}  // namespace quarrix::probes::detail
