#include <gtest/gtest.h>

#include "quarrix/util/text_hygiene.hpp"

using namespace quarrix::util;

TEST(Hygiene, DanglingTail) {
  const std::pair<const char*, const char*> cases[] = {
      {"This file can be refereed at:", "This file can be refereed"},
      {"pipeline that implements the following instruction set architecture:",
       "pipeline that implements the following instruction set architecture"},
      {"The FIFO, - ", "The FIFO"},
      {"A list AT :", "A list"},
      {"core:\n", "core"},
      {"Seat:", "Seat"},
      {"foo::", "foo:"},
      {"below, see:", "below,"},
      {"as follows:", "as follows:"},
      {"Value is 1,2;", "Value is 1,2"},
      {"", ""},
      {"see:", "see:"},
      {": ", ": "},
      {"for example e.g.:", "for example"},
      {"no tail here", "no tail here"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(strip_dangling_tail(in), out) << in;
}

TEST(Hygiene, MarkdownEscapes) {
  EXPECT_EQ(strip_markdown_escapes("foo \\[bar\\] baz"), "foo [bar] baz");
  EXPECT_EQ(strip_markdown_escapes("\\_x\\_"), "_x_");
  EXPECT_EQ(strip_markdown_escapes("\\\\["), "\\[");
  EXPECT_EQ(strip_markdown_escapes("\\d+"), "\\d+");
  EXPECT_EQ(strip_markdown_escapes("\\`code\\`"), "`code`");
}

TEST(Hygiene, LengthCapPrefersTheLastTerminatorInTheWindow) {
  const std::string s240(240, 'x');
  EXPECT_EQ(apply_length_cap(s240), s240);
  EXPECT_EQ(apply_length_cap(s240 + "x"), std::string(237, 'x') + "...");

  std::string dot150(300, 'x');
  dot150[150] = '.';
  EXPECT_EQ(apply_length_cap(dot150), dot150.substr(0, 151));

  std::string dot143(300, 'x');
  dot143[143] = '.';
  dot143[235] = ' ';
  dot143[236] = ' ';
  EXPECT_EQ(apply_length_cap(dot143), dot143.substr(0, 235) + "...");

  std::string two(300, 'x');
  two[160] = '!';
  two[200] = '?';
  EXPECT_EQ(apply_length_cap(two), two.substr(0, 201));

  // Counted in code points: 241 two-byte characters are over the cap, 240 are not.
  std::string e240;
  for (int i = 0; i < 240; ++i) e240 += "\xc3\xa9";
  EXPECT_EQ(apply_length_cap(e240), e240);
  EXPECT_EQ(apply_length_cap(e240 + "\xc3\xa9").size(), 237u * 2 + 3);
  EXPECT_EQ(apply_length_cap("abcdef", 2), "abcde...");  // Python's negative slice bound
}
