#include "common/fs_string.hpp"

namespace quarrix::py {

std::optional<std::string> str_to_bytes(PyObject* str) noexcept {
  Py_ssize_t size = 0;
  if (const char* utf8 = PyUnicode_AsUTF8AndSize(str, &size)) return std::string(utf8, static_cast<std::size_t>(size));
  // Only a str holding surrogates has no UTF-8 form.
  PyErr_Clear();
  PyObject* bytes = PyUnicode_AsEncodedString(str, "utf-8", "surrogateescape");
  if (!bytes) return std::nullopt;
  std::string out(PyBytes_AS_STRING(bytes), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes)));
  Py_DECREF(bytes);
  return out;
}

PyObject* bytes_to_str(std::string_view bytes) noexcept {
  return PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "surrogateescape");
}

nanobind::str to_pystr(std::string_view bytes) {
  PyObject* str = bytes_to_str(bytes);
  if (!str) throw nanobind::python_error();
  return nanobind::steal<nanobind::str>(str);
}

}  // namespace quarrix::py
