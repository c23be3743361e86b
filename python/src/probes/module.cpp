// quarrix_core.probes: the built-in tool probes for Python hosts.

#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>

#include <nanobind/nanobind.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/vector.h>

#include "common/convert.hpp"
#include "common/errors.hpp"
#include "common/native_probes.hpp"
#include "quarrix/pipeline/default_probes.hpp"
#include "quarrix/probes/badges.hpp"
#include "quarrix/probes/library_name.hpp"
#include "quarrix/probes/sandbox.hpp"
#include "quarrix/probes/test_infrastructure.hpp"
#include "quarrix/probes/tool_cache.hpp"
#include "quarrix/probes/tool_session.hpp"
#include "quarrix/probes/vendor_deps.hpp"
#include "quarrix/probes/verilog_verify.hpp"
#include "quarrix/probes/vhdl_standard.hpp"
#include "quarrix/util/path.hpp"

namespace nb = nanobind;
using namespace nb::literals;

using quarrix::py::path_arg;
using quarrix::py::py_type_name;
using quarrix::py::type_error;

namespace {

// A scan's tool runs: seconds shared by all, bytes of address space for each.
constexpr double kDefaultToolBudget = 600.0;
constexpr double kDefaultToolMemory = double(std::uint64_t{2} << 30);

// A tool session for one call, with the run timeout the environment sets now.
quarrix::probes::ToolLimits limits_from_environment() {
  quarrix::probes::ToolLimits limits;
  limits.run_timeout = quarrix::probes::tool_timeout();
  return limits;
}

// The built-in probes of one scan as Python callables over the C++ ones, so
// that they share the scan's tool session and vendor-dependency reads; a scan
// given them calls the C++ ones (those the host did not replace) directly.
nb::object probes_object(const quarrix::pipeline::ScanProbes& p) {
  using quarrix::Json;
  using quarrix::py::from_json;
  auto call = [](auto&& fn) {
    Json result;
    {
      nb::gil_scoped_release release;
      result = fn();
    }
    return from_json(result);
  };
  // The probes that take the repository root, and those that take a compile list.
  const auto on_root = [call](std::function<Json(const std::string&)> fn) {
    return nb::cpp_function(
        [fn = std::move(fn), call](nb::handle repo) {
          const std::string root = path_arg(repo, "repo_path");
          return call([&] { return fn(root); });
        },
        "repo_path"_a);
  };
  const auto on_files = [call](std::function<Json(const quarrix::pipeline::PathList&)> fn) {
    return nb::cpp_function(
        [fn = std::move(fn), call](nb::handle files) {
          const auto paths = quarrix::py::path_list_arg(files, "files", true);
          return call([&] { return fn(paths); });
        },
        "files"_a);
  };
  nb::object library = on_root(p.detect_library_name);
  nb::object standard = nb::cpp_function(
      [fn = p.detect_vhdl_standard, call](nb::handle files, nb::handle library_name) {
        const auto paths = quarrix::py::path_list_arg(files, "files", true);
        const Json lib = quarrix::py::to_json(library_name, "library");
        nb::object pair = call([&] { return fn(paths, lib); });
        return nb::steal<nb::tuple>(PySequence_Tuple(pair.ptr()));
      },
      "files"_a, "library"_a);
  nb::object vendor = on_files(p.detect_vendor_deps);
  nb::object tests = on_root(p.detect_test_infrastructure);
  nb::object badges = nb::cpp_function(
      [fn = p.compute_badges](nb::handle verified, nb::handle test_info) {
        return from_json(fn(Json(quarrix::py::truth_of(verified)), quarrix::py::to_json(test_info, "test_info")));
      },
      "verified"_a, "test_info"_a);
  nb::object verilog = on_files(p.verify_verilog);
  // The check a scan makes: the unit named to the tool as its top.
  nb::object verilog_unit = nb::cpp_function(
      [fn = p.verify_verilog_unit, call](nb::handle files, nb::handle name) {
        const auto paths = quarrix::py::path_list_arg(files, "files", true);
        const std::string unit = quarrix::py::str_arg(name, "name");
        return call([&] { return fn(paths, unit); });
      },
      "files"_a, "name"_a);
  return nb::module_::import_("quarrix_core.ip_scanner")
      .attr("ScanProbes")(library, standard, vendor, tests, badges, verilog, "_verify_verilog_unit"_a = verilog_unit,
                          "_native"_a = quarrix::py::native_probes_capsule(p));
}

// The probes that read the repository alone.
void bind_repository_probes(nb::module_& m) {
  m.def(
      "detect_library_name",
      [](nb::handle repo_path) {
        const std::string root = path_arg(repo_path, "repo_path");
        nb::gil_scoped_release release;
        return quarrix::probes::detect_library_name(root);
      },
      nb::sig("def detect_library_name(repo_path: " QUARRIX_PY_PATH ") -> str"), "repo_path"_a,
      "The library through which the repository's own VHDL packages are used, else 'work'.");

  m.def(
      "detect_vhdl_standard",
      [](nb::handle files, nb::handle library) {
        const auto paths = quarrix::py::path_list_arg(files, "files", true);
        const std::string lib = quarrix::py::str_arg(library, "library");
        nb::gil_scoped_release release;
        quarrix::probes::ToolSession session(limits_from_environment());
        return quarrix::probes::detect_vhdl_standard(paths, lib, session);
      },
      nb::sig("def detect_vhdl_standard(files: " QUARRIX_PY_PATH_SEQUENCE ", library: str) -> tuple[str, bool]"),
      "files"_a, "library"_a,
      "(standard, verified) from analysing the VHDL files with GHDL; ('unknown', False) without GHDL.");

  m.def(
      "detect_vendor_deps",
      [](nb::handle files) {
        const auto paths = quarrix::py::path_list_arg(files, "files", true);
        nb::gil_scoped_release release;
        return quarrix::probes::detect_vendor_deps(paths);
      },
      nb::sig("def detect_vendor_deps(files: " QUARRIX_PY_PATH_SEQUENCE ") -> list[str]"), "files"_a,
      "Sorted names of the vendor libraries the sources use.");

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
      nb::sig("def detect_test_infrastructure(repo_path: " QUARRIX_PY_PATH ") -> " QUARRIX_PY_JSON_MAP), "repo_path"_a,
      "Map of the repository's test facilities and CI services.");

