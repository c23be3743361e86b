#include "quarrix/probes/default_probes.hpp"

#include "quarrix/probes/badges.hpp"
#include "quarrix/probes/library_name.hpp"
#include "quarrix/probes/test_infrastructure.hpp"
#include "quarrix/probes/vendor_deps.hpp"
#include "quarrix/probes/verilog_verify.hpp"
#include "quarrix/probes/vhdl_standard.hpp"

namespace quarrix::probes {

scan::ScanProbes default_probes(std::shared_ptr<ToolSession> tools) {
  scan::ScanProbes probes;
  probes.detect_library_name = [](const std::string& root) { return Json(detect_library_name(root)); };
  probes.detect_vhdl_standard = [tools](const scan::PathList& files, const Json& library) {
    if (!tools) return Json::array({"unknown", false});
    const auto [standard, verified] =
        detect_vhdl_standard(files, library.is_string() ? library.get<std::string>() : std::string("work"), *tools);
    return Json::array({standard, verified});
  };
  auto vendor_deps = std::make_shared<VendorDepsMemo>();
  probes.detect_vendor_deps = [vendor_deps](const scan::PathList& files) { return Json(vendor_deps->detect(files)); };
  probes.detect_test_infrastructure = [](const std::string& root) { return detect_test_infrastructure(root); };
  probes.compute_badges = [](const Json& verified, const Json& test_info) {
    return Json(compute_badges(verified, test_info));
  };
  probes.verify_verilog = [tools](const scan::PathList& files) { return Json(tools && verify_verilog(files, *tools)); };
  return probes;
}

scan::ScanProbes default_probes() { return default_probes(std::make_shared<ToolSession>()); }

}  // namespace quarrix::probes
