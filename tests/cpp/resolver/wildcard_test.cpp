#include <gtest/gtest.h>

#include <quarrix/resolver/wildcard.hpp>

namespace {

TEST(WildcardPattern, MatchesLikeFnmatchcase) {
  struct Case {
    const char* pattern;
    const char* text;
    bool match;
  };
  const Case cases[] = {
      {"glbl", "glbl", true},
      {"glbl", "glbl.v", false},
      {"*_atoms", "cyclone_atoms", true},
      {"*_atoms", "atoms", false},
      {"*_atoms", "_atoms", true},
      {"a?c", "ac", false},  // lengths that cannot match
      {"a*?c", "abc", true},
      {"\xc3\xa9", "ab", false},
      {"x*\xc3\xa9", "xy\xc3\xa9", true},  // ends that are not ASCII are left to the match
      {"\xc3\xa9*s", "\xc3\xa9ts", true},
      {"b*s", "bats", true},
      {"b*s", "bat", false},
      {"*", "", true},
      {"a*b", "a/x/b", true},  // "*" crosses "/"
      {"?", "é", true},
      {"??", "é", false},  // code points, not bytes
      {"[abc]x", "bx", true},
      {"[!abc]x", "bx", false},
      {"[a-c]", "b", true},
      {"[c-a]", "b", false},  // empty range
      {"[!c-a]", "b", true},
      {"[]]", "]", true},
      {"[!]]", "a", true},
      {"[a-]", "-", true},
      {"[", "[", true},
      {"a[b", "a[b", true},  // unclosed bracket is literal
      {"Sim_lib", "sim_lib", false},
      {"hdl/altera_examples", "hdl/altera_examples", true},
      {"**", "x/y", true},
      {"a\\b", "a\\b", true},
      {"*\xc3\xa9?", "caf\xc3\xa9s", true},  // non-ASCII text and pattern
      {"[\xc3\xa0-\xc3\xbf]", "\xc3\xa9", true},
      {"[!\xc3\xa9]", "e", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(quarrix::resolver::WildcardPattern(c.pattern).matches(c.text), c.match) << c.pattern << " vs " << c.text;
  }
}

TEST(WildcardPattern, ManyStarsStayFast) {
  const std::string text(20000, 'a');
  EXPECT_FALSE(quarrix::resolver::WildcardPattern("*a*a*a*a*a*a*a*b").matches(text));
}

}  // namespace
