#pragma once
// Shell-style wildcard patterns as Python's fnmatch.fnmatchcase reads them:
// "*" matches any run of characters ("/" included), "?" one character,
// "[seq]" / "[!seq]" a character in / not in the set (ranges "a-z"; a "]"
// right after the opening bracket is a member; an unclosed "[" is literal).
// Matching is case-sensitive and counts code points, not bytes.

#include <string>
#include <string_view>
#include <vector>

namespace quarrix::resolver {

class WildcardPattern {
 public:
  explicit WildcardPattern(std::string_view pattern);

  bool matches(std::string_view text) const;
  // The pattern as written.
  const std::string& text() const { return text_; }

 private:
  struct Element {
    enum class Kind { literal, any, star, set };
    explicit Element(Kind k, char32_t c = 0) : kind(k), ch(c) {}
    Kind kind;
    char32_t ch = 0;                                    // literal
    bool negated = false;                               // set
    std::vector<std::pair<char32_t, char32_t>> ranges;  // set: inclusive ranges
  };
  bool element_matches(const Element& e, char32_t c) const;
  template <typename Points>
  bool matches_points(const Points& t) const;

  std::vector<Element> elements_;
  bool has_star_ = false;
  std::size_t fixed_points_ = 0;  // elements other than stars: each takes one code point
  std::string text_;
};

}  // namespace quarrix::resolver
