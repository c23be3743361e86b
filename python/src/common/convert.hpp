#pragma once
// Value conversions shared by the extension modules. Conversion only: no
// behaviour of the core lives here.

#include <optional>
#include <string>
#include <vector>

#include <nanobind/nanobind.h>

#include "common/fs_string.hpp"
#include "common/py_types.hpp"

#include <quarrix/util/json.hpp>

namespace quarrix::py {

namespace nb = nanobind;

// Strings and paths cross as file-system bytes (common/fs_string.hpp). A str
// that has no bytes (a lone surrogate that escapes no byte) raises ValueError
// naming `what`.

// A str -> its bytes.
std::string str_bytes(nb::handle str, const char* what);
// str -> bytes; TypeError naming `what` for anything else.
std::string str_arg(nb::handle obj, const char* what);
// str or os.PathLike -> path bytes; TypeError naming `what` otherwise.
std::string path_arg(nb::handle obj, const char* what);

// A JSON-like Python value (None, bool, int, float, str, list, tuple, dict with
// str keys) -> Json. Anything else raises TypeError naming `what`; nesting
// deeper than util::kMaxJsonDepth (a structure containing itself) ValueError.
Json to_json(nb::handle obj, const char* what);

// Json -> Python value; objects become dicts in their key order, strings are
// decoded as os.fsdecode decodes.
nb::object from_json(const Json& value);

// A list (or, with allow_tuple, a tuple) of str; TypeError naming `what` otherwise.
std::vector<std::string> str_list_arg(nb::handle obj, const char* what, bool allow_tuple = false);
// A list (or, with allow_tuple, a tuple) of str / os.PathLike -> path strings.
std::vector<std::string> path_list_arg(nb::handle obj, const char* what, bool allow_tuple = false);
// The str of `text`, or None.
nb::object to_pystr_or_none(const std::optional<std::string>& text);
// A new Python list of str.
nb::list to_pylist(const std::vector<std::string>& items);

// True when `obj` is a dict (or a Mapping subclass instance of dict).
bool is_dict(nb::handle obj);
bool is_list(nb::handle obj);

// Python's truth value of `obj` (bool(obj)); its __bool__ errors propagate.
bool truth_of(nb::handle obj);

// Raises TypeError(message).
[[noreturn]] void type_error(const std::string& message);

// Python's type name of `obj`, for error messages.
std::string py_type_name(nb::handle obj);

}  // namespace quarrix::py
