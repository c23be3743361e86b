#pragma once
// str <-> std::string as file-system bytes, the way os.fsencode and
// os.fsdecode convert on Linux: UTF-8, and a byte that is not UTF-8 stands as
// the lone surrogate U+DC80..U+DCFF ("surrogateescape"). Paths reach the core
// byte for byte and come back as the str Python would have made of them.
//
// The casters below replace nanobind's own for std::string and
// std::string_view: every extension source includes this header instead of
// <nanobind/stl/string.h> and <nanobind/stl/string_view.h>, so that one
// conversion holds for all of them.

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include <nanobind/nanobind.h>

namespace quarrix::py {

// The bytes of `str`; nullopt, with the Python error set, when it holds a
// character that has no bytes (a lone surrogate other than an escaped byte).
std::optional<std::string> str_to_bytes(PyObject* str) noexcept;

// A new reference to the str of `bytes`; null, with the Python error set, only
// for lack of memory.
PyObject* bytes_to_str(std::string_view bytes) noexcept;

// The same as a str object; raises the Python error instead of returning null.
nanobind::str to_pystr(std::string_view bytes);

}  // namespace quarrix::py

NAMESPACE_BEGIN(NB_NAMESPACE)
NAMESPACE_BEGIN(detail)

template <>
struct type_caster<std::string> {
  NB_TYPE_CASTER(std::string, const_name("str"))

  bool from_python(handle src, std::underlying_type_t<cast_flags>, cleanup_list*) noexcept {
    if (!PyUnicode_Check(src.ptr())) return false;
    std::optional<std::string> bytes = quarrix::py::str_to_bytes(src.ptr());
    if (!bytes) {
      PyErr_Clear();
      return false;
    }
    value = std::move(*bytes);
    return true;
  }

  static handle from_cpp(const std::string& value, rv_policy, cleanup_list*) noexcept {
    return quarrix::py::bytes_to_str(value);
  }
};

template <>
struct type_caster<std::string_view> {
  NB_TYPE_CASTER(std::string_view, const_name("str"))

  bool from_python(handle src, std::underlying_type_t<cast_flags> flags, cleanup_list* cleanup) noexcept {
    if (!owner_.from_python(src, flags, cleanup)) return false;
    value = owner_.value;
    return true;
  }

  static handle from_cpp(std::string_view value, rv_policy, cleanup_list*) noexcept {
    return quarrix::py::bytes_to_str(value);
  }

 private:
  type_caster<std::string> owner_;  // the bytes `value` views, alive as long as the caster
};

NAMESPACE_END(detail)
NAMESPACE_END(NB_NAMESPACE)
