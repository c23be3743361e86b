#pragma once
// The tokens of one source by position, lexed as a scanner asks for them.
//
// A source can hold far more tokens than bytes' worth of memory (a file of
// punctuation is a token per byte), so no scanner keeps them all: the window
// holds the last kKeep tokens up to the furthest one asked for. Scanners look
// back and ahead a few tokens from where they stand, and a scanner that skips
// far ahead never returns to where it started.

#include <array>
#include <cstddef>

namespace quarrix::resolver {

// Lexer: `bool next(Token&)` gives the next token, false at the end.
template <class Lexer, class Token>
class TokenWindow {
 public:
  explicit TokenWindow(Lexer lexer) : lexer_(std::move(lexer)) {}

  // Whether token i exists and is still in the window.
  bool has(std::size_t i) {
    while (!ended_ && i >= lexed_) {
      if (!lexer_.next(ring_[lexed_ % kKeep])) {
        ended_ = true;
        break;
      }
      ++lexed_;
    }
    return i < lexed_ && i + kKeep >= lexed_;
  }

  // Token i when has(i); a default token (of no kind a scanner looks for) otherwise.
  const Token& operator[](std::size_t i) const {
    static const Token none{};
    return i < lexed_ && i + kKeep >= lexed_ ? ring_[i % kKeep] : none;
  }

 private:
  static constexpr std::size_t kKeep = 64;

  Lexer lexer_;
  std::array<Token, kKeep> ring_{};
  std::size_t lexed_ = 0;
  bool ended_ = false;
};

}  // namespace quarrix::resolver
