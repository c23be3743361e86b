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
// str keys) -> Json. Anything else raises TypeError naming `what`; nesting
// deeper than util::kMaxJsonDepth (a structure containing itself) ValueError.
Json to_json(nb::handle obj, const char* what);

// Json -> Python value; objects become dicts in their key order.
nb::object from_json(const Json& value);

// A list (or, with allow_tuple, a tuple) of str; TypeError naming `what` otherwise.
std::vector<std::string> str_list_arg(nb::handle obj, const char* what, bool allow_tuple = false);
// A list (or, with allow_tuple, a tuple) of str / os.PathLike -> path strings.
std::vector<std::string> path_list_arg(nb::handle obj, const char* what, bool allow_tuple = false);
// A new Python list of str.
nb::list to_pylist(const std::vector<std::string>& items);

// True when `obj` is a dict (or a Mapping subclass instance of dict).
bool is_dict(nb::handle obj);
bool is_list(nb::handle obj);

// Raises TypeError(message).
[[noreturn]] void type_error(const std::string& message);

// Python's type name of `obj`, for error messages.
std::string py_type_name(nb::handle obj);

}  // namespace quarrix::py
