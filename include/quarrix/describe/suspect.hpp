#pragma once
// The description validator as the description pipeline reaches it: a
// function passed in, so that a host (through the Python binding) or a test
// can substitute its own.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quarrix::describe {

// Whether `text` is a defective description of unit `name` in namespace `ns`.
using SuspectFn = std::function<bool(std::string_view text, const std::optional<std::string>& name,
                                     const std::optional<std::string>& ns)>;

// Our own validator, validator::is_suspect.
bool native_is_suspect(std::string_view text, const std::optional<std::string>& name,
                       const std::optional<std::string>& ns);

}  // namespace quarrix::describe
