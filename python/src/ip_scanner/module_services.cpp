#include "ip_scanner/module_services.hpp"

#include <map>
#include <memory>
#include <optional>

#include <quarrix/validator/validator.hpp>

#include "common/convert.hpp"

namespace quarrix::py {
namespace {

using namespace nb::literals;

// Owned for the life of the process; never released, so that a late call
// cannot touch a freed object during interpreter shutdown.
PyObject* g_module = nullptr;
PyObject* g_native_validator = nullptr;
PyObject* g_native_sleep = nullptr;
std::map<std::string, PyObject*, std::less<>> g_native_adapters;

PyObject* keep(PyObject* old, nb::handle obj) {
  Py_XDECREF(old);
  return obj.inc_ref().ptr();
}

// A host's callable, kept by the services of one call; the core calls it
// with the GIL released, so it is taken for each call and for the release.
using HostCallable = std::shared_ptr<nb::object>;

HostCallable keep_callable(nb::object fn) {
  return HostCallable(new nb::object(std::move(fn)), [](nb::object* p) {
    nb::gil_scoped_acquire gil;
    delete p;
  });
}

// The module attribute `name`, unless it still holds `native`.
std::optional<HostCallable> replaced(const char* name, PyObject* native) {
  nb::object fn = nb::getattr(nb::handle(g_module), name);
  if (fn.is(nb::handle(native))) return std::nullopt;
  return keep_callable(std::move(fn));
}

// What a replacement adapter returned, as (text or None, outcome).
llm::Reply reply_from(nb::handle result, const std::string& what) {
  if (!PyTuple_Check(result.ptr()) && !PyList_Check(result.ptr()))
    type_error(what + " must return a (text, outcome) pair, not " + py_type_name(result));
  nb::sequence pair = nb::borrow<nb::sequence>(result);
  if (nb::len(pair) != 2) type_error(what + " must return a (text, outcome) pair");
  nb::handle text = pair[0], outcome = pair[1];
  if (!text.is_none() && !PyUnicode_Check(text.ptr()))
    type_error(what + " must return a str or None as its text, not " + py_type_name(text));
  if (!PyUnicode_Check(outcome.ptr())) type_error(what + " must return a str outcome, not " + py_type_name(outcome));
  llm::Reply reply;
  if (!text.is_none()) reply.text = str_bytes(text, what.c_str());
  reply.outcome = str_bytes(outcome, what.c_str());
  return reply;
}

}  // namespace

void remember_module(nb::handle module) { g_module = keep(g_module, module); }
void remember_native_validator(nb::handle fn) { g_native_validator = keep(g_native_validator, fn); }
void remember_native_sleep(nb::handle fn) { g_native_sleep = keep(g_native_sleep, fn); }
void remember_native_adapter(std::string_view provider, nb::handle fn) {
  PyObject*& slot = g_native_adapters[std::string(provider)];
  slot = keep(slot, fn);
}

std::string adapter_attribute(std::string_view provider) { return "_llm_describe_" + std::string(provider); }

void module_sleep(double seconds) {
  {
    nb::gil_scoped_acquire gil;
    nb::object fn = nb::getattr(nb::handle(g_module), "_llm_sleep");
    if (!fn.is(nb::handle(g_native_sleep))) {
      fn(seconds);
      return;
    }
  }
  llm::real_sleep(seconds);
}

describe::Services module_services() {
  describe::Services services;  // our own, unless the host replaced them
  if (auto validator = replaced("_desc_is_suspect", g_native_validator))
    services.is_suspect = [fn = std::move(*validator)](std::string_view text, const std::optional<std::string>& name,
                                                       const std::optional<std::string>& ns) {
      nb::gil_scoped_acquire gil;
      return truth_of((*fn)(to_pystr(text), "name"_a = to_pystr_or_none(name), "namespace"_a = to_pystr_or_none(ns)));
    };
  std::map<std::string, HostCallable, std::less<>> adapters;
  for (const llm::ProviderSpec& provider : llm::kProviders) {
    const std::string attribute = adapter_attribute(provider.name);
    const auto native = g_native_adapters.find(provider.name);
    if (auto fn = replaced(attribute.c_str(), native == g_native_adapters.end() ? nullptr : native->second))
      adapters.emplace(provider.name, std::move(*fn));
  }
  if (!adapters.empty())
    services.llm.ask = [adapters = std::move(adapters)](std::string_view provider, const llm::DescribeRequest& request,
                                                        const llm::SleepFunction& sleep) {
      const auto it = adapters.find(provider);
      if (it == adapters.end()) return llm::call_native_adapter(provider, request, sleep);
      nb::gil_scoped_acquire gil;
      nb::object result =
          (*it->second)(to_pystr(request.entity_name), to_pystr(request.signature), to_pystr(request.language),
                        to_pystr(request.api_key), "hints"_a = from_json(request.hints));
      return reply_from(result, adapter_attribute(provider));
    };
  if (auto sleep = replaced("_llm_sleep", g_native_sleep))
    services.llm.sleep = [fn = std::move(*sleep)](double seconds) {
      nb::gil_scoped_acquire gil;
      (*fn)(seconds);
    };
  return services;
}

llm::ProviderCall host_provider_call(nb::object fn) {
  return [fn = keep_callable(std::move(fn))](std::string_view provider, const llm::DescribeRequest& request,
                                             const llm::SleepFunction&) {
    nb::gil_scoped_acquire gil;
    nb::object result = (*fn)(to_pystr(provider), to_pystr(request.entity_name), to_pystr(request.signature),
                              to_pystr(request.language), to_pystr(request.api_key), from_json(request.hints));
    return reply_from(result, "provider_call");
  };
}

pipeline::ScanContext context_from_environment() {
  return {pipeline::ScanSettings::from_environment(), module_services()};
}

}  // namespace quarrix::py
