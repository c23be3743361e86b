#define PCRE2_CODE_UNIT_WIDTH 8
#include "quarrix/util/regex.hpp"

#include <pcre2.h>

#include <atomic>

#include "quarrix/util/text.hpp"

namespace quarrix::util {

namespace {

// Python's str.isspace() set, as class members.
constexpr std::string_view kPySpaceClass =
    "\\t\\n\\x0b\\f\\r\\x1c-\\x1f \\x85\\xa0\\x{1680}\\x{2000}-\\x{200a}\\x{2028}\\x{2029}"
    "\\x{202f}\\x{205f}\\x{3000}";

// Rewrites the Python-only meanings of a pattern into PCRE2 syntax.
std::string translate_pattern(std::string_view p) {
  std::string out;
  out.reserve(p.size() + 16);
  bool in_class = false;
  std::size_t class_start = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    const char c = p[i];
    if (c == '\\' && i + 1 < p.size()) {
      const char e = p[++i];
      if (e == 's') {
        if (in_class) {
          out.append(kPySpaceClass);
        } else {
          out.push_back('[');
          out.append(kPySpaceClass);
          out.push_back(']');
        }
      } else if (e == 'S' && !in_class) {
        out.append("[^");
        out.append(kPySpaceClass);
        out.push_back(']');
      } else if (e == 'Z' && !in_class) {
        out.append("\\z");
      } else {
        out.push_back('\\');
        out.push_back(e);
      }
      continue;
    }
    if (!in_class && c == '[') {
      in_class = true;
      class_start = out.size();
      out.push_back(c);
      if (i + 1 < p.size() && p[i + 1] == '^') out.push_back(p[++i]);
      if (i + 1 < p.size() && p[i + 1] == ']') out.append("\\]"), ++i;  // leading "]" is literal
      continue;
    }
    if (in_class && c == '[') {
      out.append("\\[");  // Python has no POSIX classes: "[" inside a class is literal
      continue;
    }
    if (in_class && c == ']' && out.size() > class_start) in_class = false;
    out.push_back(c);
  }
  return out;
}

// Per-thread matching resources: a match context with limits, a JIT stack, and
// match data reused by every search (allocating it per search cost more than
// many of the searches).
struct MatchResources {
  pcre2_match_context* context = nullptr;
  pcre2_jit_stack* jit_stack = nullptr;
  pcre2_match_data* data = nullptr;
  std::uint32_t data_pairs = 0;
  MatchResources() {
    context = pcre2_match_context_create(nullptr);
    pcre2_set_match_limit(context, 20'000'000);
    pcre2_set_depth_limit(context, 200'000);
    pcre2_set_heap_limit(context, 256 * 1024);  // KiB
    jit_stack = pcre2_jit_stack_create(64 * 1024, 8 * 1024 * 1024, nullptr);
    if (jit_stack) pcre2_jit_stack_assign(context, nullptr, jit_stack);
  }
  ~MatchResources() {
    pcre2_match_data_free(data);
    pcre2_jit_stack_free(jit_stack);
    pcre2_match_context_free(context);
  }
};

MatchResources& resources() {
  thread_local MatchResources r;
  return r;
}

// Match data with room for at least `pairs` offset pairs; nullptr when out of memory.
pcre2_match_data* match_data(std::uint32_t pairs) {
  MatchResources& r = resources();
  if (r.data_pairs < pairs) {
    pcre2_match_data_free(r.data);
    r.data = pcre2_match_data_create(pairs, nullptr);
    r.data_pairs = r.data ? pairs : 0;
  }
  return r.data;
}

// A pattern is JIT-compiled once it has earned it: the compile costs about as
// much as interpreting a few hundred short searches, and most patterns of a
// scan see far fewer. Each search counts a fixed cost plus the bytes it may read.
constexpr std::size_t kSearchCost = 1024;
constexpr std::size_t kJitAfterWork = 32 * 1024;

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

// PCRE2 would re-check the UTF-8 of the whole subject on every call, which
// makes repeated searches of one text quadratic. Instead we check only what a
// match from `pos` can read: from `lookbehind` characters before `pos` to the
// end, and that `pos` starts a character; then PCRE2 is told not to check.
// Callers that search growing windows of a text from a moving position
// therefore pay for each byte a bounded number of times. An invalid subject
// never matches.
bool Regex::readable_from(std::string_view subject, std::size_t pos) const {
  if (pos > subject.size() || (pos < subject.size() && is_continuation(subject[pos]))) return false;
  // \b and a multi-line ^ look one character back even without a lookbehind.
  const std::size_t back = 4 * std::max<std::size_t>(max_lookbehind_, 1);
  std::size_t start = pos - std::min(pos, back);
  while (start > 0 && is_continuation(subject[start])) --start;
  return is_valid_utf8(subject.substr(start));
}

// The interpreted pattern, and its JIT-compiled copy once enough work has been
// done with it. The copy is built aside and published whole, so threads that
// share a pattern never see one half-compiled.
struct Regex::Code {
  pcre2_code* code = nullptr;
  std::uint32_t captures = 0;
  std::atomic<pcre2_code*> jitted{nullptr};
  std::atomic<std::size_t> work{0};
  std::atomic<bool> jit_claimed{false};
  ~Code() {
    pcre2_code_free(jitted.load());
    pcre2_code_free(code);
  }