  m.def(
      "compute_badges",
      [](nb::handle verified, nb::handle test_info) {
        return quarrix::probes::compute_badges(quarrix::py::truth_of(verified),
                                               quarrix::py::to_json(test_info, "test_info"));
      },
      nb::sig("def compute_badges(verified: bool, test_info: " QUARRIX_PY_JSON_MAP ") -> list[str]"), "verified"_a,
      "test_info"_a, "Badges from the verification result and the test facilities.");
}

// The probes that run GHDL, Verilator or Icarus, and whether they are sandboxed.
void bind_tool_probes(nb::module_& m) {
  m.def(
      "verify_verilog",
      [](nb::handle files) {
        const auto paths = quarrix::py::path_list_arg(files, "files", true);
        nb::gil_scoped_release release;
        quarrix::probes::ToolSession session(limits_from_environment());
        return quarrix::probes::verify_verilog(paths, session);
      },
      nb::sig("def verify_verilog(files: " QUARRIX_PY_PATH_SEQUENCE ") -> bool"), "files"_a,
      "Whether Verilator (else Icarus Verilog) accepts the Verilog/SystemVerilog files.");

  m.def(
      "sandboxed",
      [] {
        nb::gil_scoped_release release;
        return quarrix::probes::sandbox_program().has_value();
      },
      "Whether tool runs are sandboxed here (bwrap on PATH can confine them): the repository read-only,\n"
      "a scratch directory writable, nothing else of the machine. Without it, a check that may read\n"
      "a file outside the repository is not run.");
}

// The built-in probes of one scan.
void bind_default_probes(nb::module_& m) {
  m.def(
      "default_probes",
      [](bool verify, double tool_budget, double tool_memory, nb::handle cache_dir, bool cache) {
        if (!(tool_budget >= 0) || !std::isfinite(tool_budget))
          throw nb::value_error("tool_budget must be a finite number of seconds >= 0");
        if (!(tool_memory >= 1) || !std::isfinite(tool_memory))
          throw nb::value_error("tool_memory must be a finite number of bytes >= 1");
        using quarrix::probes::ToolCache;
        const std::string cache_path =
            cache_dir.is_none() ? ToolCache::default_path()
                                : quarrix::util::join_path(path_arg(cache_dir, "cache_dir"), ToolCache::kFileName);
        quarrix::probes::ToolLimits limits = limits_from_environment();
        limits.budget = std::chrono::milliseconds(static_cast<long long>(tool_budget * 1000));
        limits.memory_bytes = static_cast<std::uint64_t>(tool_memory);
        std::shared_ptr<quarrix::probes::ToolSession> session;
        if (verify)
          session = std::make_shared<quarrix::probes::ToolSession>(
              limits, cache ? std::make_shared<ToolCache>(cache_path) : nullptr);
        return probes_object(quarrix::pipeline::default_probes(std::move(session)));
      },
      nb::sig(("def default_probes(*, verify: bool = True, tool_budget: float = " +
               quarrix::py::py_literal(kDefaultToolBudget) +
               ", tool_memory: float = " + quarrix::py::py_literal(kDefaultToolMemory) +
               ", cache_dir: " QUARRIX_PY_PATH
               " | None = None, cache: bool = True) -> quarrix_core.ip_scanner.ScanProbes")
                  .c_str()),
      nb::kw_only(), "verify"_a = true, "tool_budget"_a = kDefaultToolBudget, "tool_memory"_a = kDefaultToolMemory,
      "cache_dir"_a.none() = nb::none(), "cache"_a = true,
      "A quarrix_core.ip_scanner.ScanProbes holding the built-in probes for one scan: its tool runs share a\n"
      "budget of tool_budget seconds, each may use tool_memory bytes of address space, and a command\n"
      "repeated within the scan runs once. verify=False runs no tool. Tool results are kept between\n"
      "scans in cache_dir/tools.sqlite (None: $XDG_CACHE_HOME/quarrix, else ~/.cache/quarrix);\n"
      "cache=False keeps none. A cache that cannot be used is left aside without failing the scan.");
}

}  // namespace

NB_MODULE(probes, m) {
  quarrix::py::register_core_errors();
  m.doc() = "Built-in tool probes: GHDL, Verilator or Icarus Verilog, vendor libraries, test facilities.";

  bind_repository_probes(m);
  bind_tool_probes(m);
  bind_default_probes(m);
}
