#include "quarrix/util/text_hygiene.hpp"

#include "quarrix/util/regex.hpp"
#include "quarrix/util/text.hpp"

namespace quarrix::util {

const char* const kDanglingTailPattern =
    "\\s*(?:\\b(?:at|including|such as|like|e\\.g\\.?|i\\.e\\.?|namely|see|the following|as follows|for "
    "example)\\s*)?[:;,]\\s*-?\\s*$";
const char* const kMarkdownEscapeStripPattern = "\\\\([\\[\\]\\*_()\\\\`])";

namespace {

const util::Regex& dangling_tail_re() {
  static const util::Regex re(kDanglingTailPattern, util::kIgnoreCase);
  return re;
}

const util::Regex& markdown_escape_re() {
  static const util::Regex re(kMarkdownEscapeStripPattern);
  return re;
}

}  // namespace

std::string strip_dangling_tail(std::string_view text) {
  if (text.empty()) return std::string(text);
  const std::string result = dangling_tail_re().sub("", text);
  if (util::strip(result).empty()) return std::string(text);
  return std::string(util::rstrip(result));
}

std::string strip_markdown_escapes(std::string_view text) {
  if (text.empty()) return std::string(text);
  return markdown_escape_re().sub("\\1", text);
}

std::string apply_length_cap(std::string_view text, long long max_chars) {
  const std::u32string cps = util::to_code_points(text);
  const auto n = static_cast<long long>(cps.size());
  if (n <= max_chars) return std::string(text);
  const auto min_keep = static_cast<long long>(static_cast<double>(max_chars) * 0.6);
  for (long long i = max_chars - 1; i >= min_keep; --i) {
    if (i >= 0 && i < n && (cps[i] == U'.' || cps[i] == U'!' || cps[i] == U'?'))
      return std::string(util::rstrip(util::from_code_points(std::u32string_view(cps).substr(0, i + 1))));
  }
  // Python's text[:max_chars - 3]: a negative bound counts from the end.
  long long keep = max_chars - 3;
  if (keep < 0) keep = std::max(0LL, n + keep);
  const std::string head = util::from_code_points(std::u32string_view(cps).substr(0, static_cast<std::size_t>(keep)));
  return std::string(util::rstrip(head)) + "...";
}

}  // namespace quarrix::util