  const pcre2_code* for_search(std::size_t bytes) {
    if (const pcre2_code* fast = jitted.load(std::memory_order_acquire)) return fast;
    if (work.fetch_add(kSearchCost + bytes, std::memory_order_relaxed) + kSearchCost + bytes >= kJitAfterWork &&
        !jit_claimed.exchange(true))
      jit_compile();
    return code;
  }

 private:
  // Without JIT support the copy is dropped and matching stays interpreted.
  void jit_compile() {
    pcre2_code* copy = pcre2_code_copy(code);
    if (copy && pcre2_jit_compile(copy, PCRE2_JIT_COMPLETE) == 0) {
      jitted.store(copy, std::memory_order_release);
      return;
    }
    pcre2_code_free(copy);
  }
};

Match::Match(std::string_view subject, std::size_t groups) : subject_(subject), groups_(groups) {
  inline_.fill(-1);
  if (groups > kInlineGroups) spilled_.assign(2 * groups, -1);
}

bool Match::matched(std::size_t index) const { return index < groups_ && offsets()[2 * index] >= 0; }
std::string_view Match::group(std::size_t index) const {
  if (!matched(index)) return {};
  return subject_.substr(static_cast<std::size_t>(offsets()[2 * index]),
                         static_cast<std::size_t>(offsets()[2 * index + 1] - offsets()[2 * index]));
}
std::size_t Match::start(std::size_t index) const {
  return matched(index) ? static_cast<std::size_t>(offsets()[2 * index]) : std::string_view::npos;
}
std::size_t Match::end(std::size_t index) const {
  return matched(index) ? static_cast<std::size_t>(offsets()[2 * index + 1]) : std::string_view::npos;
}
std::size_t Match::group_count() const { return groups_ - 1; }

Regex::Regex(std::string_view pattern, unsigned flags) : pattern_(pattern), flags_(flags), code_(new Code) {
  uint32_t options = PCRE2_UTF | PCRE2_UCP;
  if (flags & kIgnoreCase) options |= PCRE2_CASELESS;
  if (flags & kMultiline) options |= PCRE2_MULTILINE;
  if (flags & kDotAll) options |= PCRE2_DOTALL;
  const std::string translated = translate_pattern(pattern);
  int error = 0;
  PCRE2_SIZE offset = 0;
  code_->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated.data()), translated.size(), options, &error,
                              &offset, nullptr);
  if (!code_->code) {
    PCRE2_UCHAR message[256];
    pcre2_get_error_message(error, message, sizeof message);
    throw RegexError("bad pattern " + std::string(pattern) + ": " + reinterpret_cast<char*>(message));
  }
  if (flags & kNoJit) code_->jit_claimed = true;
  pcre2_pattern_info(code_->code, PCRE2_INFO_CAPTURECOUNT, &code_->captures);
  uint32_t lookbehind = 0;
  pcre2_pattern_info(code_->code, PCRE2_INFO_MAXLOOKBEHIND, &lookbehind);
  max_lookbehind_ = lookbehind;
}

Regex::~Regex() = default;
Regex::Regex(Regex&&) noexcept = default;
Regex& Regex::operator=(Regex&&) noexcept = default;

std::size_t Regex::group_count() const { return code_->captures; }

std::optional<Match> Regex::run(std::string_view subject, std::size_t pos, unsigned options, bool checked) const {
  if (!checked && !readable_from(subject, pos)) return std::nullopt;
  const std::size_t groups = group_count() + 1;
  pcre2_match_data* data = match_data(static_cast<std::uint32_t>(groups));
  if (!data) return std::nullopt;
  const pcre2_code* code = code_->for_search((options & PCRE2_ANCHORED) ? 0 : subject.size() - pos);
  const int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), pos,
                             options | PCRE2_NO_UTF_CHECK, data, resources().context);
  // rc < 0: no match, or a resource limit / invalid subject, both "no match".
  // rc == 0 cannot happen: the data has room for every group.
  if (rc <= 0) return std::nullopt;
  const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data);
  Match found(subject, groups);
  std::ptrdiff_t* offsets = found.offsets();
  for (std::size_t g = 0; g < groups && g < static_cast<std::size_t>(rc); ++g) {
    if (ov[2 * g] == PCRE2_UNSET) continue;
    offsets[2 * g] = static_cast<std::ptrdiff_t>(ov[2 * g]);
    offsets[2 * g + 1] = static_cast<std::ptrdiff_t>(ov[2 * g + 1]);
  }
  return found;
}

