#include "common/fs_string.hpp"

#include "ip_scanner/bindings.hpp"
#include "quarrix/describe/hygiene.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace quarrix::py {

void bind_describe_hygiene(nb::module_& m) {
  m.attr("DESCRIPTION_MAX_CHARS") = describe::kDescriptionMaxChars;
  m.attr("LLM_DESCRIPTION_MAX_CHARS") = describe::kLlmDescriptionMaxChars;
  m.attr("_DANGLING_TAIL_RE") = describe::kDanglingTailPattern;
  m.attr("_MARKDOWN_ESCAPE_STRIP_RE") = describe::kMarkdownEscapeStripPattern;
  m.def("_strip_dangling_tail", &describe::strip_dangling_tail, "text"_a,
        "Remove a dangling ':'/';'/',' tail and its lead-in phrase.");
  m.def("_strip_markdown_escapes", &describe::strip_markdown_escapes, "text"_a, "Undo markdown backslash escapes.");
  m.def("_apply_length_cap", &describe::apply_length_cap, "text"_a, "max_chars"_a = describe::kDescriptionMaxChars,
        "Cap text at max_chars, preferring a sentence boundary.");
}

}  // namespace quarrix::py
