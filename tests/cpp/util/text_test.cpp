#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "quarrix/util/text.hpp"

using namespace quarrix::util;

namespace {
std::size_t count_replacements(const std::string& s) {
  std::size_t n = 0;
  for (char32_t cp : to_code_points(s)) n += cp == 0xFFFD;
  return n;
}
}  // namespace

TEST(Decode, OneReplacementPerMaximalInvalidSubsequence) {
  struct Case {
    std::string bytes;
    std::size_t replacements;
  };
  const Case cases[] = {
      {"\xe2\x82", 1},                               // truncated three-byte sequence
      {"\xed\xa0\x80", 3},                           // encoded surrogate
      {"\xc0\xaf", 2},                               // overlong
      {"\xff", 1},         {"\xf4\x90\x80\x80", 4},  // above U+10FFFF
      {"a\xe2\x82z", 1},   {"\xe2\x82\xac", 0},      // the euro sign is valid
  };
  for (const auto& c : cases) EXPECT_EQ(count_replacements(decode_utf8_replace(c.bytes)), c.replacements) << c.bytes;
  EXPECT_EQ(decode_utf8_replace("a\xe2\x82z"), "a\xef\xbf\xbdz");
  EXPECT_TRUE(is_valid_utf8(decode_utf8_replace("\xff\xfe\xed\xa0\x80")));
}

TEST(Decode, TextModeNewlinesAndBom) {
  EXPECT_EQ(decode_text("a\r\nb\rc\n\r\n"), "a\nb\nc\n\n");
  EXPECT_EQ(decode_text("\xef\xbb\xbfx"), "\xef\xbb\xbfx");  // BOM kept
  EXPECT_EQ(strip("\xef\xbb\xbf "), "\xef\xbb\xbf");         // and it is not whitespace
}

TEST(Whitespace, PythonSetForStripAndSplit) {
  EXPECT_EQ(strip("\x1c\x1d\x1e\x1f\t\v\f x \xc2\x85\xc2\xa0\xe3\x80\x80"), "x");
  EXPECT_EQ(strip("\xe2\x80\x8bx"), "\xe2\x80\x8bx");  // U+200B is not whitespace
  EXPECT_EQ(split_whitespace("  a \xe2\x80\x83"
                             "b\n\nc "),
            (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_TRUE(split_whitespace("").empty());
  EXPECT_TRUE(split_whitespace(" \t ").empty());
  EXPECT_EQ(split("a__b", "_"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(split("", "_"), (std::vector<std::string>{""}));
  EXPECT_EQ(strip("xxaxx", "x"), "a");
  EXPECT_EQ(rstrip("a.,", ".,"), "a");
}

// The copy-free forms answer what the general ones do.
TEST(Whitespace, JoinWordsAndAsciiHelpers) {
  for (const char* text : {"  a \xe2\x80\x83"
                           "b\n\x1c\x1fc \xc2\xa0",
                           "", " \t ", "x", "\xe2\x80\x8bx  y\xff z"})
    EXPECT_EQ(join_words(text), join(split_whitespace(text), " ")) << text;
  EXPECT_TRUE(ascii_iequals("PaCkAge", "package"));
  EXPECT_FALSE(ascii_iequals("packages", "package"));
  EXPECT_FALSE(ascii_iequals("\xc3\x89", "\xc3\xa9"));  // ASCII only: "É" is not "é"
  EXPECT_TRUE(is_ascii("a/b_c.v"));
  EXPECT_FALSE(is_ascii("caf\xc3\xa9.v"));
}

TEST(Decode, NewlinesAcrossRuns) {
  EXPECT_EQ(normalize_newlines("\r"), "\n");
  EXPECT_EQ(normalize_newlines("ab\r\r\ncd\r"), "ab\n\ncd\n");
  EXPECT_EQ(normalize_newlines("no breaks"), "no breaks");
}

TEST(Splitlines, AllPythonBoundaries) {
  EXPECT_EQ(splitlines("a\nb\r\nc\rd\ve\ff\x1cg\xc2\x85h\xe2\x80\xa8i"),
            (std::vector<std::string>{"a", "b", "c", "d", "e", "f", "g", "h", "i"}));
  EXPECT_EQ(splitlines("a\n"), (std::vector<std::string>{"a"}));
  EXPECT_EQ(splitlines("a\n\nb"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_TRUE(splitlines("").empty());
  EXPECT_EQ(splitlines("\x1f"), (std::vector<std::string>{"\x1f"}));  // unit separator is no line break
}

TEST(Case, FullUnicodeLower) {
  EXPECT_EQ(lower("FIFO_Ctrl"), "fifo_ctrl");
  EXPECT_EQ(lower("\xc4\xb0"), "i\xcc\x87");                 // İ -> i + combining dot
  EXPECT_EQ(lower("\xce\x9f\xce\xa3"), "\xce\xbf\xcf\x82");  // final sigma
  EXPECT_EQ(lower("\xce\xa3\xce\x9f"), "\xcf\x83\xce\xbf");  // not final
  EXPECT_EQ(lower("\xc3\x84"), "\xc3\xa4");
  EXPECT_EQ(ascii_lower("Entity_\xc3\x84Z9"), "entity_\xc3\x84z9");  // only A-Z change
  EXPECT_EQ(upper("stra\xc3\x9f"
                  "e"),
            "STRASSE");
}

TEST(CodePoints, LengthAndSlice) {
  const std::string s = "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80z";  // a é € 😀 z
  EXPECT_EQ(length(s), 5u);
  EXPECT_EQ(slice(s, 1, 3), "\xc3\xa9\xe2\x82\xac");
  EXPECT_EQ(slice(s, -2), "\xf0\x9f\x98\x80z");
  EXPECT_EQ(slice(s, 0, -4), "a");
  EXPECT_EQ(slice(s, 4, 2), "");
  EXPECT_EQ(slice(s, 0, 100), s);
}

TEST(Repr, PythonStyle) {
  EXPECT_EQ(py_repr(std::vector<std::string>{"a", "b"}), "['a', 'b']");
  EXPECT_EQ(py_repr("it's"), "\"it's\"");
  EXPECT_EQ(py_repr("a'\""), "'a\\'\"'");
  EXPECT_EQ(py_repr("x\\y\n\x1b\xe2\x80\x8b"), "'x\\\\y\\n\\x1b\\u200b'");
  EXPECT_EQ(py_repr("\xc3\xa9"), "'\xc3\xa9'");
}

TEST(Numbers, IntAndFloatFromEnvironmentText) {
  EXPECT_EQ(parse_int(" 20 "), 20);
  EXPECT_EQ(parse_int("+7"), 7);
  EXPECT_EQ(parse_int("-3"), -3);
  EXPECT_EQ(parse_int("99999999999999999999999"), std::numeric_limits<long long>::max());
  for (const char* bad : {"", " ", "1.5", "0x10", "abc", "1 2", "+"}) EXPECT_FALSE(parse_int(bad)) << bad;
  EXPECT_DOUBLE_EQ(*parse_float(" 1.5e1 "), 15.0);
  EXPECT_DOUBLE_EQ(*parse_float("-.5"), -0.5);
  EXPECT_TRUE(std::isinf(*parse_float("inf")));
  EXPECT_TRUE(std::isnan(*parse_float("NaN")));
  for (const char* bad : {"", "1e", "abc", "1.2.3", "."}) EXPECT_FALSE(parse_float(bad)) << bad;
}