std::optional<Match> Regex::search(std::string_view subject, std::size_t pos) const { return run(subject, pos, 0); }
std::optional<Match> Regex::match(std::string_view subject, std::size_t pos) const {
  return run(subject, pos, PCRE2_ANCHORED);
}
std::optional<Match> Regex::fullmatch(std::string_view subject) const {
  return run(subject, 0, PCRE2_ANCHORED | PCRE2_ENDANCHORED);
}

void Regex::for_each(std::string_view subject, const std::function<bool(const Match&)>& visit) const {
  std::size_t pos = 0;
  unsigned options = 0;
  bool checked = false;  // the first search checks the whole subject
  while (pos <= subject.size()) {
    const auto m = run(subject, pos, options, checked);
    checked = true;
    if (!m) return;
    if (!visit(*m)) return;
    pos = m->end();
    // After an empty match the next one may not be empty at the same place.
    options = (m->start() == m->end()) ? PCRE2_NOTEMPTY_ATSTART : 0;
  }
}

std::vector<Match> Regex::finditer(std::string_view subject) const {
  std::vector<Match> out;
  for_each(subject, [&](const Match& m) {
    out.push_back(m);
    return true;
  });
  return out;
}

std::vector<std::string> Regex::findall(std::string_view subject) const {
  std::vector<std::string> out;
  const std::size_t g = group_count() == 0 ? 0 : 1;
  for_each(subject, [&](const Match& m) {
    out.emplace_back(m.group(g));
    return true;
  });
  return out;
}

std::string Regex::sub(const std::function<std::string(const Match&)>& repl, std::string_view subject,
                       std::size_t count) const {
  std::string out;
  std::size_t last = 0, n = 0;
  for_each(subject, [&](const Match& m) {
    out.append(subject.substr(last, m.start() - last));
    out.append(repl(m));
    last = m.end();
    return count == 0 || ++n < count;
  });
  out.append(subject.substr(last));
  return out;
}

namespace {

// A parsed Python replacement template: literal pieces and group references.
struct TemplatePiece {
  std::string literal;
  long group = -1;
  std::string name;
};

std::vector<TemplatePiece> parse_template(std::string_view repl) {
  std::vector<TemplatePiece> pieces(1);
  for (std::size_t i = 0; i < repl.size(); ++i) {
    const char c = repl[i];
    if (c != '\\' || i + 1 >= repl.size()) {
      pieces.back().literal.push_back(c);
      continue;
    }
    const char e = repl[++i];
    auto add_group = [&](long g, std::string name) {
      pieces.push_back({std::string(), g, std::move(name)});
      pieces.push_back({});
    };
    if (e >= '0' && e <= '9') {
      long g = e - '0';
      if (i + 1 < repl.size() && repl[i + 1] >= '0' && repl[i + 1] <= '9') g = g * 10 + (repl[++i] - '0');
      add_group(g, {});
    } else if (e == 'g' && i + 1 < repl.size() && repl[i + 1] == '<') {
      const std::size_t close = repl.find('>', i + 2);
      if (close == std::string_view::npos) throw RegexError("bad group reference in replacement");
      const std::string ref(repl.substr(i + 2, close - i - 2));
      i = close;
      if (!ref.empty() && ref.find_first_not_of("0123456789") == std::string::npos)
        add_group(std::stol(ref), {});
      else
        add_group(-1, ref);
    } else {
      switch (e) {
        case 'n': pieces.back().literal.push_back('\n'); break;
        case 't': pieces.back().literal.push_back('\t'); break;
        case 'r': pieces.back().literal.push_back('\r'); break;
        case 'f': pieces.back().literal.push_back('\f'); break;
        case 'v': pieces.back().literal.push_back('\v'); break;
        case 'a': pieces.back().literal.push_back('\a'); break;
        case 'b': pieces.back().literal.push_back('\b'); break;
        case '\\': pieces.back().literal.push_back('\\'); break;
        default: pieces.back().literal.push_back('\\'); pieces.back().literal.push_back(e);
      }
    }
  }
  return pieces;
}

}  // namespace

std::string Regex::sub(std::string_view repl, std::string_view subject, std::size_t count) const {
  const auto pieces = parse_template(repl);
  return sub(
      [&](const Match& m) {
        std::string out;
        for (const auto& piece : pieces) {
          out.append(piece.literal);
          long g = piece.group;
          if (!piece.name.empty()) {
            g = pcre2_substring_number_from_name(code_->code, reinterpret_cast<PCRE2_SPTR>(piece.name.c_str()));
            if (g < 0) throw RegexError("unknown group name in replacement: " + piece.name);
          }
          if (g >= 0) {
            if (static_cast<std::size_t>(g) > group_count()) throw RegexError("invalid group reference in replacement");
            out.append(m.group(static_cast<std::size_t>(g)));
          }
        }
        return out;
      },
      subject, count);
}

std::string regex_escape(std::string_view text) {
  static constexpr std::string_view kSpecial = "()[]{}?*+-|^$\\.&~# \t\n\r\v\f";
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) {
    if (kSpecial.find(c) != std::string_view::npos) out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

}  // namespace quarrix::util
