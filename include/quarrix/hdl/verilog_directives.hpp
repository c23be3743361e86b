#pragma once
// Verilog texts made of compiler directives alone.

#include <string_view>

namespace quarrix::hdl {

// True when, outside comments ("//" to the end of the line, "/* ... */"),
// every non-blank line of `text` is a compiler directive that a tool accepts
// at the top of a compilation unit (`define, `ifdef, `timescale, `include,
// ...), or continues a `define whose previous line ends with a backslash.
// Such a file can be handed to a tool ahead of the sources; a header holding
// any other text (a function, a generate block) is only valid where it is
// included.
bool is_directive_only_text(std::string_view text);

}  // namespace quarrix::hdl
