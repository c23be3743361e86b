#pragma once
// The description validator as the description pipeline reaches it. The
// validator is replaceable for the whole process, so that a host (through the
// Python binding) or a test can substitute its own.

#include <optional>
#include <string>
#include <string_view>

namespace quarrix::describe {

using SuspectFn = bool (*)(std::string_view text, const std::optional<std::string>& name,
                           const std::optional<std::string>& ns);

// Asks the installed validator whether `text` is a defective description.
// Whatever the validator throws reaches the caller.
bool desc_is_suspect(std::string_view text, const std::optional<std::string>& name,
                     const std::optional<std::string>& ns);

// Installs `fn` as the validator; nullptr restores validator::is_suspect.
// Returns the previously installed one.
SuspectFn set_desc_is_suspect(SuspectFn fn);

}  // namespace quarrix::describe
