#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "quarrix/util/regex.hpp"

using namespace quarrix::util;

TEST(Regex, PythonWhitespaceAndWordClasses) {
  EXPECT_TRUE(Regex("^\\s+$").search("\x1c\x1d\x1e\x1f"));
  EXPECT_FALSE(Regex("\\s").search("\xe2\x80\x8b"));  // U+200B
  EXPECT_TRUE(Regex("^[\\s,]+$").search(",\x1f "));   // \s inside a class
  EXPECT_EQ(Regex("\\S+")
                .search("\x1f"
                        "ab\x1f")
                ->group(),
            "ab");
  EXPECT_TRUE(Regex("^\\w+$").search("x\xc2\xb2\xc2\xbd_\xc3\xa9"));  // ², ½, é are word characters
  EXPECT_TRUE(Regex("\\bfoo\\b").search("a foo."));
  EXPECT_FALSE(Regex("\\bfoo\\b")
                   .search("\xc3\xa9"
                           "foo"));
  EXPECT_TRUE(Regex("^\\d$").search("\xd9\xa3"));  // Arabic-Indic three
}

TEST(Regex, DotDollarAndFlags) {
  EXPECT_TRUE(Regex("a.b").search("a\rb"));
  EXPECT_FALSE(Regex("a.b").search("a\nb"));
  EXPECT_TRUE(Regex("a.b", kDotAll).search("a\nb"));
  EXPECT_TRUE(Regex("x$").search("x\n"));
  EXPECT_FALSE(Regex("x$").search("x\n\n"));
  EXPECT_EQ(Regex("^\\w", kMultiline).findall("a\nb\rc"), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(Regex("MODULE", kIgnoreCase).search("module"));
  EXPECT_TRUE(Regex("(?i)k").search("\xe2\x84\xaa"));  // Kelvin sign
  EXPECT_FALSE(Regex("a\\Z").search("a\n"));
}

TEST(Regex, AlternationOrderAndOperations) {
  EXPECT_EQ(Regex("(in|out|inout)").search("inout")->group(1), "in");
  EXPECT_TRUE(Regex("b").match("ab", 1));
  EXPECT_FALSE(Regex("b").match("ab"));
  EXPECT_FALSE(Regex("a|ab").fullmatch("ab") && false);
  EXPECT_TRUE(Regex("a|ab").fullmatch("ab"));
  EXPECT_EQ(Regex("(\\w)=(\\d)").findall("a=1 b=2"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Regex("x*").sub("-", "abxd"), "-a-b--d-");  // empty matches as Python 3.7+
  EXPECT_EQ(Regex("(a)(b)?").sub("[\\2\\1\\g<1>]", "a"), "[aa]");
  EXPECT_EQ(Regex("(?P<w>o)").sub("\\g<w>\\n", "foo", 1), "fo\no");
  EXPECT_EQ(Regex("\\\\([\\[\\]])").sub("\\1", "\\[x\\]"), "[x]");
}

TEST(Regex, EscapeMatchesLiterally) {
  for (const std::string name : {"a$b", "x.y", "a+b(c)", "[q]", "a b#c"}) {
    const Regex re("^" + regex_escape(name) + "$");
    EXPECT_TRUE(re.search(name)) << name;
  }
  EXPECT_FALSE(Regex(regex_escape("x.y")).search("xzy"));
}

TEST(Regex, ResourceLimitIsNoMatchNotAHang) {
  // Catastrophic backtracking with no required literal to fail fast on.
  const Regex re("^(\\w+\\s?)*$");
  const std::string subject = std::string(5000, 'a') + "!";
  EXPECT_FALSE(re.search(subject));
  EXPECT_EQ(re.sub("X", subject), subject);  // the rest is left unchanged
  EXPECT_TRUE(re.search("aa b"));
}

TEST(Regex, InvalidSubjectIsNoMatchAndBadPatternThrows) {
  EXPECT_FALSE(
      Regex("a").search("\xff"
                        "a"));
  EXPECT_THROW(Regex("(unclosed"), RegexError);
}

TEST(Regex, ManyMatchesInOneLongSubjectStayLinear) {
  // 200k matches: quadratic re-validation of the subject would take minutes.
  std::string subject;
  for (int i = 0; i < 200000; ++i) subject += "a ";
  EXPECT_EQ(Regex("a").findall(subject).size(), 200000u);
  EXPECT_EQ(Regex("\\s").sub("", subject).size(), 200000u);
}

TEST(Regex, SearchesFromAnOffsetCheckOnlyWhatTheyCanRead) {
  const std::string text =
      "\xff"
      "abc \xc3\xa9t\xc3\xa9";
  EXPECT_FALSE(Regex("a").search(text));     // invalid before the match: never matches
  EXPECT_TRUE(Regex("t").search(text, 5));   // far enough past the bad byte
  EXPECT_FALSE(Regex("t").search(text, 6));  // inside a character
  EXPECT_FALSE(Regex("(?<=\\xff.)b").search(text, 2));
  std::string big(1 << 20, 'a');
  for (std::size_t pos = 0; pos + 4096 < big.size(); pos += 4096)  // growing windows stay cheap
    ASSERT_TRUE(Regex("a*").match(std::string_view(big).substr(0, pos + 4096), pos));
}

// A pattern is JIT-compiled part-way through its use, possibly while other
// threads match with it: every answer is the interpreter's.
TEST(Regex, AnswersAlikeBeforeAndAfterItsJitCompile) {
  const Regex shared("(\\w+)\\s*=\\s*(\\d+)?", kIgnoreCase);
  const Regex interpreted(shared.pattern(), shared.flags() | kNoJit);
  const std::string text = "a = 1\nb =\nc= 22 \xc3\xa9=3\n";
  const auto answers = [&text](const Regex& re) {
    std::string out;
    for (const Match& m : re.finditer(text))
      out += std::string(m.group(1)) + ":" + (m.matched(2) ? std::string(m.group(2)) : "-") + ";";
    if (const auto m = re.search(text, 7)) out += std::to_string(m->start());
    return out;
  };
  const std::string expected = answers(interpreted);
  std::atomic<int> differ{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i)
        if (answers(shared) != expected) ++differ;
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(differ, 0);
  EXPECT_EQ(answers(shared), expected);
}
