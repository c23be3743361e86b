#include <quarrix/hdl/verilog_directives.hpp>

#include <algorithm>
#include <array>
#include <set>
#include <string>

#include "quarrix/util/text.hpp"

namespace quarrix::hdl {

namespace {

constexpr std::array<std::string_view, 18> kDirectives{
    "define", "undef",     "undefineall",     "ifdef",       "ifndef",   "elsif",      "else",
    "endif",  "timescale", "default_nettype", "include",     "resetall", "celldefine", "endcelldefine",
    "pragma", "line",      "begin_keywords",  "end_keywords"};

bool is_word_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$';
}

// The text with every comment replaced by one space; newlines stay.
std::string without_comments(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, 2, "//") == 0) {
      i = text.find('\n', i);
      if (i == std::string_view::npos) break;
    } else if (text.compare(i, 2, "/*") == 0) {
      const std::size_t end = text.find("*/", i + 2);
      for (std::size_t j = i; j < (end == std::string_view::npos ? text.size() : end); ++j)
        if (text[j] == '\n') out.push_back('\n');
      out.push_back(' ');
      i = end == std::string_view::npos ? text.size() : end + 2;
    } else {
      out.push_back(text[i++]);
    }
  }
  return out;
}

// The directive name of a line starting with a backtick, or "".
std::string_view directive_of(std::string_view line) {
  if (line.empty() || line.front() != '`') return {};
  std::size_t end = 1;
  while (end < line.size() && is_word_char(line[end])) ++end;
  return line.substr(1, end - 1);
}

// The run of word characters that starts at `pos` (empty when none does).
std::string_view word_at(std::string_view text, std::size_t pos) {
  std::size_t end = pos;
  while (end < text.size() && is_word_char(text[end])) ++end;
  return text.substr(pos, end - pos);
}

// The position after the comment or string literal that starts at `i`, or
// `i` when none does. A string ends at its unescaped quote or, unterminated,
// at the line's end.
std::size_t after_comment_or_string(std::string_view text, std::size_t i) {
  if (text[i] == '/' && i + 1 < text.size() && (text[i + 1] == '/' || text[i + 1] == '*')) {
    const bool line = text[i + 1] == '/';
    const std::size_t end = text.find(line ? "\n" : "*/", i + 2);
    return end == std::string_view::npos ? text.size() : end + (line ? 1 : 2);
  }
  if (text[i] != '"') return i;
  for (++i; i < text.size() && text[i] != '"' && text[i] != '\n'; ++i)
    if (text[i] == '\\') ++i;
  return i + 1;
}

}  // namespace

bool is_directive_only_text(std::string_view text) {
  const std::string code = without_comments(text);
  const std::string_view all(code);
  bool continues_define = false;
  for (std::size_t start = 0; start <= all.size();) {
    std::size_t end = all.find('\n', start);
    if (end == std::string_view::npos) end = all.size();
    // str.strip(): Unicode white space too (U+0085, U+2003, U+001F), as a header
    // that Python tooling calls define-only is one here.
    const std::string_view line = util::strip(all.substr(start, end - start));
    start = end + 1;
    if (line.empty()) {
      continues_define = false;
      continue;
    }
    const bool ends_with_backslash = line.back() == '\\';
    if (continues_define) {
      continues_define = ends_with_backslash;
      continue;
    }
    const std::string_view directive = directive_of(line);
    bool known = false;
    for (const std::string_view d : kDirectives) known = known || d == directive;
    if (!known) return false;
    continues_define = directive == "define" && ends_with_backslash;
  }
  return true;
}

VerilogMacros verilog_macros(std::string_view text) {
  std::set<std::string_view> defined, used;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (const std::size_t after = after_comment_or_string(text, i); after != i) {
      i = after;
    } else if (c == '`') {
      const std::string_view name = word_at(text, i + 1);
      i += 1 + name.size();
      if (name == "define") {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        const std::string_view macro = word_at(text, i);
        i += macro.size();
        if (!macro.empty()) defined.insert(macro);
      } else if (!name.empty() && std::find(kDirectives.begin(), kDirectives.end(), name) == kDirectives.end()) {
        used.insert(name);
      }
    } else {
      ++i;
    }
  }
  return {{defined.begin(), defined.end()}, {used.begin(), used.end()}};
}

namespace {

// One open `ifdef/`ifndef of the text: the macro its current branch needs
// defined, if any.
struct Conditional {
  std::string_view needs;   // "" when the branch needs none defined
  std::string_view tested;  // the `ifdef/`ifndef name
  bool negated = false;     // an `ifndef
  bool chained = false;     // an `elsif has been seen
};

}  // namespace

std::map<std::string, std::vector<std::string>> guarded_modules(std::string_view text) {
  std::map<std::string, std::vector<std::string>> out;
  std::set<std::string_view> declared;
  std::vector<Conditional> open;
  // The word after the blanks at `pos`; `pos` moves past it.
  const auto name_after = [&](std::size_t& pos) {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\n' || text[pos] == '\r'))
      ++pos;
    const std::string_view name = word_at(text, pos);
    pos += name.size();
    return name;
  };
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (const std::size_t after = after_comment_or_string(text, i); after != i) {
      i = after;
    } else if (c == '`') {
      const std::string_view directive = word_at(text, i + 1);
      i += 1 + directive.size();
      if (directive == "ifdef" || directive == "ifndef") {
        const bool negated = directive == "ifndef";
        const std::string_view name = name_after(i);
        open.push_back({negated ? std::string_view() : name, name, negated, false});
      } else if (directive == "elsif" && !open.empty()) {
        open.back().needs = name_after(i);
        open.back().chained = true;
      } else if (directive == "else" && !open.empty()) {
        Conditional& cond = open.back();
        cond.needs = cond.negated && !cond.chained ? cond.tested : std::string_view();
      } else if (directive == "endif" && !open.empty()) {
        open.pop_back();
      }
    } else if (is_word_char(c)) {
      const std::string_view word = word_at(text, i);
      i += word.size();
      if (word != "module" && word != "macromodule") continue;
      std::string_view name = name_after(i);
      if (name == "automatic" || name == "static") name = name_after(i);
      // Past a few levels the guards are no design's but a hostile text's:
      // listing them for every module would be quadratic.
      constexpr std::size_t kMaxDepth = 64;
      if (name.empty() || !declared.insert(name).second || open.size() > kMaxDepth) continue;
      std::vector<std::string> needs;
      for (const Conditional& cond : open)
        if (!cond.needs.empty() && std::find(needs.begin(), needs.end(), cond.needs) == needs.end())
          needs.emplace_back(cond.needs);
      if (!needs.empty()) out.emplace(name, std::move(needs));
    } else {
      ++i;
    }
  }
  return out;
}

}  // namespace quarrix::hdl
