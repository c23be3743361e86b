#include "text_scan.hpp"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "quarrix/util/text.hpp"

namespace quarrix::hdl::detail {

namespace {

constexpr std::size_t kShortPattern = 64;
constexpr std::size_t kFirstWindow = 256;
constexpr std::size_t kLargestWindow = 1 << 16;

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }
bool is_ascii(char c) { return static_cast<unsigned char>(c) < 0x80; }
// \w and \s agree with these on ASCII; other characters go to the regex.
bool is_ascii_word(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}
bool is_ascii_space(char c) { return util::is_space(static_cast<char32_t>(static_cast<unsigned char>(c))); }

// End of the run of `run_re` (a "X*" pattern) from `pos`, in growing windows.
std::size_t run_end(const util::Regex& run_re, bool (*ascii_in_run)(char), std::string_view text, std::size_t pos) {
  while (pos < text.size() && is_ascii(text[pos])) {
    if (!ascii_in_run(text[pos])) return pos;
    ++pos;
  }
  for (std::size_t size = kFirstWindow; pos < text.size(); size = std::min(2 * size, kLargestWindow)) {
    const std::string_view part = window(text, pos + size);
    const auto run = run_re.match(part, pos);
    if (!run) return pos;  // text the engine refuses (invalid UTF-8) ends the run
    const std::size_t end = run->end();
    if (end < part.size() || part.size() == text.size()) return end;
    pos = end;
  }
  return pos;
}

}  // namespace

std::string_view window(std::string_view text, std::size_t end) {
  end = std::min(end, text.size());
  while (end < text.size() && is_continuation(text[end])) ++end;
  return text.substr(0, end);
}

std::size_t skip_space(std::string_view text, std::size_t pos) {
  static const util::Regex space(R"(\s*)");
  return run_end(space, is_ascii_space, text, pos);
}

std::size_t word_end(std::string_view text, std::size_t pos) {
  static const util::Regex word(R"(\w*)");
  return run_end(word, is_ascii_word, text, pos);
}

bool is_word_at(std::string_view text, std::size_t pos) {
  static const util::Regex word(R"(\w)");
  if (pos >= text.size()) return false;
  if (is_ascii(text[pos])) return is_ascii_word(text[pos]);
  return match_short(word, text, pos).has_value();
}

std::optional<util::Match> match_short(const util::Regex& re, std::string_view text, std::size_t pos) {
  if (pos > text.size()) return std::nullopt;
  return re.match(window(text, pos + kShortPattern), pos);
}

std::optional<util::Match> search_short(const util::Regex& re, std::string_view text, std::size_t pos) {
  for (std::size_t size = kFirstWindow; pos <= text.size(); size = std::min(2 * size, kLargestWindow)) {
    while (pos < text.size() && is_continuation(text[pos])) ++pos;
    const std::string_view part = window(text, pos + size);
    const bool last = part.size() == text.size();
    const auto m = re.search(part, pos);
    // A match may only be trusted where the window cannot have cut a longer,
    // earlier one short.
    if (m && (last || m->start() + kShortPattern <= part.size())) return m;
    if (last) return std::nullopt;
    pos = std::max(pos, part.size() - kShortPattern);
  }
  return std::nullopt;
}

Finder::Finder(std::string_view text, char c, std::function<bool(std::size_t)> accept)
    : text_(text), c_(c), accept_(std::move(accept)) {}

std::size_t Finder::find(std::size_t from) {
  if (cached_ && lo_ <= from && from <= hit_) return hit_;
  // Below the cached interval only [from, lo_) is new; past it, everything is.
  const std::size_t stop = (cached_ && from < lo_) ? lo_ : npos;
  for (std::size_t pos = text_.find(c_, from);; pos = text_.find(c_, pos + 1)) {
    if (pos == npos || pos >= stop) {
      if (stop == npos) hit_ = npos;
      lo_ = from;
      cached_ = true;
      return hit_;
    }
    if (!accept_ || accept_(pos)) {
      lo_ = from;
      hit_ = pos;
      cached_ = true;
      return pos;
    }
  }
}

namespace {

// Where the next word begins from `pos`, as a search for \w finds it. In valid
// UTF-8 an ASCII byte is its own character, settled without the engine; other
// characters (and text the engine may refuse) go to the regex.
std::optional<std::size_t> next_word_start(std::string_view text, std::size_t pos, bool valid) {
  static const util::Regex word(R"(\w)");
  if (!valid) {
    const auto first = search_short(word, text, pos);
    return first ? std::optional<std::size_t>(first->start()) : std::nullopt;
  }
  while (pos < text.size() && is_continuation(text[pos])) ++pos;
  while (pos < text.size()) {
    if (is_ascii(text[pos]) ? is_ascii_word(text[pos]) : is_word_at(text, pos)) return pos;
    ++pos;
    while (pos < text.size() && is_continuation(text[pos])) ++pos;
  }
  return std::nullopt;
}

}  // namespace

void for_each_word_led_match(const util::Regex& re, std::string_view text,
                             const std::function<void(const util::Match&)>& visit) {
  const bool valid = util::is_valid_utf8(text);
  std::size_t pos = 0;
  while (const auto first = next_word_start(text, pos, valid)) {
    const std::size_t start = *first;
    const std::size_t run = word_end(text, start);
    // The extent of "word, space, one character, space, word, space, word".
    std::size_t end = skip_space(text, run);
    end = window(text, end + 1).size();
    end = word_end(text, skip_space(text, end));
    end = word_end(text, skip_space(text, end));
    const auto m = re.match(window(text, end), start);
    if (m) visit(*m);
    pos = m ? m->end() : run;  // the patterns never match empty
  }
}

void for_each_line(std::string_view text, const std::function<bool(std::string_view)>& visit) {
  // '\n' always ends a line, so splitting at it first and applying
  // splitlines() to each '\n'-terminated piece gives the same lines.
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t nl = text.find('\n', start);
    const std::size_t stop = nl == npos ? text.size() : nl + 1;
    for (const std::string& line : util::splitlines(text.substr(start, stop - start)))
      if (!visit(line)) return;
    start = stop;
  }
}

}  // namespace quarrix::hdl::detail
