// quarrix_core.probes: the built-in tool probes for Python hosts.

#include <nanobind/nanobind.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include "common/convert.hpp"
#include "quarrix/probes/badges.hpp"
#include "quarrix/probes/library_name.hpp"
#include "quarrix/probes/test_infrastructure.hpp"
#include "quarrix/probes/vendor_deps.hpp"
#include "quarrix/probes/verilog_verify.hpp"
#include "quarrix/probes/vhdl_standard.hpp"

namespace nb = nanobind;
using namespace nb::literals;

using quarrix::py::path_arg;
using quarrix::py::py_type_name;
using quarrix::py::type_error;

NB_MODULE(probes, m) {
  m.doc() = "Built-in tool probes: GHDL, Verilator or Icarus Verilog, vendor libraries, test facilities.";

  m.def(
      "detect_library_name",
      [](nb::handle repo_path) {
        const std::string root = path_arg(repo_path, "repo_path");
        nb::gil_scoped_release release;
        return quarrix::probes::detect_library_name(root);
      },
      "repo_path"_a, "The library through which the repository's own VHDL packages are used, else 'work'.");

  m.def(
      "detect_vhdl_standard",
      [](nb::handle files, nb::handle library) {
        const auto paths = quarrix::py::path_list_arg(files, "files", true);
        if (!PyUnicode_Check(library.ptr())) type_error("library must be str, not " + py_type_name(library));
        const std::string lib = nb::cast<std::string>(library);
        nb::gil_scoped_release release;
        return quarrix::probes::detect_vhdl_standard(paths, lib);
      },
      "files"_a, "library"_a,
      "(standard, verified) from analysing the VHDL files with GHDL; ('unknown', False) without GHDL.");

  m.def(
      "detect_vendor_deps",
      [](nb::handle files) {
        const auto paths = quarrix::py::path_list_arg(files, "files", true);
        nb::gil_scoped_release release;
        return quarrix::probes::detect_vendor_deps(paths);
      },
      "files"_a, "Sorted names of the vendor libraries the sources use.");

  m.def(
      "detect_test_infrastructure",
      [](nb::handle repo_path) {
        const std::string root = path_arg(repo_path, "repo_path");
        quarrix::Json info;
        {
          nb::gil_scoped_release release;
          info = quarrix::probes::detect_test_infrastructure(root);
        }
        return quarrix::py::from_json(info);
      },
      "repo_path"_a, "Map of the repository's test facilities and CI services.");

  m.def(
      "compute_badges",
      [](nb::handle verified, nb::handle test_info) {
        const int truth = PyObject_IsTrue(verified.ptr());
        if (truth < 0) throw nb::python_error();
        return quarrix::probes::compute_badges(truth != 0, quarrix::py::to_json(test_info, "test_info"));
      },
      "verified"_a, "test_info"_a, "Badges from the verification result and the test facilities.");

  m.def(
      "verify_verilog",
      [](nb::handle files) {
        const auto paths = quarrix::py::path_list_arg(files, "files", true);
        nb::gil_scoped_release release;
        return quarrix::probes::verify_verilog(paths);
      },
      "files"_a, "Whether Verilator (else Icarus Verilog) accepts the Verilog/SystemVerilog files.");

  m.def(
      "default_probes",
      []() {
        nb::module_ self = nb::module_::import_("quarrix_core.probes");
        return nb::module_::import_("quarrix_core.ip_scanner")
            .attr("ScanProbes")(self.attr("detect_library_name"), self.attr("detect_vhdl_standard"),
                                self.attr("detect_vendor_deps"), self.attr("detect_test_infrastructure"),
                                self.attr("compute_badges"), self.attr("verify_verilog"));
      },
      "A quarrix_core.ip_scanner.ScanProbes holding the built-in probes.");
}
