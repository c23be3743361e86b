#pragma once
// Linear-time building blocks for the HDL declaration scanners.
//
// Several declaration patterns end in a lazy or greedy scan for a closing shape
// (")\s*;", "]", "*/"). Run as a plain regex search they rescan the rest of the
// file from every candidate start, which is quadratic on hostile text (a
// million "port(" and no closing ");"). The scanners find the same match the
// search would, but look up each closing shape through a Finder that remembers
// its last answer, so every byte is examined a bounded number of times.
//
// Every regex call here sees only a window of the text: the engine validates
// the UTF-8 of the whole subject after the start offset on each call, so a call
// per candidate over the full text would itself be quadratic.
//
// Positions are byte offsets into valid UTF-8; the bytes searched for directly
// are ASCII, which never occur inside a multi-byte sequence.

#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

#include "quarrix/util/regex.hpp"

namespace quarrix::hdl::detail {

inline constexpr std::size_t npos = std::string_view::npos;

// The text up to `end`, extended to the end of the character `end` falls in.
std::string_view window(std::string_view text, std::size_t end);

// End of the run of whitespace (\s) starting at `pos`.
std::size_t skip_space(std::string_view text, std::size_t pos);
// End of the run of word characters (\w) starting at `pos`; `pos` when there is none.
std::size_t word_end(std::string_view text, std::size_t pos);
// True when a word character (\w) starts at `pos`.
bool is_word_at(std::string_view text, std::size_t pos);
// True when the byte at `pos` exists and equals `c`.
inline bool byte_at(std::string_view text, std::size_t pos, char c) { return pos < text.size() && text[pos] == c; }

// re.match at `pos` for a pattern that never looks more than 64 bytes ahead.
std::optional<util::Match> match_short(const util::Regex& re, std::string_view text, std::size_t pos);
// re.search from `pos` for a pattern whose matches are at most 64 bytes long
// and that never looks beyond them.
std::optional<util::Match> search_short(const util::Regex& re, std::string_view text, std::size_t pos);

// The first position >= `from` that holds byte `c` and satisfies `accept`.
// The last answer is cached as an interval without hits, so queries that move
// forward cost O(n) in total.
class Finder {
 public:
  Finder(std::string_view text, char c, std::function<bool(std::size_t)> accept = {});
  std::size_t find(std::size_t from);

 private:
  std::string_view text_;
  char c_;
  std::function<bool(std::size_t)> accept_;
  bool cached_ = false;
  std::size_t lo_ = 0;      // no hit in [lo_, hit_)
  std::size_t hit_ = npos;  // the hit, or npos for none up to the end
};

// re.finditer of `re` over `text` for a pattern that begins with (\w+), is
// followed by something that cannot start with a word character, and whose
// whole match lies within "word, space, one character, space, word, space,
// word" from its start. Such a match cannot start inside a word run when it
// failed at the run's first character, so only run starts are tried: linear
// where a plain search is quadratic in the run length.
void for_each_word_led_match(const util::Regex& re, std::string_view text,
                             const std::function<void(const util::Match&)>& visit);

// str.splitlines() of `text`, produced one line at a time; return false from
// `visit` to stop. Memory stays bounded by one '\n'-terminated piece.
void for_each_line(std::string_view text, const std::function<bool(std::string_view)>& visit);

}  // namespace quarrix::hdl::detail
