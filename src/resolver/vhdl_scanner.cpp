// VHDL design units and their references, from a hand-written lexer
// (comments, strings, character literals and extended identifiers aware) and
// one pass over the tokens. VHDL names are case-insensitive: references are
// lower-cased, declared names keep their letter case.

#include <quarrix/resolver/design_units.hpp>
#include <quarrix/util/text.hpp>

#include "token_window.hpp"

#include <cstddef>

namespace quarrix::resolver {
namespace {

enum class Tok { other, ident, punct };

struct Token {
  Tok kind = Tok::other;
  std::string_view text;
};

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_ident_char(char c) { return is_letter(c) || is_digit(c) || c == '_'; }
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

using util::ascii_iequals;
using util::ascii_lower;

// Where text quoted by `quote` and opened before `i` closes: the position of
// the closing quote (a doubled quote is one inside), or of the line's end.
std::size_t quoted_end(std::string_view s, std::size_t i, char quote) {
  const std::size_t n = s.size();
  while (i < n && s[i] != '\n') {
    if (s[i] == quote) {
      if (i + 1 < n && s[i + 1] == quote) {
        i += 2;
        continue;
      }
      break;
    }
    ++i;
  }
  return i;
}

class Lexer {
 public:
  explicit Lexer(std::string_view text) : s_(text) {}

  // The next token; false at the end of the text.
  bool next(Token& out) {
    const std::string_view s = s_;
    const std::size_t n = s.size();
    std::size_t& i = i_;
    bool produced = false;
    const auto emit = [&](Tok kind, std::string_view text) {
      out = last_ = {kind, text};
      produced = true;
    };
    while (!produced && i < n) {
      const char c = s[i];
      if (is_space(c)) {
        ++i;
      } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
        const std::size_t end = s.find('\n', i);
        i = end == std::string_view::npos ? n : end + 1;
      } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
        const std::size_t end = s.find("*/", i + 2);
        i = end == std::string_view::npos ? n : end + 2;
      } else if (c == '"') {  // "" inside a string is a quote; strings end at the line
        i = quoted_end(s, i + 1, '"');
        if (i < n && s[i] == '"') ++i;
        emit(Tok::other, "\"");
      } else if (c == '\\') {  // extended identifier, "\\" inside is a backslash
        const std::size_t start = i + 1;
        i = quoted_end(s, start, '\\');
        emit(Tok::ident, s.substr(start, i - start));
        if (i < n && s[i] == '\\') ++i;
      } else if (c == '\'') {
        // A character literal, unless the tick follows a name (attribute or
        // qualified expression).
        const bool after_name = last_.kind == Tok::ident || last_.text == ")" || last_.text == "]";
        if (!after_name && i + 2 < n && s[i + 2] == '\'') {
          emit(Tok::other, "'");
          i += 3;
        } else {
          emit(Tok::punct, s.substr(i, 1));
          ++i;
        }
      } else if (is_letter(c)) {
        const std::size_t start = i;
        while (i < n && is_ident_char(s[i])) ++i;
        emit(Tok::ident, s.substr(start, i - start));
      } else if (is_digit(c)) {
        while (i < n && (is_ident_char(s[i]) || s[i] == '#' || s[i] == '.')) ++i;
        emit(Tok::other, "0");
      } else {
        emit(Tok::punct, s.substr(i, 1));
        ++i;
      }
    }
    return produced;
  }

 private:
  std::string_view s_;
  std::size_t i_ = 0;
  Token last_;  // the token before, which decides what a tick starts
};

using Tokens = TokenWindow<Lexer, Token>;

class Pass {
 public:
  explicit Pass(std::string_view text) : t_(Lexer(text)) {}

  SourceUnits run() {
    for (std::size_t i = 0; t_.has(i); ++i) {
      if (is_punct(i, ":")) {
        instantiation(i);
      } else if (t_[i].kind == Tok::ident) {
        i = word(i);
      }
    }
    flush();
    return std::move(out_);
  }

 private:
  bool is_ident(std::size_t i) const { return t_.has(i) && t_[i].kind == Tok::ident; }
  bool is_word(std::size_t i, std::string_view lower) const { return is_ident(i) && ascii_iequals(t_[i].text, lower); }
  bool is_punct(std::size_t i, std::string_view p) const {
    return t_.has(i) && t_[i].kind == Tok::punct && t_[i].text == p;
  }
  // "lib.name" at i.
  bool is_selected(std::size_t i) const { return is_ident(i) && is_punct(i + 1, ".") && is_ident(i + 2); }

  DesignBlock& target() { return current_ < 0 ? out_.file_scope : out_.blocks[static_cast<std::size_t>(current_)]; }

  // Context clauses before a unit belong to that unit; elsewhere to the
  // enclosing one.
  void flush() {
    DesignBlock& b = target();
    for (auto& r : pending_refs_) b.refs.push_back(std::move(r));
    for (auto& u : pending_uses_) b.uses.push_back(std::move(u));
    pending_refs_.clear();
    pending_uses_.clear();
  }

