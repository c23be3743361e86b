#include "common/errors.hpp"

#include <nanobind/nanobind.h>

#include <quarrix/util/errors.hpp>

#include "common/convert.hpp"

namespace nb = nanobind;

namespace quarrix::py {

namespace {

PyObject* exception_of(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kType:
    case ErrorKind::kMalformedEntry: return PyExc_TypeError;
    case ErrorKind::kKey:
    case ErrorKind::kUnknownUnit: return PyExc_KeyError;
    case ErrorKind::kValue: return PyExc_ValueError;
    case ErrorKind::kIndex: return PyExc_IndexError;
    case ErrorKind::kDependencyCycle: return PyExc_RecursionError;
    case ErrorKind::kRegex: return PyExc_RuntimeError;
  }
  return PyExc_RuntimeError;
}

}  // namespace

void register_core_errors() {
  nb::register_exception_translator([](const std::exception_ptr& error, void*) {
    try {
      std::rethrow_exception(error);
    } catch (const Error& e) {
      PyErr_SetObject(exception_of(e.kind()), to_pystr(e.what()).ptr());
    }
  });
}

}  // namespace quarrix::py
