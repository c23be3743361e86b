#include "quarrix/pipeline/default_probes.hpp"

#include "quarrix/probes/badges.hpp"
#include "quarrix/probes/library_name.hpp"
#include "quarrix/probes/test_infrastructure.hpp"
#include "quarrix/probes/tool_run.hpp"
#include "quarrix/probes/vendor_deps.hpp"
#include "quarrix/probes/verilog_verify.hpp"
#include "quarrix/probes/vhdl_standard.hpp"

namespace quarrix::pipeline {

namespace {

// A library name that is not a string analyses into "work".
std::string library_name(const Json& library) {
  return library.is_string() ? library.get<std::string>() : std::string("work");
}

}  // namespace

ScanProbes default_probes(std::shared_ptr<probes::ToolSession> tools) {
  ScanProbes out;
  out.detect_library_name = [](const std::string& root) { return Json(probes::detect_library_name(root)); };
  out.detect_vhdl_standard = [tools](const PathList& files, const Json& library) {
    if (!tools) return Json::array({"unknown", false});
    const auto [standard, verified] = probes::detect_vhdl_standard(files, library_name(library), *tools);
    return Json::array({standard, verified});
  };
  auto vendor_deps = std::make_shared<probes::VendorDepsMemo>();
  out.detect_vendor_deps = [vendor_deps](const PathList& files) { return Json(vendor_deps->detect(files)); };
  out.detect_vendor_deps_in_file = [vendor_deps](const std::string& file) { return Json(vendor_deps->detect({file})); };
  out.detect_test_infrastructure = [](const std::string& root) { return probes::detect_test_infrastructure(root); };
  out.compute_badges = [](const Json& verified, const Json& test_info) {
    return Json(probes::compute_badges(verified, test_info));
  };
  out.verify_verilog = [tools](const PathList& files) { return Json(tools && probes::verify_verilog(files, *tools)); };
  out.verify_verilog_unit = [tools](const PathList& files, const std::string& name) {
    return Json(tools && probes::verify_verilog(files, *tools, name));
  };
  if (tools)
    out.check_ahead = [tools](const ToolCheck& check) {
      if (check.library)
        probes::detect_vhdl_standard(check.files, library_name(*check.library), *tools);
      else
        probes::verify_verilog(check.files, *tools, check.top);
    };
  out.can_run_checks = [tools] {
    return tools &&
           (probes::find_on_path("ghdl") || probes::find_on_path("verilator") || probes::find_on_path("iverilog"));
  };
  return out;
}

ScanProbes default_probes() { return default_probes(std::make_shared<probes::ToolSession>()); }

}  // namespace quarrix::pipeline
