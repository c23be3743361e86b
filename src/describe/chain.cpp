#include <quarrix/describe/chain.hpp>

#include <quarrix/describe/suspect.hpp>

namespace quarrix::describe {

bool accept_desc(const std::optional<std::string>& desc, std::string_view name, std::string_view ns) {
  if (!desc || desc->empty()) return false;
  return !desc_is_suspect(*desc, std::string(name), std::string(ns));
}

}  // namespace quarrix::describe