  void open_block(std::size_t name_at, std::string_view kind, bool primary) {
    out_.blocks.push_back({std::string(t_[name_at].text), kind, primary, {}, {}});
    current_ = static_cast<long>(out_.blocks.size() - 1);
    flush();
  }

  // End of a context item at the ";" at k: keep collecting while more context
  // items or a unit follow.
  std::size_t end_context_item(std::size_t k) {
    const std::size_t next = k + 1;
    const bool more = is_word(next, "library") || is_word(next, "use") || is_word(next, "context") ||
                      is_word(next, "entity") || is_word(next, "architecture") || is_word(next, "package") ||
                      is_word(next, "configuration");
    if (!more) flush();
    return k;
  }

  // Whether i is past the statement: at its ";" or past the last token.
  bool statement_ended(std::size_t i) const { return !t_.has(i) || is_punct(i, ";"); }

  std::size_t find_semicolon(std::size_t i) const {
    while (!statement_ended(i)) ++i;
    return i;
  }

  std::size_t word(std::size_t i) {
    const bool after_end = i > 0 && is_word(i - 1, "end");
    if (after_end) return i;
    if (is_word(i, "entity")) {
      if (is_ident(i + 1) && is_word(i + 2, "is")) {
        open_block(i + 1, "entity", true);
        return i + 2;
      }
      if (is_selected(i + 1)) {  // entity lib.name: direct instantiation or binding
        target().refs.push_back(ascii_lower(t_[i + 3].text));
        return i + 3;
      }
    } else if (is_word(i, "architecture")) {
      if (is_ident(i + 1) && is_word(i + 2, "of") && is_ident(i + 3)) {
        open_block(i + 3, "architecture", false);
        return i + 3;
      }
    } else if (is_word(i, "package")) {
      if (is_word(i + 1, "body") && is_ident(i + 2)) {
        open_block(i + 2, "package body", false);
        return i + 2;
      }
      if (is_ident(i + 1) && is_word(i + 2, "is")) {
        open_block(i + 1, "package", true);
        if (is_word(i + 3, "new") && is_selected(i + 4)) {  // instance of a generic package
          target().refs.push_back(ascii_lower(t_[i + 6].text));
          return i + 6;
        }
        return i + 2;
      }
    } else if (is_word(i, "configuration")) {
      if (is_ident(i + 1) && is_word(i + 2, "of") && is_ident(i + 3)) {
        open_block(i + 1, "configuration", true);
        target().refs.push_back(ascii_lower(t_[i + 3].text));
        return i + 3;
      }
      if (is_selected(i + 1)) {
        target().refs.push_back(ascii_lower(t_[i + 3].text));
        return i + 3;
      }
    } else if (is_word(i, "context")) {
      return context(i);
    } else if (is_word(i, "library")) {
      return end_context_item(find_semicolon(i));
    } else if (is_word(i, "use")) {
      if (is_word(i + 1, "entity") || is_word(i + 1, "configuration") || is_word(i + 1, "open")) return i;
      return use_clause(i);
    }
    return i;
  }

  // A context declaration, or a context reference: "context lib.a, lib.b;".
  std::size_t context(std::size_t i) {
    if (is_ident(i + 1) && is_word(i + 2, "is")) {
      open_block(i + 1, "context", true);
      return i + 2;
    }
    std::size_t k = i + 1;
    for (; !statement_ended(k); ++k) {
      if (is_selected(k)) {
        pending_refs_.push_back(ascii_lower(t_[k + 2].text));
        k += 2;
      }
    }
    return end_context_item(k);
  }

  // "use a.b.c, d.e;": each selected name names (library, package).
  std::size_t use_clause(std::size_t i) {
    std::size_t k = i + 1;
    while (!statement_ended(k)) {
      if (is_selected(k)) {
        std::string package = ascii_lower(t_[k + 2].text);
        if (package != "all") pending_uses_.push_back({ascii_lower(t_[k].text), std::move(package)});
        k += 3;
        while (!statement_ended(k) && !is_punct(k, ",")) ++k;  // the rest of this name (".all", ".item")
        if (statement_ended(k)) break;
      }
      ++k;
    }
    return end_context_item(k);
  }

  // "label : [component] name (generic|port) map": a component instantiation.
  void instantiation(std::size_t i) {
    if (i == 0 || !is_ident(i - 1)) return;
    std::size_t j = i + 1;
    if (is_word(j, "component")) ++j;
    if (is_ident(j) && (is_word(j + 1, "port") || is_word(j + 1, "generic")) && is_word(j + 2, "map")) {
      target().refs.push_back(ascii_lower(t_[j].text));
    }
  }

  mutable Tokens t_;  // lexed as the pass asks
  SourceUnits out_;
  long current_ = -1;  // index of the open block, -1 outside every unit
  std::vector<std::string> pending_refs_;
  std::vector<UseClause> pending_uses_;
};

}  // namespace

SourceUnits scan_vhdl(std::string_view text) { return Pass(text).run(); }

}  // namespace quarrix::resolver
