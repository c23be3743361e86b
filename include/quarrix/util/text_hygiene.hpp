#pragma once
// Display hygiene shared by every description source: a dangling "...at:"
// tail, markdown escapes and the length cap.

#include <string>
#include <string_view>

namespace quarrix::util {

inline constexpr long long kDescriptionMaxChars = 240;
inline constexpr long long kLlmDescriptionMaxChars = kDescriptionMaxChars;

// Pattern texts, as exposed to Python.
extern const char* const kDanglingTailPattern;
extern const char* const kMarkdownEscapeStripPattern;

// Removes one trailing ":", ";" or "," and a lead-in phrase before it; returns
// the input unchanged when nothing but whitespace would remain.
std::string strip_dangling_tail(std::string_view text);
// "\[" -> "[" and the like for [ ] * _ ( ) \ and the backtick.
std::string strip_markdown_escapes(std::string_view text);
// At most max_chars code points: cut after the last terminator in the window
// [0.6 * max_chars, max_chars), else hard cut with "...".
std::string apply_length_cap(std::string_view text, long long max_chars = kDescriptionMaxChars);

}  // namespace quarrix::util
