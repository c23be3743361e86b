#include "text_scan.hpp"

#include <string>
#include <utility>
#include <vector>

#include "quarrix/util/text.hpp"

namespace quarrix::hdl::detail {

std::size_t skip_space(std::string_view text, std::size_t pos) {
  static const util::Regex space(R"(\s*)");
  if (pos >= text.size()) return pos;
  return space.match(text, pos)->end();
}

std::size_t word_end(std::string_view text, std::size_t pos) {
  static const util::Regex word(R"(\w*)");
  if (pos >= text.size()) return pos;
  return word.match(text, pos)->end();
}

bool is_word_at(std::string_view text, std::size_t pos) {
  static const util::Regex word(R"(\w)");
  return pos < text.size() && word.match(text, pos).has_value();
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

void for_each_word_led_match(const util::Regex& re, std::string_view text,
                             const std::function<void(const util::Match&)>& visit) {
  static const util::Regex word(R"(\w+)");
  std::size_t pos = 0;
  while (pos <= text.size()) {
    const auto run = word.search(text, pos);
    if (!run) return;
    const auto m = re.match(text, run->start());
    if (m) visit(*m);
    pos = m ? m->end() : run->end();  // the patterns never match empty
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
