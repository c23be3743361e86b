#include <quarrix/resolver/wildcard.hpp>

#include <quarrix/util/text.hpp>

namespace quarrix::resolver {

WildcardPattern::WildcardPattern(std::string_view pattern) : text_(pattern) {
  const std::u32string p = util::to_code_points(pattern);
  const std::size_t n = p.size();
  std::size_t i = 0;
  while (i < n) {
    const char32_t c = p[i++];
    if (c == U'*') {
      if (elements_.empty() || elements_.back().kind != Element::Kind::star)
        elements_.emplace_back(Element::Kind::star);
    } else if (c == U'?') {
      elements_.emplace_back(Element::Kind::any);
    } else if (c == U'[') {
      std::size_t j = i;
      if (j < n && p[j] == U'!') ++j;
      if (j < n && p[j] == U']') ++j;
      while (j < n && p[j] != U']') ++j;
      if (j >= n) {  // unclosed: a literal bracket
        elements_.emplace_back(Element::Kind::literal, U'[');
        continue;
      }
      Element set(Element::Kind::set);
      std::size_t k = i;
      if (p[k] == U'!') {
        set.negated = true;
        ++k;
      }
      while (k < j) {
        const char32_t lo = p[k];
        if (k + 2 < j && p[k + 1] == U'-') {
          set.ranges.emplace_back(lo, p[k + 2]);  // lo > hi never matches
          k += 3;
        } else {
          set.ranges.emplace_back(lo, lo);
          ++k;
        }
      }
      elements_.push_back(std::move(set));
      i = j + 1;
    } else {
      elements_.emplace_back(Element::Kind::literal, c);
    }
  }
  for (const Element& e : elements_) {
    if (e.kind == Element::Kind::star)
      has_star_ = true;
    else
      ++fixed_points_;
  }
}

bool WildcardPattern::element_matches(const Element& e, char32_t c) const {
  switch (e.kind) {
    case Element::Kind::literal: return e.ch == c;
    case Element::Kind::any: return true;
    case Element::Kind::set: {
      bool in = false;
      for (const auto& [lo, hi] : e.ranges) {
        if (lo <= c && c <= hi) {
          in = true;
          break;
        }
      }
      return in != e.negated;
    }
    case Element::Kind::star: break;
  }
  return false;
}

// Greedy matching that backtracks only to the last star: O(text x pattern) at
// worst, never exponential. `t` is indexed by code point.
namespace {

char32_t point(char c) { return static_cast<unsigned char>(c); }
char32_t point(char32_t c) { return c; }

}  // namespace

template <typename Points>
bool WildcardPattern::matches_points(const Points& t) const {
  std::size_t ti = 0, pi = 0;
  std::size_t star_p = std::string::npos, star_t = 0;
  while (ti < t.size()) {
    if (pi < elements_.size() && elements_[pi].kind == Element::Kind::star) {
      star_p = pi++;
      star_t = ti;
    } else if (pi < elements_.size() && element_matches(elements_[pi], point(t[ti]))) {
      ++pi;
      ++ti;
    } else if (star_p != std::string::npos) {
      pi = star_p + 1;
      ti = ++star_t;
    } else {
      return false;
    }
  }
  while (pi < elements_.size() && elements_[pi].kind == Element::Kind::star) ++pi;
  return pi == elements_.size();
}

bool WildcardPattern::matches(std::string_view text) const {
  // Most patterns begin or end with a literal: an ASCII byte at that end of
  // the text is its code point there, and nearly always a different one.
  if (!text.empty() && !elements_.empty()) {
    const auto head = static_cast<unsigned char>(text.front()), tail = static_cast<unsigned char>(text.back());
    const Element &first = elements_.front(), &last = elements_.back();
    if (first.kind == Element::Kind::literal && head < 0x80 && first.ch != head) return false;
    if (last.kind == Element::Kind::literal && tail < 0x80 && last.ch != tail) return false;
  }
  // Paths are nearly always ASCII, where bytes are code points: no decoding,
  // and a length that cannot match is seen at once.
  if (util::is_ascii(text)) {
    if (has_star_ ? text.size() < fixed_points_ : text.size() != fixed_points_) return false;
    return matches_points(text);
  }
  return matches_points(util::to_code_points(text));
}

}  // namespace quarrix::resolver
