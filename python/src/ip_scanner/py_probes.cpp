#include "ip_scanner/py_probes.hpp"

#include "common/convert.hpp"
#include "common/native_probes.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace quarrix::py {

namespace {

constexpr const char* kFields[] = {"detect_library_name",        "detect_vhdl_standard", "detect_vendor_deps",
                                   "detect_test_infrastructure", "compute_badges",       "verify_verilog"};

// How each probe is called (see wrap_probes); whatever JSON-like value it returns is taken.
constexpr const char* kFieldTypes[] = {"collections.abc.Callable[[pathlib.Path], object]",
                                       "collections.abc.Callable[[list[pathlib.Path], typing.Any], object]",
                                       "collections.abc.Callable[[list[pathlib.Path]], object]",
                                       "collections.abc.Callable[[pathlib.Path], object]",
                                       "collections.abc.Callable[[typing.Any, typing.Any], object]",
                                       "collections.abc.Callable[[list[pathlib.Path]], object]"};

// Probe injection point of the host: exactly six callables. The built-in
// probes add a check that names the unit to the tool, and their C++ callables;
// each is used only while the field it stands for is still the one it came
// with: a host that replaces a probe is asked through its own.
struct PyScanProbes {
  nb::object fields[6];
  nb::object originals[6];  // the fields as constructed
  nb::object unit_check;    // (files, name) -> verified, or None
  nb::object native;        // the built-in probes' capsule, or None
};

enum Field : std::size_t { kLibrary, kStandard, kVendor, kTests, kBadges, kVerilog };

nb::object to_path(const std::string& path) { return nb::module_::import_("pathlib").attr("Path")(to_pystr(path)); }

nb::list to_paths(const pipeline::PathList& paths) {
  nb::object path_type = nb::module_::import_("pathlib").attr("Path");
  nb::list out;
  for (const auto& p : paths) out.append(path_type(to_pystr(p)));
  return out;
}

// Calls probe `name` of `holder` (GIL held by the caller) and converts its result.
template <class... Args>
Json call_probe(const nb::object& holder, const char* name, Args&&... args) {
  nb::object result = holder.attr(name)(std::forward<Args>(args)...);
  return to_json(result, name);
}

std::string init_signature() {
  std::string out = "def __init__(self";
  for (std::size_t i = 0; i < 6; ++i) out += std::string(", ") + kFields[i] + ": " + kFieldTypes[i];
  return out +
         ", *, _verify_verilog_unit: collections.abc.Callable[[list[pathlib.Path], str], object] | None = None, "
         "_native: typing_extensions.CapsuleType | None = None) -> None";
}

}  // namespace

namespace {

// The built-in probes' C++ callables for the fields the host left as they came.
void take_native(const PyScanProbes& own, pipeline::ScanProbes& out) {
  const pipeline::ScanProbes* native = native_probes_in(own.native);
  if (!native) return;
  const auto kept = [&](Field f) { return own.fields[f].is(own.originals[f]); };
  if (kept(kLibrary)) out.detect_library_name = native->detect_library_name;
  if (kept(kVendor)) {
    out.detect_vendor_deps = native->detect_vendor_deps;
    out.detect_vendor_deps_in_file = native->detect_vendor_deps_in_file;
  }
  if (kept(kTests)) out.detect_test_infrastructure = native->detect_test_infrastructure;
  if (kept(kBadges)) out.compute_badges = native->compute_badges;
  if (kept(kStandard)) out.detect_vhdl_standard = native->detect_vhdl_standard;
  if (kept(kVerilog)) {
    out.verify_verilog = native->verify_verilog;
    out.verify_verilog_unit = native->verify_verilog_unit;
  }
  // Whether a check can run, and running one ahead, speak for both checks.
  if (kept(kStandard) && kept(kVerilog)) {
    out.can_run_checks = native->can_run_checks;
    out.check_ahead = native->check_ahead;
  }
}

}  // namespace

