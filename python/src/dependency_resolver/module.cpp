// quarrix_core.dependency_resolver: the resolver's Python face. Conversion only.

#include <string>
#include <utility>
#include <vector>

#include <nanobind/nanobind.h>

#include "common/convert.hpp"
#include "common/errors.hpp"

#include <quarrix/resolver/dependency_resolver.hpp>

namespace nb = nanobind;
using namespace nb::literals;
using quarrix::resolver::DependencyResolver;

namespace {

bool is_sequence(nb::handle obj) { return PyList_Check(obj.ptr()) || PyTuple_Check(obj.ptr()); }

std::vector<std::string> source_roots(nb::handle obj) {
  if (!is_sequence(obj)) {
    quarrix::py::type_error("src_dirs must be a list of str or os.PathLike, not " + quarrix::py::py_type_name(obj));
  }
  std::vector<std::string> out;
  for (nb::handle item : obj) out.push_back(quarrix::py::path_arg(item, "src_dirs item"));
  return out;
}

std::vector<std::string> patterns(nb::handle obj) {
  std::vector<std::string> out;
  if (obj.is_none()) return out;
  if (!is_sequence(obj)) {
    quarrix::py::type_error("exclude_dirs must be a list of str or None, not " + quarrix::py::py_type_name(obj));
  }
  for (nb::handle item : obj) out.push_back(quarrix::py::str_arg(item, "exclude_dirs items"));
  return out;
}

nb::dict as_dict(const std::vector<std::pair<std::string, std::string>>& pairs) {
  nb::dict out;
  for (const auto& [key, value] : pairs) out[quarrix::py::to_pystr(key)] = quarrix::py::to_pystr(value);
  return out;
}

// DependencyResolver(src_dirs, respect_gitignore, exclude_dirs), its arguments checked first.
void construct(DependencyResolver* self, nb::handle src_dirs, nb::handle respect_gitignore, nb::handle exclude_dirs) {
  std::vector<std::string> roots = source_roots(src_dirs);
  if (!PyBool_Check(respect_gitignore.ptr())) {
    quarrix::py::type_error("respect_gitignore must be bool, not " + quarrix::py::py_type_name(respect_gitignore));
  }
  const bool gitignore = respect_gitignore.ptr() == Py_True;
  std::vector<std::string> excludes = patterns(exclude_dirs);
  nb::gil_scoped_release release;
  new (self) DependencyResolver(std::move(roots), gitignore, std::move(excludes));
}

// get_compilation_order: KeyError for an unknown unit, RecursionError for a cycle.
nb::list compilation_order(const DependencyResolver& r, nb::handle name) {
  const std::string unit = quarrix::py::str_arg(name, "name");
  std::vector<std::string> order;
  try {
    order = r.compilation_order(unit);
  } catch (const quarrix::resolver::UnknownUnitError&) {
    PyErr_SetObject(PyExc_KeyError, name.ptr());
    throw nb::python_error();
  } catch (const quarrix::resolver::DependencyCycleError& e) {
    PyErr_SetString(PyExc_RecursionError, e.what());
    throw nb::python_error();
  }
  nb::list out;
  for (const std::string& p : order) out.append(quarrix::py::to_pystr(p));
  return out;
}

}  // namespace

NB_MODULE(dependency_resolver, m) {
  quarrix::py::register_core_errors();
  m.doc() = "Design units, compile order and package uses of the HDL sources below a set of roots.";

  nb::class_<DependencyResolver>(m, "DependencyResolver",
                                 "Scans the HDL sources below src_dirs once, when constructed.")
      .def("__init__", &construct,
           nb::sig("def __init__(self, src_dirs: " QUARRIX_PY_PATH_SEQUENCE ", respect_gitignore: bool = False, "
                   "exclude_dirs: " QUARRIX_PY_STR_SEQUENCE " | None = None) -> None"),
           "src_dirs"_a, "respect_gitignore"_a = false, "exclude_dirs"_a = nb::none())
      .def_prop_ro(
          "entity_map", [](const DependencyResolver& r) { return as_dict(r.entity_map()); },
          nb::for_getter(nb::sig("def entity_map(self) -> dict[str, str]")),
          "Unit name -> path of the file that declares it.")
      .def_prop_ro(
          "package_map", [](const DependencyResolver& r) { return as_dict(r.package_map()); },
          nb::for_getter(nb::sig("def package_map(self) -> dict[str, str]")),
          "Package name -> path of the file that declares it.")
      .def("get_compilation_order", &compilation_order,
           nb::sig("def get_compilation_order(self, name: str) -> list[str]"), "name"_a,
           "Source files the unit needs, dependencies first, its own file last.")
      .def(
          "unresolved_use_clauses",
          [](const DependencyResolver& r) {
            nb::list out;
            for (const auto& [library, package] : r.unresolved_use_clauses()) {
              out.append(nb::make_tuple(quarrix::py::to_pystr(library), quarrix::py::to_pystr(package)));
            }
            return out;
          },
          nb::sig("def unresolved_use_clauses(self) -> list[tuple[str, str]]"),
          "(library, package) of each VHDL use clause that no scanned package resolves.");
}
