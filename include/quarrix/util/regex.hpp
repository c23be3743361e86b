#pragma once
// Regular expressions with the semantics of Python's `re` on str, over PCRE2.
//
// Patterns are compiled once (UTF + UCP) and JIT-compiled, where available, once
// they have done enough matching to repay it. Before compiling,
// "\s"/"\S" are rewritten to Python's whitespace set (PCRE2's misses \x1c-\x1f)
// and "\Z" to PCRE2's "\z". Positions in Match are byte offsets into the subject.
//
// Accepted difference: under IGNORECASE Python also lets "İ" (U+0130) and "ı"
// (U+0131) match "i"; PCRE2 does not.
//
// Resource limits: a match that exceeds the engine's match, depth or heap limit
// (or the JIT stack, once JIT-compiled) counts as "no match" from that point on: search() returns
// nothing, iteration stops, and sub() leaves the rest of the subject unchanged.
// Callers therefore fall through to their next source instead of hanging.
// A subject that is not valid UTF-8 never matches.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <quarrix/util/errors.hpp>

namespace quarrix::util {

enum RegexFlag : unsigned {
  kNoFlags = 0,
  kIgnoreCase = 1u << 0,
  kMultiline = 1u << 1,
  kDotAll = 1u << 2,
  // Never JIT-compiles, however much the pattern is used.
  kNoJit = 1u << 3,
};

class Match {
 public:
  // Group text; an unmatched group gives an empty view (check matched()).
  std::string_view group(std::size_t index = 0) const;
  bool matched(std::size_t index) const;
  std::size_t start(std::size_t index = 0) const;  // byte offsets
  std::size_t end(std::size_t index = 0) const;
  std::size_t group_count() const;  // capturing groups, not counting group 0

 private:
  friend class Regex;
  // Most patterns have few groups: their offsets need no allocation.
  static constexpr std::size_t kInlineGroups = 4;
  Match(std::string_view subject, std::size_t groups);  // every group unset
  std::ptrdiff_t* offsets() { return spilled_.empty() ? inline_.data() : spilled_.data(); }
  const std::ptrdiff_t* offsets() const { return spilled_.empty() ? inline_.data() : spilled_.data(); }

  std::string_view subject_;
  std::size_t groups_;  // group 0 included
  // Pairs of (start, end), -1 when unset: inline_ unless there are more groups.
  std::array<std::ptrdiff_t, 2 * kInlineGroups> inline_;
  std::vector<std::ptrdiff_t> spilled_;
};

class Regex {
 public:
  explicit Regex(std::string_view pattern, unsigned flags = kNoFlags);
  ~Regex();
  Regex(Regex&&) noexcept;
  Regex& operator=(Regex&&) noexcept;
  Regex(const Regex&) = delete;
  Regex& operator=(const Regex&) = delete;

  // re.search from byte offset `pos`.
  std::optional<Match> search(std::string_view subject, std::size_t pos = 0) const;
  // re.match: anchored at `pos`.
  std::optional<Match> match(std::string_view subject, std::size_t pos = 0) const;
  // re.fullmatch.
  std::optional<Match> fullmatch(std::string_view subject) const;
  // re.finditer: non-overlapping matches, empty matches handled as Python 3.7+.
  std::vector<Match> finditer(std::string_view subject) const;
  // Calls `visit` for each match of finditer; stop early by returning false.
  void for_each(std::string_view subject, const std::function<bool(const Match&)>& visit) const;
  // re.findall: group 0 without groups, group 1 with one group; with more
  // groups use finditer().
  std::vector<std::string> findall(std::string_view subject) const;
  // re.sub with a Python replacement template ("\1", "\g<1>", "\g<name>", "\n"...).
  std::string sub(std::string_view repl, std::string_view subject, std::size_t count = 0) const;
  // re.sub with a function.
  std::string sub(const std::function<std::string(const Match&)>& repl, std::string_view subject,
                  std::size_t count = 0) const;

  const std::string& pattern() const { return pattern_; }
  unsigned flags() const { return flags_; }
  std::size_t group_count() const;

 private:
  struct Code;
  std::string pattern_;
  unsigned flags_;
  std::unique_ptr<Code> code_;
  std::uint32_t max_lookbehind_ = 0;
  bool readable_from(std::string_view subject, std::size_t pos) const;
  std::optional<Match> run(std::string_view subject, std::size_t pos, unsigned options, bool checked = false) const;
};

// re.escape: backslash before every character that is special in a pattern.
std::string regex_escape(std::string_view text);

// Thrown when a pattern does not compile (a programming error, never input data).
using RegexError = ErrorOf<ErrorKind::kRegex>;

}  // namespace quarrix::util
