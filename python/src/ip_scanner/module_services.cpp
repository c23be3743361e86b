#include "ip_scanner/module_services.hpp"

#include <map>

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

// The core calls these with the GIL released (a scan works without it), so
// they take it before touching Python.

bool module_is_suspect(std::string_view text, const std::optional<std::string>& name,
                       const std::optional<std::string>& ns) {
  {
    nb::gil_scoped_acquire gil;
    nb::object validator = nb::getattr(nb::handle(g_module), "_desc_is_suspect");
    if (!validator.is(nb::handle(g_native_validator)))
      return truth_of(
          validator(to_pystr(text), "name"_a = to_pystr_or_none(name), "namespace"_a = to_pystr_or_none(ns)));
  }
  return validator::is_suspect(text, name, ns);
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

llm::Reply module_adapter(std::string_view provider, std::string_view entity_name, std::string_view signature,
                          std::string_view language, std::string_view api_key, const Json& hints,
                          const llm::SleepFunction& sleep) {
  {
    nb::gil_scoped_acquire gil;
    const std::string attribute = adapter_attribute(provider);
    nb::object fn = nb::getattr(nb::handle(g_module), attribute.c_str());
    const auto native = g_native_adapters.find(provider);
    if (native == g_native_adapters.end() || !fn.is(nb::handle(native->second))) {
      nb::object result = fn(to_pystr(entity_name), to_pystr(signature), to_pystr(language), to_pystr(api_key),
                             "hints"_a = from_json(hints));
      return reply_from(result, attribute);
    }
  }
  return llm::call_native_adapter(provider, entity_name, signature, language, api_key, hints, sleep);
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

describe::Services module_services() { return {module_is_suspect, {module_adapter, module_sleep}}; }

pipeline::ScanContext context_from_environment() {
  return {pipeline::ScanSettings::from_environment(), module_services()};
}

}  // namespace quarrix::py
