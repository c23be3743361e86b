// Verilog / SystemVerilog design units and their references, from a
// hand-written lexer (comments, strings, numbers, escaped identifiers and
// compiler directives aware) and one pass over the tokens.

#include <quarrix/resolver/design_units.hpp>

#include "token_window.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <unordered_set>

namespace quarrix::resolver {
namespace {

enum class Tok : std::uint8_t { other, ident, escaped, punct };

// A token is its place in the source text. The text of "other" tokens is
// never looked at.
struct Token {
  std::uint32_t begin = 0;
  std::uint32_t size = 0;
  Tok kind = Tok::other;
};

bool is_ident_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool is_ident_char(char c) { return is_ident_start(c) || (c >= '0' && c <= '9') || c == '$'; }
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
bool is_base_letter(char c) {
  switch (c) {
    case 'b':
    case 'B':
    case 'o':
    case 'O':
    case 'd':
    case 'D':
    case 'h':
    case 'H': return true;
    default: return false;
  }
}

// Directives whose whole line is their argument.
bool is_line_directive(std::string_view d) {
  static const std::unordered_set<std::string_view> names = {
      "define",          "include",        "timescale",         "line",    "pragma",
      "default_nettype", "begin_keywords", "unconnected_drive", "__FILE__"};
  return names.count(d) != 0;
}

class Lexer {
 public:
  // `includes`, when given, collects the names of the `include directives met.
  explicit Lexer(std::string_view text, std::vector<std::string>* includes = nullptr) : s_(text), includes_(includes) {}

  // The next token; false at the end of the text.
  bool next(Token& out) {
    out_ = &out;
    produced_ = false;
    const std::size_t n = s_.size();
    while (!produced_ && i_ < n) {
      const char c = s_[i_];
      if (is_space(c)) {
        ++i_;
      } else if (c == '/' && i_ + 1 < n && s_[i_ + 1] == '/') {
        skip_line();
      } else if (c == '/' && i_ + 1 < n && s_[i_ + 1] == '*') {
        const std::size_t end = s_.find("*/", i_ + 2);
        i_ = end == std::string_view::npos ? n : end + 2;
      } else if (c == '"') {
        add(Tok::other, i_, 0);
        skip_string();
      } else if (c == '`') {
        directive();
      } else if (c == '\\') {
        const std::size_t start = ++i_;
        while (i_ < n && !is_space(s_[i_])) ++i_;
        if (i_ > start) add(Tok::escaped, start, i_ - start);
      } else if (is_ident_start(c)) {
        const std::size_t start = i_;
        while (i_ < n && is_ident_char(s_[i_])) ++i_;
        add(Tok::ident, start, i_ - start);
      } else if (c == '$') {
        ++i_;
        while (i_ < n && is_ident_char(s_[i_])) ++i_;
        add(Tok::other, i_, 0);
      } else if (c >= '0' && c <= '9') {
        while (i_ < n && (is_ident_char(s_[i_]) || s_[i_] == '.')) ++i_;
        based_tail();
        add(Tok::other, i_, 0);
      } else if (c == '\'' && i_ + 1 < n && (is_base_letter(s_[i_ + 1]) || s_[i_ + 1] == 's' || s_[i_ + 1] == 'S') &&
                 based_tail()) {
        add(Tok::other, i_, 0);
      } else if (c == ':' && i_ + 1 < n && s_[i_ + 1] == ':') {
        add(Tok::punct, i_, 2);
        i_ += 2;
      } else {
        add(Tok::punct, i_, 1);
        ++i_;
      }
    }
    return produced_;
  }

 private:
  void add(Tok kind, std::size_t begin, std::size_t size) {
    *out_ = {static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(size), kind};
    produced_ = true;
  }

  void skip_line() {
    const std::size_t end = s_.find('\n', i_);
    i_ = end == std::string_view::npos ? s_.size() : end + 1;
  }

