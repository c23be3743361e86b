#include "common/fs_string.hpp"

#include "ip_scanner/bindings.hpp"
#include "quarrix/util/text_hygiene.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace quarrix::py {

void bind_describe_hygiene(nb::module_& m) {
  m.attr("DESCRIPTION_MAX_CHARS") = util::kDescriptionMaxChars;
  m.attr("LLM_DESCRIPTION_MAX_CHARS") = util::kLlmDescriptionMaxChars;
  m.attr("_DANGLING_TAIL_RE") = util::kDanglingTailPattern;
  m.attr("_MARKDOWN_ESCAPE_STRIP_RE") = util::kMarkdownEscapeStripPattern;
  m.def("_strip_dangling_tail", &util::strip_dangling_tail, "text"_a,
        "Remove a dangling ':'/';'/',' tail and its lead-in phrase.");
  m.def("_strip_markdown_escapes", &util::strip_markdown_escapes, "text"_a, "Undo markdown backslash escapes.");
  m.def("_apply_length_cap", &util::apply_length_cap, "text"_a, "max_chars"_a = util::kDescriptionMaxChars,
        "Cap text at max_chars, preferring a sentence boundary.");
}

}  // namespace quarrix::py
