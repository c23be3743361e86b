#include "quarrix/util/terminal_text.hpp"

#include <gtest/gtest.h>

#include "quarrix/util/json.hpp"

using namespace quarrix::util;

TEST(TerminalText, ControlsAreWrittenVisibly) {
  // Window title (OSC ... BEL), clear screen, the C1 CSI, DEL, a byte that is not UTF-8.
  EXPECT_EQ(terminal_safe("a\x1b]2;owned\x07 \x1b[2J \xc2\x9b \x7f \xff"),
            "a\\x1b]2;owned\\x07 \\x1b[2J \\x9b \\x7f \\xff");
  // Text, tabs, newlines and backslashes stay; on one line the breaks are escaped too.
  EXPECT_EQ(terminal_safe("fifo_\xc3\xa9\t\\n\n"), "fifo_\xc3\xa9\t\\n\n");
  EXPECT_EQ(terminal_safe("a\tb\nc\rd", /*one_line=*/true), "a\\tb\\nc\\x0dd");
}

TEST(TerminalText, JsonEscapesC1OnlyWhenAsked) {
  const quarrix::Json value =
      "x\xc2\x9b"
      "2J\xc3\xa9";
  EXPECT_EQ(dumps_python(value, {.ensure_ascii = false}),
            "\"x\xc2\x9b"
            "2J\xc3\xa9\"");  // json.dumps's own
  const std::string escaped = dumps_python(value, {.ensure_ascii = false, .escape_c1 = true});
  EXPECT_EQ(escaped, "\"x\\u009b2J\xc3\xa9\"");
  EXPECT_EQ(parse_json(escaped), value);
}