  // A macro body runs to the end of the line; "\" before the newline continues it.
  void skip_define() {
    const std::size_t n = s_.size();
    while (i_ < n && s_[i_] != '\n') {
      if (s_[i_] == '\\' && i_ + 1 < n) ++i_;
      ++i_;
    }
  }

  void skip_string() {
    const std::size_t n = s_.size();
    ++i_;
    while (i_ < n && s_[i_] != '"' && s_[i_] != '\n') {
      if (s_[i_] == '\\' && i_ + 1 < n) ++i_;
      ++i_;
    }
    if (i_ < n && s_[i_] == '"') ++i_;
  }

  // The "'h1F" part of a based number, if present (spaces allowed around the base);
  // false when there is none ("'s" not followed by a base is a plain tick).
  bool based_tail() {
    const std::size_t n = s_.size();
    std::size_t j = i_;
    while (j < n && (s_[j] == ' ' || s_[j] == '\t')) ++j;
    if (j >= n || s_[j] != '\'') return false;
    ++j;
    if (j < n && (s_[j] == 's' || s_[j] == 'S')) ++j;
    if (j >= n || !is_base_letter(s_[j])) return false;
    ++j;
    while (j < n && (s_[j] == ' ' || s_[j] == '\t')) ++j;
    while (j < n && (is_ident_char(s_[j]) || s_[j] == '?')) ++j;
    i_ = j;
    return true;
  }

