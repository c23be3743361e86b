#include "quarrix/probes/test_infrastructure.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "quarrix/probes/badges.hpp"
#include "support/temp_repo.hpp"

namespace {

using quarrix::Json;
using quarrix::probes::compute_badges;
using quarrix::probes::detect_test_infrastructure;
using quarrix::testing::TempRepo;

Json info(bool cocotb, bool vunit, bool uvm, bool verilator, bool fusesoc, Json ci) {
  return Json{{"cocotb", cocotb},           {"vunit", vunit},     {"uvm", uvm},
              {"verilator_cpp", verilator}, {"fusesoc", fusesoc}, {"ci", ci}};
}

TEST(DetectTestInfrastructure, EmptyRepositoryHasNothing) {
  TempRepo repo;
  EXPECT_EQ(detect_test_infrastructure(repo.path()), info(false, false, false, false, false, Json::array()));
  EXPECT_EQ(detect_test_infrastructure("/nonexistent/repo"), info(false, false, false, false, false, Json::array()));
}

TEST(DetectTestInfrastructure, FindsEachFacility) {
  TempRepo repo;
  repo.write("tests/test_fifo.py", "import cocotb\nfrom cocotb.triggers import Timer\n");
  repo.write("sim/run.py", "from vunit import VUnit\n");
  repo.write("dv/env.sv", "import uvm_pkg::*;\n");
  repo.write("verif/main.cpp", "#include \"verilated.h\"\n");
  repo.write("fifo.core", "\nCAPI=2:\nname: x:y:fifo\n");
  repo.write(".github/workflows/ci.yml", "on: push\n");
  repo.write(".gitlab-ci.yml", "x: 1\n");
  repo.write("Jenkinsfile", "pipeline {}\n");
  EXPECT_EQ(detect_test_infrastructure(repo.path()),
            info(true, true, true, true, true, Json{"github-actions", "gitlab-ci", "jenkins"}));
}

TEST(DetectTestInfrastructure, AlternativeSignsAndNearMisses) {
  TempRepo repo;
  repo.write("tb/Makefile", "include $(shell cocotb-config --makefiles)/Makefile.sim\n");
  repo.write("tb/tb.vhd", "library VUNIT_LIB;\ncontext vunit_lib.vunit_context;\n");
  repo.write("old.core", "[main]\nname = x\n");     // not a CAPI=2 description
  repo.write("docs/.travis.yml", "language: c\n");  // CI files count at the root only
  repo.write(".github/workflows/sub/x.yml", "on: push\n");
  repo.write(".git/hooks/test.py", "import cocotb\n");  // never read
  EXPECT_EQ(detect_test_infrastructure(repo.path()), info(true, true, false, false, false, Json::array()));
}

TEST(DetectTestInfrastructure, DoesNotFollowDirectoryLinks) {
  TempRepo repo, outside;
  outside.write("t.py", "import cocotb\n");
  std::filesystem::create_directory_symlink(outside.path(), repo.at("linked"));
  EXPECT_FALSE(detect_test_infrastructure(repo.path())["cocotb"].get<bool>());
}

TEST(ComputeBadges, VerifiedFirstThenFacilitiesInOrder) {
  struct Case {
    Json verified;
    Json test_info;
    std::vector<std::string> badges;
  };
  const std::vector<Case> cases = {
      {true, info(false, false, false, false, false, Json::array()), {"verified"}},
      {false, info(true, false, true, true, true, Json{"travis"}), {"cocotb", "uvm", "verilator", "fusesoc", "ci"}},
      {true, info(false, true, false, false, false, Json::array()), {"verified", "vunit"}},
      {1, Json::object(), {"verified"}},
      {nullptr, Json{"not", "a", "map"}, {}},
      {"", Json{{"cocotb", 0}, {"ci", ""}}, {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(compute_badges(c.verified, c.test_info), c.badges) << c.verified.dump() << " " << c.test_info.dump();
}

}  // namespace
