#pragma once
// Value conversions shared by the extension modules. Conversion only: no
// behaviour of the core lives here.

#include <string>
#include <vector>

#include <nanobind/nanobind.h>

#include <quarrix/util/json.hpp>

namespace quarrix::py {

namespace nb = nanobind;

// str or os.PathLike -> path string; TypeError naming `what` otherwise.
std::string path_arg(nb::handle obj, const char* what);

// A JSON-like Python value (None, bool, int, float, str, list, tuple, dict with
// str keys) -> Json. Anything else raises TypeError naming `what`.
Json to_json(nb::handle obj, const char* what);

// Json -> Python value; objects become dicts in their key order.
nb::object from_json(const Json& value);

// True when `obj` is a dict (or a Mapping subclass instance of dict).
bool is_dict(nb::handle obj);
bool is_list(nb::handle obj);

// Raises TypeError(message).
[[noreturn]] void type_error(const std::string& message);

// Python's type name of `obj`, for error messages.
std::string py_type_name(nb::handle obj);

}  // namespace quarrix::py
