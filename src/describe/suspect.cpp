#include <quarrix/describe/suspect.hpp>

#include <quarrix/validator/validator.hpp>

namespace quarrix::describe {

bool native_is_suspect(std::string_view text, const std::optional<std::string>& name,
                       const std::optional<std::string>& ns) {
  return validator::is_suspect(text, name, ns);
}

}  // namespace quarrix::describe
