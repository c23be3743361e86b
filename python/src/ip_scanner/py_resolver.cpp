#include "ip_scanner/py_resolver.hpp"

#include "common/convert.hpp"

#include <quarrix/resolver/dependency_resolver.hpp>

namespace nb = nanobind;
using namespace nb::literals;

namespace quarrix::py {

namespace {

std::string fspath(nb::handle obj, const char* what) { return path_arg(obj, what); }

std::vector<std::pair<std::string, std::string>> path_map(nb::handle mapping, const char* what) {
  if (!PyDict_Check(mapping.ptr()) && !PyObject_HasAttrString(mapping.ptr(), "items"))
    type_error(std::string(what) + " must be a map, not " + py_type_name(mapping));
  std::vector<std::pair<std::string, std::string>> out;
  for (nb::handle item : mapping.attr("items")()) {
    nb::tuple pair = nb::borrow<nb::tuple>(item);
    out.emplace_back(str_bytes(nb::str(pair[0]), what), fspath(pair[1], what));
  }
  return out;
}

// A host-supplied resolver object; every query runs with the GIL held.
class PyResolver : public pipeline::Resolver {
 public:
  explicit PyResolver(nb::object obj) : obj_(std::move(obj)) {}
  ~PyResolver() override {
    nb::gil_scoped_acquire gil;
    obj_.reset();
  }

  std::vector<std::pair<std::string, std::string>> entity_map() const override {
    nb::gil_scoped_acquire gil;
    return path_map(obj_.attr("entity_map"), "entity_map");
  }

  std::vector<std::string> compilation_order(const std::string& name) const override {
    nb::gil_scoped_acquire gil;
    try {
      std::vector<std::string> out;
      for (nb::handle path : obj_.attr("get_compilation_order")(name)) out.push_back(fspath(path, "compilation order"));
      return out;
    } catch (nb::python_error& e) {
      // The two failures the scan absorbs: an unknown unit and a dependency cycle.
      if (e.matches(PyExc_KeyError)) throw quarrix::resolver::UnknownUnitError(name);
      if (e.matches(PyExc_RecursionError)) throw quarrix::resolver::DependencyCycleError(name);
      throw;
    }
  }

  std::vector<std::pair<std::string, std::string>> unresolved_use_clauses() const override {
    nb::gil_scoped_acquire gil;
    std::vector<std::pair<std::string, std::string>> out;
    for (nb::handle item : obj_.attr("unresolved_use_clauses")()) {
      if (nb::len(item) != 2) throw nb::value_error("unresolved_use_clauses items must be (library, package) pairs");
      out.emplace_back(str_arg(item[0], "unresolved_use_clauses library"),
                       str_arg(item[1], "unresolved_use_clauses package"));
    }
    return out;
  }

  std::vector<std::pair<std::string, std::string>> package_map() const override {
    nb::gil_scoped_acquire gil;
    return path_map(obj_.attr("package_map"), "package_map");
  }

 private:
  nb::object obj_;
};

}  // namespace

pipeline::ResolverFactory resolver_factory_for_scan() {
  nb::object module = nb::module_::import_("quarrix_core.dependency_resolver");
  nb::object cls = module.attr("DependencyResolver");
  // Our own class, left in place by the host, is the fast path.
  if (cls.is(nb::type<resolver::DependencyResolver>())) return {};
  return [cls](const std::vector<std::string>& src_dirs, bool respect_gitignore,
               const std::vector<std::string>& exclude_dirs) -> std::unique_ptr<pipeline::Resolver> {
    nb::gil_scoped_acquire gil;
    nb::object path_type = nb::module_::import_("pathlib").attr("Path");
    nb::list roots, patterns;
    for (const auto& d : src_dirs) roots.append(path_type(d));
    for (const auto& p : exclude_dirs) patterns.append(p);
    return std::make_unique<PyResolver>(
        cls(roots, "respect_gitignore"_a = respect_gitignore, "exclude_dirs"_a = patterns));
  };
}

}  // namespace quarrix::py
