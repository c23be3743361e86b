#pragma once
// The services of a call into the core as quarrix_core.ip_scanner provides
// them. The validator, each provider's adapter and the pause are the module
// attributes `_desc_is_suspect`, `_llm_describe_<provider>` and `_llm_sleep`,
// looked up once when a call builds its services: a host or a test that
// replaces one of them with a Python callable redirects the core. While an
// attribute still holds the native function, C++ is called directly, without
// the GIL.

#include <string>
#include <string_view>

#include <nanobind/nanobind.h>

#include <quarrix/describe/services.hpp>
#include <quarrix/pipeline/scan_context.hpp>

namespace quarrix::py {

// The module whose attributes are looked up; set once, at import.
void remember_module(nanobind::handle module);
// The native objects the attributes start as.
void remember_native_validator(nanobind::handle fn);
void remember_native_adapter(std::string_view provider, nanobind::handle fn);
void remember_native_sleep(nanobind::handle fn);

// "_llm_describe_<provider>".
std::string adapter_attribute(std::string_view provider);

// The pause through `_llm_sleep`, looked up now: the one a native adapter
// called from Python takes between its attempts.
void module_sleep(double seconds);

// The services of one call, from the module's attributes now (GIL held).
describe::Services module_services();

// A host's call of every provider: fn(provider, name, sig, lang, api_key,
// hints) -> (text or None, outcome), called with the GIL taken.
llm::ProviderCall host_provider_call(nanobind::object fn);

// The settings from the environment, read now, with module_services() (GIL held).
pipeline::ScanContext context_from_environment();

}  // namespace quarrix::py
