#pragma once
// Python spellings of what the conversions in convert.hpp accept, for the
// nb::sig strings that give the hand-checked parameters their stub types. The
// stub generator turns the qualified names into imports.
//
// Lists are spelled as the unions a host's own variables fit: list is
// invariant, so a list[pathlib.Path] is no list[str | os.PathLike[str]].

#include <string>

// path_arg
#define QUARRIX_PY_PATH "str | os.PathLike[str]"
// path_list_arg without tuples
#define QUARRIX_PY_PATH_LIST "list[str] | list[pathlib.Path] | list[str | os.PathLike[str]]"
// path_list_arg with tuples
#define QUARRIX_PY_PATH_SEQUENCE QUARRIX_PY_PATH_LIST " | tuple[str | os.PathLike[str], ...]"
// str_list_arg with tuples
#define QUARRIX_PY_STR_SEQUENCE "list[str] | tuple[str, ...]"
// a set, list or tuple of str
#define QUARRIX_PY_STR_SET "set[str] | frozenset[str] | " QUARRIX_PY_STR_SEQUENCE
// to_json of a dict, and of a list
#define QUARRIX_PY_JSON_MAP "dict[str, typing.Any]"
#define QUARRIX_PY_JSON_LIST "list[typing.Any]"
// from_json of catalog rows
#define QUARRIX_PY_ROWS "list[dict[str, typing.Any]]"

namespace quarrix::py {

// A default value as Python writes it, for a signature built from the C++
// constant that is the default.
std::string py_literal(long long value);
std::string py_literal(double value);

}  // namespace quarrix::py
