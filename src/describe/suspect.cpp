#include <quarrix/describe/suspect.hpp>

#include <atomic>

#include <quarrix/validator/validator.hpp>

namespace quarrix::describe {
namespace {

bool native_is_suspect(std::string_view text, const std::optional<std::string>& name,
                       const std::optional<std::string>& ns) {
  return validator::is_suspect(text, name, ns);
}

std::atomic<SuspectFn> g_validator{&native_is_suspect};

}  // namespace

bool desc_is_suspect(std::string_view text, const std::optional<std::string>& name,
                     const std::optional<std::string>& ns) {
  return g_validator.load(std::memory_order_acquire)(text, name, ns);
}

SuspectFn set_desc_is_suspect(SuspectFn fn) {
  return g_validator.exchange(fn ? fn : &native_is_suspect, std::memory_order_acq_rel);
}

}  // namespace quarrix::describe
