// Tool checks run ahead of the units: every check a unit will ask, on several
// threads, each confined as the scan is; the rows are those of one thread.

#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <thread>

#include "quarrix/pipeline/scan.hpp"
#include "quarrix/util/file.hpp"
#include "support/temp_repo.hpp"

using namespace quarrix;

namespace {

struct AheadLog {
  std::mutex mutex;
  std::set<std::thread::id> threads;
  std::multiset<std::string> checks;  // "<top or library>:<files>"
  bool confined = true;
  std::vector<pipeline::ScanStage> stages;
};

pipeline::ScanProbes probes_with_ahead(AheadLog& log) {
  pipeline::ScanProbes p;
  p.detect_library_name = [](const std::string&) { return Json("work"); };
  p.detect_vhdl_standard = [](const pipeline::PathList&, const Json&) { return Json::array({"unknown", false}); };
  p.detect_vendor_deps = [](const pipeline::PathList&) { return Json::array(); };
  p.detect_test_infrastructure = [](const std::string&) { return Json::object(); };
  p.compute_badges = [](const Json&, const Json&) { return Json::array(); };
  p.verify_verilog = [](const pipeline::PathList&) { return Json(false); };
  p.verify_verilog_unit = [](const pipeline::PathList& files, const std::string&) { return Json(files.size() > 1); };
  p.check_ahead = [&log](const pipeline::ToolCheck& check) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // long enough for the others to start
    const std::lock_guard<std::mutex> lock(log.mutex);
    log.threads.insert(std::this_thread::get_id());
    log.confined = log.confined && util::read_confinement_roots().has_value();
    log.checks.insert((check.library ? check.library->get<std::string>() : check.top.value_or("-")) + ":" +
                      std::to_string(check.files.size()));
  };
  return p;
}

Json rows_of(const std::string& repo, const pipeline::ScanProbes& probes, unsigned jobs, AheadLog& log) {
  pipeline::ScanOptions options;
  options.use_llm = false;
  options.granularity = "all";
  options.jobs = jobs;
  options.on_stage = [&log](pipeline::ScanStage stage) { log.stages.push_back(stage); };
  pipeline::Scan scan(repo, {"ns", "", "", ""}, probes, options, pipeline::ScanContext::from_environment());
  Json rows = Json::array();
  scan.run([&rows](Json&& row) { rows.push_back(std::move(row)); });
  return rows;
}

TEST(ChecksAhead, EveryCheckOfTheUnitsRunsConfinedOnSeveralThreads) {
  quarrix::testing::TempRepo dir;
  dir.write("rtl/leaf.v", "module leaf(input a); endmodule\n");
  dir.write("rtl/core.v", "module core(input a); leaf u(.a(a)); endmodule\n");
  dir.write("rtl/other.v", "module other(input a); endmodule\n");
  dir.write("rtl/gate.vhd", "entity gate is end entity;\narchitecture rtl of gate is begin end architecture;\n");

  AheadLog one, three;
  const Json alone = rows_of(dir.path(), probes_with_ahead(one), 1, one);
  const Json ahead = rows_of(dir.path(), probes_with_ahead(three), 3, three);
  EXPECT_EQ(alone, ahead);
  EXPECT_TRUE(one.checks.empty());  // one job: the units ask their checks themselves
  EXPECT_EQ(one.stages, std::vector<pipeline::ScanStage>{pipeline::ScanStage::kUnits});
  EXPECT_EQ(three.stages,
            (std::vector<pipeline::ScanStage>{pipeline::ScanStage::kChecksAhead, pipeline::ScanStage::kUnits}));
  // A standard check of every unit, a named Verilog check of each module.
  EXPECT_EQ(three.checks,
            (std::multiset<std::string>{"work:1", "work:1", "work:1", "work:2", "leaf:1", "other:1", "core:2"}));
  EXPECT_GT(three.threads.size(), 1u);
  EXPECT_TRUE(three.confined);
}

TEST(ChecksAhead, AFailingCheckFailsTheScanOnceAllAreDone) {
  quarrix::testing::TempRepo dir;
  dir.write("rtl/a.v", "module a(input x); endmodule\n");
  dir.write("rtl/b.v", "module b(input x); endmodule\n");
  AheadLog log;
  pipeline::ScanProbes probes = probes_with_ahead(log);
  probes.check_ahead = [](const pipeline::ToolCheck&) { throw std::runtime_error("tool went away"); };
  EXPECT_THROW(rows_of(dir.path(), probes, 2, log), std::runtime_error);
}

}  // namespace