pipeline::ScanProbes wrap_probes(nb::handle probes) {
  std::optional<nb::object> unit_check;
  const PyScanProbes* own = nb::isinstance<PyScanProbes>(probes) ? &nb::cast<const PyScanProbes&>(probes) : nullptr;
  if (own && !own->unit_check.is_none() && own->fields[kVerilog].is(own->originals[kVerilog]))
    unit_check = own->unit_check;
  // Each C++ callable keeps a reference to the host object; released under the GIL.
  auto holder = std::shared_ptr<nb::object>(new nb::object(nb::borrow(probes)), [](nb::object* p) {
    nb::gil_scoped_acquire gil;
    delete p;
  });
  pipeline::ScanProbes out;
  out.detect_library_name = [holder](const std::string& root) {
    nb::gil_scoped_acquire gil;
    return call_probe(*holder, "detect_library_name", to_path(root));
  };
  out.detect_vhdl_standard = [holder](const pipeline::PathList& files, const Json& library) {
    nb::gil_scoped_acquire gil;
    return call_probe(*holder, "detect_vhdl_standard", to_paths(files), from_json(library));
  };
  out.detect_vendor_deps = [holder](const pipeline::PathList& files) {
    nb::gil_scoped_acquire gil;
    return call_probe(*holder, "detect_vendor_deps", to_paths(files));
  };
  out.detect_test_infrastructure = [holder](const std::string& root) {
    nb::gil_scoped_acquire gil;
    return call_probe(*holder, "detect_test_infrastructure", to_path(root));
  };
  out.compute_badges = [holder](const Json& verified, const Json& test_info) {
    nb::gil_scoped_acquire gil;
    return call_probe(*holder, "compute_badges", from_json(verified), from_json(test_info));
  };
  out.verify_verilog = [holder](const pipeline::PathList& files) {
    nb::gil_scoped_acquire gil;
    return call_probe(*holder, "verify_verilog", to_paths(files));
  };
  if (unit_check) {
    auto check = std::shared_ptr<nb::object>(new nb::object(std::move(*unit_check)), [](nb::object* p) {
      nb::gil_scoped_acquire gil;
      delete p;
    });
    out.verify_verilog_unit = [check](const pipeline::PathList& files, const std::string& name) {
      nb::gil_scoped_acquire gil;
      return to_json((*check)(to_paths(files), to_pystr(name)), "verify_verilog");
    };
  }
  if (own) take_native(*own, out);
  return out;
}

void bind_scan_probes(nb::module_& m) {
  auto cls = nb::class_<PyScanProbes>(m, "ScanProbes", "Probe functions injected by the open-source wrapper.");
  cls.def(
      "__init__",
      [](PyScanProbes* self, nb::object detect_library_name, nb::object detect_vhdl_standard,
         nb::object detect_vendor_deps, nb::object detect_test_infrastructure, nb::object compute_badges,
         nb::object verify_verilog, nb::object unit_check, nb::object native) {
        if (!native.is_none() && !native_probes_in(native))
          type_error("_native must be the built-in probes' capsule or None");
        new (self) PyScanProbes{{detect_library_name, detect_vhdl_standard, detect_vendor_deps,
                                 detect_test_infrastructure, compute_badges, verify_verilog},
                                {detect_library_name, detect_vhdl_standard, detect_vendor_deps,
                                 detect_test_infrastructure, compute_badges, verify_verilog},
                                unit_check,
                                native};
      },
      nb::sig(init_signature().c_str()), "detect_library_name"_a, "detect_vhdl_standard"_a, "detect_vendor_deps"_a,
      "detect_test_infrastructure"_a, "compute_badges"_a, "verify_verilog"_a, nb::kw_only(),
      "_verify_verilog_unit"_a = nb::none(), "_native"_a = nb::none());
  for (std::size_t i = 0; i < 6; ++i) {
    const std::string name = kFields[i], type = kFieldTypes[i];
    cls.def_prop_rw(
        kFields[i], [i](PyScanProbes& p) { return p.fields[i]; },
        [i](PyScanProbes& p, nb::object value) { p.fields[i] = std::move(value); },
        nb::for_getter(nb::sig(("def " + name + "(self) -> " + type).c_str())),
        nb::for_setter(nb::sig(("def " + name + "(self, value: " + type + ", /) -> None").c_str())));
  }
  cls.def("__repr__", [](PyScanProbes& p) {
    std::string out = "ScanProbes(";
    for (std::size_t i = 0; i < 6; ++i) {
      if (i) out += ", ";
      out += std::string(kFields[i]) + "=" + nb::cast<std::string>(nb::repr(p.fields[i]));
    }
    return out + ")";
  });
  nb::list fields;
  for (const char* f : kFields) fields.append(f);
  cls.attr("__match_args__") = nb::tuple(fields);
}

}  // namespace quarrix::py
