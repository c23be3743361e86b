#include "prefetch.hpp"

#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "quarrix/probes/verilog_verify.hpp"
#include "quarrix/probes/vhdl_standard.hpp"
#include "quarrix/util/file.hpp"

namespace quarrix::cli {

namespace {

struct Check {
  pipeline::PathList files;
  std::optional<std::string> library;  // set: a VHDL standard check; unset: a Verilog check
  std::optional<std::string> top;      // of a Verilog check: the unit named to the tool
};

// The checks a scan asks for, from a pass with probes that only record them.
std::vector<Check> recorded_checks(const std::string& repo, pipeline::ScanOptions options,
                                   const pipeline::ScanProbes& real, const pipeline::ScanContext& context) {
  std::vector<Check> checks;
  pipeline::ScanProbes recorder;
  recorder.detect_library_name = real.detect_library_name;
  recorder.detect_test_infrastructure = [](const std::string&) { return Json::object(); };
  recorder.detect_vendor_deps = [](const pipeline::PathList&) { return Json::array(); };
  recorder.compute_badges = [](const Json&, const Json&) { return Json::array(); };
  recorder.detect_vhdl_standard = [&checks](const pipeline::PathList& files, const Json& library) {
    checks.push_back({files, library.is_string() ? library.get<std::string>() : std::string("work")});
    return Json::array({"unknown", false});
  };
  recorder.verify_verilog = [&checks](const pipeline::PathList& files) {
    checks.push_back({files, std::nullopt, std::nullopt});
    return Json(false);
  };
  if (real.verify_verilog_unit)
    recorder.verify_verilog_unit = [&checks](const pipeline::PathList& files, const std::string& name) {
      checks.push_back({files, std::nullopt, name});
      return Json(false);
    };
  options.use_llm = false;
  options.granularity = pipeline::kEveryUnitGranularity;
  options.progress = nullptr;
  options.on_unit = nullptr;
  options.on_left_out = nullptr;  // the scan proper reports them
  pipeline::scan_repo_rows(repo, "prefetch", "", "", "", recorder, options, context, [](Json&&) {});
  return checks;
}

}  // namespace

void prefetch_tool_checks(const std::string& repo, pipeline::ScanOptions options, const pipeline::ScanProbes& real,
                          const pipeline::ScanContext& context, probes::ToolSession& tools, unsigned jobs) {
  if (real.can_run_checks && !real.can_run_checks()) return;  // no tool: nothing to run ahead
  const std::vector<std::string> dependencies = pipeline::dependency_dirs(options);
  const std::vector<Check> checks = recorded_checks(repo, std::move(options), real, context);
  std::atomic<std::size_t> next{0};
  std::mutex failure_mutex;
  std::exception_ptr failure;
  const auto worker = [&] {
    // Under the scan's own confinement: what a check reads to key the cache
    // or choose include directories stays inside the repository (and its
    // dependencies) on every thread.
    const util::ReadConfinement confinement(repo, dependencies);
    for (std::size_t i; (i = next++) < checks.size();) {
      try {
        if (checks[i].library)
          probes::detect_vhdl_standard(checks[i].files, *checks[i].library, tools);
        else
          probes::verify_verilog(checks[i].files, tools, checks[i].top);
      } catch (...) {
        const std::lock_guard<std::mutex> lock(failure_mutex);
        if (!failure) failure = std::current_exception();
      }
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < jobs && t < checks.size(); ++t) pool.emplace_back(worker);
  worker();
  for (std::thread& thread : pool) thread.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace quarrix::cli