  void directive() {
    const std::size_t n = s_.size();
    const std::size_t start = ++i_;
    while (i_ < n && is_ident_char(s_[i_])) ++i_;
    const std::string_view name = s_.substr(start, i_ - start);
    if (name == "define") {
      skip_define();
    } else if (name == "include") {
      include_name();
      skip_line();
    } else if (is_line_directive(name)) {
      skip_line();
    } else if (name == "ifdef" || name == "ifndef" || name == "elsif" || name == "undef") {
      // The macro name that follows is not a design identifier.
      while (i_ < n && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
      while (i_ < n && is_ident_char(s_[i_])) ++i_;
    } else {
      add(Tok::other, i_, 0);
    }
  }

  // `include "name" or `include <name>, on the directive's own line.
  void include_name() {
    if (!includes_) return;
    const std::size_t n = s_.size();
    std::size_t j = i_;
    while (j < n && (s_[j] == ' ' || s_[j] == '\t')) ++j;
    if (j >= n || (s_[j] != '"' && s_[j] != '<')) return;
    const char close = s_[j] == '"' ? '"' : '>';
    const std::size_t start = j + 1;
    const std::size_t end = s_.find_first_of(close == '"' ? "\"\n" : ">\n", start);
    if (end == std::string_view::npos || s_[end] != close || end == start) return;
    const std::string_view name = s_.substr(start, end - start);
    if (included_.insert(name).second) includes_->emplace_back(name);
  }

  std::string_view s_;
  std::size_t i_ = 0;
  Token* out_ = nullptr;
  bool produced_ = false;
  std::vector<std::string>* includes_;
  std::unordered_set<std::string_view> included_;
};

using Tokens = TokenWindow<Lexer, Token>;

// The reserved words of SystemVerilog, as one list.
constexpr std::string_view kKeywords =
    "accept_on alias always always_comb always_ff always_latch and assert assign assume automatic "
    "before begin bind bins binsof bit break buf bufif0 bufif1 byte case casex casez cell chandle "
    "checker class clocking cmos config const constraint context continue cover covergroup "
    "coverpoint cross deassign default defparam design disable dist do edge else end endcase "
    "endchecker endclass endclocking endconfig endfunction endgenerate endgroup endinterface "
    "endmodule endpackage endprimitive endprogram endproperty endspecify endsequence endtable "
    "endtask enum event eventually expect export extends extern final first_match for force foreach "
    "forever fork forkjoin function generate genvar global highz0 highz1 if iff ifnone ignore_bins "
    "illegal_bins implements implies import incdir include initial inout input inside instance int "
    "integer interconnect interface intersect join join_any join_none large let liblist library "
    "local localparam logic longint macromodule matches medium modport module nand negedge nettype "
    "new nexttime nmos nor noshowcancelled not notif0 notif1 null or output package packed parameter "
    "pmos posedge primitive priority program property protected pull0 pull1 pulldown pullup "
    "pulsestyle_ondetect pulsestyle_onevent pure rand randc randcase randsequence rcmos real "
    "realtime ref reg reject_on release repeat restrict return rnmos rpmos rtran rtranif0 rtranif1 "
    "s_always s_eventually s_nexttime s_until s_until_with scalared sequence shortint shortreal "
    "showcancelled signed small soft solve specify specparam static string strong strong0 strong1 "
    "struct super supply0 supply1 sync_accept_on sync_reject_on table tagged task this throughout "
    "time timeprecision timeunit tran tranif0 tranif1 tri tri0 tri1 triand trior trireg type typedef "
    "union unique unique0 unsigned until until_with untyped use uwire var vectored virtual void wait "
    "wait_order wand weak weak0 weak1 while wildcard wire with within wor xnor xor";

bool is_keyword(std::string_view w) {
  static const std::unordered_set<std::string_view> words = [] {
    std::unordered_set<std::string_view> out;
    for (std::size_t at = 0; at < kKeywords.size();) {
      const std::size_t space = std::min(kKeywords.find(' ', at), kKeywords.size());
      out.insert(kKeywords.substr(at, space - at));
      at = space + 1;
    }
    return out;
  }();
  // Every keyword begins with a lower-case letter: most names are settled
  // without hashing them.
  if (w.empty() || w[0] < 'a' || w[0] > 'z') return false;
  return words.count(w) != 0;
}

// The declaration keyword as a static string (blocks outlive the source text).
std::string_view declaration_kind(std::string_view w) {
  static constexpr std::array<std::string_view, 7> kinds = {"module",  "macromodule", "interface", "program",
                                                            "package", "class",       "primitive"};
  for (std::string_view k : kinds) {
    if (k == w) return k;
  }
  return {};
}

// Declaration keyword -> the keyword that closes it.
std::string_view closing_keyword(std::string_view kind) {
  if (kind == "module" || kind == "macromodule") return "endmodule";
  if (kind == "interface") return "endinterface";
  if (kind == "program") return "endprogram";
  if (kind == "package") return "endpackage";
  if (kind == "class") return "endclass";
  if (kind == "primitive") return "endprimitive";
  return {};
}

bool is_closing_keyword(std::string_view w) {
  return w == "endmodule" || w == "endinterface" || w == "endprogram" || w == "endpackage" || w == "endclass" ||
         w == "endprimitive";
}

class Pass {
 public:
  explicit Pass(std::string_view text) : s_(text), t_(Lexer(text, &out_.includes)) {}

  SourceUnits run() {
    for (std::size_t i = 0; t_.has(i); ++i) {
      const Token tok = t_[i];
      if (tok.kind == Tok::punct) {
        bracket(s_[tok.begin]);
      } else if (tok.kind == Tok::ident && is_keyword(text(i))) {
        i = keyword(i);
      } else if (tok.kind == Tok::ident || tok.kind == Tok::escaped) {
        name(i);
      }
    }
    return std::move(out_);
  }

 private:
  std::string_view text(std::size_t i) const { return s_.substr(t_[i].begin, t_[i].size); }

  bool is_name(std::size_t i) const {
    return t_.has(i) && (t_[i].kind == Tok::escaped || (t_[i].kind == Tok::ident && !is_keyword(text(i))));
  }
  bool is_punct(std::size_t i, std::string_view p) const {
    return t_.has(i) && t_[i].kind == Tok::punct && text(i) == p;
  }
  bool is_word(std::size_t i, std::string_view w) const {
    return t_.has(i) && t_[i].kind == Tok::ident && text(i) == w;
  }

