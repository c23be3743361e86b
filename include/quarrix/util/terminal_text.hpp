#pragma once
// Text bound for a terminal or a log line, where a name taken from a scanned
// repository must not be able to move the cursor, retitle the window or clear
// the screen.

#include <string>
#include <string_view>

namespace quarrix::util {

// `text` with every control character written visibly, as Python's repr()
// writes it: C0 but tab and newline, DEL and the C1 controls U+0080..U+009F
// become "\x1b", "\x7f", "\x9b"; a byte that is not UTF-8 (which an 8-bit
// terminal may take for a C1 control) becomes "\xNN" too. Everything else,
// backslashes included, is kept. With `one_line`, tab and newline are
// escaped as well ("\t", "\n"), for a status line that must stay one line.
std::string terminal_safe(std::string_view text, bool one_line = false);

}  // namespace quarrix::util
