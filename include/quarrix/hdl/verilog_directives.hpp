#pragma once
// Verilog texts made of compiler directives alone.

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quarrix::hdl {

// True when, outside comments ("//" to the end of the line, "/* ... */"),
// every non-blank line of `text` is a compiler directive that a tool accepts
// at the top of a compilation unit (`define, `ifdef, `timescale, `include,
// ...), or continues a `define whose previous line ends with a backslash.
// Such a file can be handed to a tool ahead of the sources; a header holding
// any other text (a function, a generate block) is only valid where it is
// included.
bool is_directive_only_text(std::string_view text);

// The text macros a Verilog text defines (`define NAME) and uses (`NAME that is
// no compiler directive), outside comments and string literals; each list
// sorted, without repeats. A use inside a macro's body counts as a use.
struct VerilogMacros {
  std::vector<std::string> defined;
  std::vector<std::string> used;
};
VerilogMacros verilog_macros(std::string_view text);

// The modules of a Verilog text that a tool sees only with some macros
// defined: for each module declared inside an `ifdef or `elsif branch (or the
// `else of an `ifndef), the names those branches test, outermost first, as its
// first declaration has them. A module declared outside such branches is not
// listed. Comments and string literals are skipped.
std::map<std::string, std::vector<std::string>> guarded_modules(std::string_view text);

}  // namespace quarrix::hdl