  DesignBlock& target() { return open_.empty() ? out_.file_scope : out_.blocks.back(); }
  void add_ref(std::size_t i) { target().refs.emplace_back(text(i)); }

  void bracket(char c) {
    if (c == '(' || c == '[' || c == '{') {
      ++depth_;
    } else if ((c == ')' || c == ']' || c == '}') && depth_ > 0) {
      --depth_;
    }
  }

  // Handles a keyword at i; returns the index of the last token consumed.
  std::size_t keyword(std::size_t i) {
    const std::string_view w = text(i);
    if (w == "table") {  // UDP tables hold level symbols, not names
      std::size_t j = i + 1;
      while (t_.has(j) && !is_word(j, "endtable")) ++j;
      return j;
    }
    if (w == "extends" || w == "implements") {
      if (is_name(i + 1)) add_ref(i + 1);
      return i;
    }
    if (is_closing_keyword(w)) {
      for (std::size_t k = open_.size(); k-- > 0;) {
        if (closing_keyword(open_[k]) == w) {
          open_.resize(k);
          break;
        }
      }
      depth_ = 0;  // a unit's end puts any unbalanced bracket behind us
      return i;
    }
    const std::string_view kind = declaration_kind(w);
    if (depth_ != 0 || kind.empty()) return i;
    // Forms that use a declaration keyword without declaring anything.
    const bool after_extern = i > 0 && is_word(i - 1, "extern");
    if (after_extern || (w == "class" && i > 0 && is_word(i - 1, "typedef")) ||
        (w == "interface" && ((i > 0 && is_word(i - 1, "virtual")) || is_word(i + 1, "class")))) {
      return i;
    }
    std::size_t j = i + 1;
    while (is_word(j, "automatic") || is_word(j, "static")) ++j;
    if (!is_name(j)) return i;
    if (open_.empty()) out_.blocks.push_back({std::string(text(j)), kind, true, {}, {}});
    open_.push_back(kind);
    return j;
  }

  // A non-keyword identifier at i: a reference when it stands where a unit
  // name is used (instantiation, typed port or variable, scope, parameters).
  void name(std::size_t i) {
    if (i > 0 && (is_punct(i - 1, ".") || is_punct(i - 1, "::") || is_punct(i - 1, "'"))) return;
    // A block label ("begin : name", "endmodule : name") names no unit.
    if (i > 1 && is_punct(i - 1, ":") && t_[i - 2].kind == Tok::ident && is_keyword(text(i - 2))) return;
    if (is_punct(i + 1, "#") || is_punct(i + 1, "::") || is_name(i + 1)) {
      add_ref(i);
    } else if (is_punct(i + 1, ".") && is_name(i + 2) && is_name(i + 3) && i > 0 &&
               (is_punct(i - 1, "(") || is_punct(i - 1, ","))) {
      add_ref(i);  // interface.modport port
    }
  }

  std::string_view s_;
  SourceUnits out_;                     // before t_: the lexer writes the includes into it
  mutable Tokens t_;                    // lexed as the pass asks
  std::vector<std::string_view> open_;  // declaration keywords of the open units
  std::size_t depth_ = 0;               // bracket nesting
};

}  // namespace

SourceUnits scan_verilog(std::string_view text) {
  // Token offsets are 32-bit; no source that large is read within a scan's memory bound.
  if (text.size() > std::numeric_limits<std::uint32_t>::max()) return {};
  return Pass(text).run();
}

std::vector<std::string> verilog_includes(std::string_view text) {
  std::vector<std::string> includes;
  if (text.size() > std::numeric_limits<std::uint32_t>::max()) return includes;
  Lexer lexer(text, &includes);
  Token token;
  while (lexer.next(token)) {
  }
  return includes;
}

}  // namespace quarrix::resolver
