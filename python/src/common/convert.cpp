#include "common/convert.hpp"

#include <cmath>

#include "common/fs_string.hpp"

#include "quarrix/util/json_object_builder.hpp"

namespace quarrix::py {

void type_error(const std::string& message) { throw nb::type_error(message.c_str()); }

std::string py_type_name(nb::handle obj) { return nb::cast<std::string>(nb::type_name(obj.type())); }

bool is_dict(nb::handle obj) { return PyDict_Check(obj.ptr()); }
bool is_list(nb::handle obj) { return PyList_Check(obj.ptr()); }

bool truth_of(nb::handle obj) {
  const int truth = PyObject_IsTrue(obj.ptr());
  if (truth < 0) throw nb::python_error();
  return truth != 0;
}

std::string str_bytes(nb::handle str, const char* what) {
  std::optional<std::string> bytes = str_to_bytes(str.ptr());
  if (bytes) return std::move(*bytes);
  const nb::python_error cause;  // takes the encoder's error, which names no argument
  throw nb::value_error((std::string(what) + ": " + nb::str(cause.value()).c_str()).c_str());
}

std::string str_arg(nb::handle obj, const char* what) {
  if (!PyUnicode_Check(obj.ptr())) type_error(std::string(what) + " must be str, not " + py_type_name(obj));
  return str_bytes(obj, what);
}

std::string path_arg(nb::handle obj, const char* what) {
  if (PyUnicode_Check(obj.ptr())) return str_bytes(obj, what);
  PyObject* fs = PyOS_FSPath(obj.ptr());
  if (!fs) {
    PyErr_Clear();
    type_error(std::string(what) + " must be str or os.PathLike, not " + py_type_name(obj));
  }
  nb::object fspath = nb::steal(fs);
  if (!PyUnicode_Check(fspath.ptr()))
    type_error(std::string(what) + " must be a str path, not " + py_type_name(fspath));
  return str_bytes(fspath, what);
}

namespace {

void require_sequence(nb::handle obj, const char* what, bool allow_tuple) {
  if (PyList_Check(obj.ptr()) || (allow_tuple && PyTuple_Check(obj.ptr()))) return;
  type_error(std::string(what) + (allow_tuple ? " must be a list or tuple, not " : " must be a list, not ") +
             py_type_name(obj));
}

}  // namespace

std::vector<std::string> str_list_arg(nb::handle obj, const char* what, bool allow_tuple) {
  require_sequence(obj, what, allow_tuple);
  std::vector<std::string> out;
  for (nb::handle item : obj) {
    if (!PyUnicode_Check(item.ptr())) type_error(std::string(what) + " must hold str items, not " + py_type_name(item));
    out.push_back(str_bytes(item, what));
  }
  return out;
}

std::vector<std::string> path_list_arg(nb::handle obj, const char* what, bool allow_tuple) {
  require_sequence(obj, what, allow_tuple);
  std::vector<std::string> out;
  for (nb::handle item : obj) out.push_back(path_arg(item, what));
  return out;
}

nb::object to_pystr_or_none(const std::optional<std::string>& text) {
  return text ? nb::object(to_pystr(*text)) : nb::none();
}

nb::list to_pylist(const std::vector<std::string>& items) {
  nb::list out;
  for (const auto& item : items) out.append(to_pystr(item));
  return out;
}

namespace {

Json to_json_at(nb::handle obj, const char* what, std::size_t depth) {
  PyObject* p = obj.ptr();
  if (p == Py_None) return nullptr;
  if (PyBool_Check(p)) return p == Py_True;
  if (PyLong_Check(p)) {
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(p, &overflow);
    if (overflow == 0) return v;
    type_error(std::string(what) + " returned an integer out of the 64-bit range");
  }
  if (PyFloat_Check(p)) return PyFloat_AsDouble(p);
  if (PyUnicode_Check(p)) return str_bytes(obj, what);
  const bool is_sequence = PyList_Check(p) || PyTuple_Check(p);
  if ((is_sequence || PyDict_Check(p)) && depth >= util::kMaxJsonDepth)
    throw nb::value_error((std::string(what) + " is nested more than " + std::to_string(util::kMaxJsonDepth) +
                           " levels deep (or contains itself)")
                              .c_str());
  if (is_sequence) {
    Json out = Json::array();
    for (nb::handle item : obj) out.push_back(to_json_at(item, what, depth + 1));
    return out;
  }
  if (PyDict_Check(p)) {
    util::JsonObjectBuilder out;
    for (auto [key, value] : nb::borrow<nb::dict>(obj)) {
      if (!PyUnicode_Check(key.ptr()))
        type_error(std::string(what) + " returned a dict with a non-str key of type " + py_type_name(key));
      out.set(str_bytes(key, what), to_json_at(value, what, depth + 1));
    }
    return std::move(out).take();
  }
  type_error(std::string(what) + " returned a value of type " + py_type_name(obj) +
             ", which is not JSON-like (None, bool, int, float, str, list, tuple, dict)");
}

}  // namespace

Json to_json(nb::handle obj, const char* what) { return to_json_at(obj, what, 0); }

nb::object from_json(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null: return nb::none();
    case Json::value_t::boolean: return nb::bool_(value.get<bool>());
    case Json::value_t::number_integer: return nb::int_(value.get<long long>());
    case Json::value_t::number_unsigned: return nb::steal(PyLong_FromUnsignedLongLong(value.get<unsigned long long>()));
    case Json::value_t::number_float: return nb::float_(value.get<double>());
    case Json::value_t::string: return to_pystr(value.get_ref<const std::string&>());
    case Json::value_t::array: {
      nb::list out;
      for (const auto& item : value) out.append(from_json(item));
      return out;
    }
    case Json::value_t::object: {
      nb::dict out;
      for (const auto& [key, item] : value.items()) out[to_pystr(key)] = from_json(item);
      return out;
    }
    default: return nb::none();
  }
}

}  // namespace quarrix::py
