#pragma once
// What a repository uses to test its designs.

#include <string>

#include <quarrix/util/json.hpp>

namespace quarrix::probes {

// A map with these keys, in this order:
//   "cocotb"        Python tests importing cocotb, or makefiles using cocotb-config
//   "vunit"         Python run scripts importing vunit, or VHDL using vunit_lib
//   "uvm"           SystemVerilog importing uvm_pkg or including uvm_macros.svh
//   "verilator_cpp" C++ test benches including verilated.h
//   "fusesoc"       FuseSoC core description files (*.core starting "CAPI=")
//   "ci"            list of the CI services configured: "github-actions",
//                   "gitlab-ci", "travis", "azure-pipelines", "circleci",
//                   "jenkins", "appveyor" (in that order)
// The first five are booleans. The walk skips .git, does not follow links to
// directories and reads only regular files of at most 4 MiB.
Json detect_test_infrastructure(const std::string& repo_path);

}  // namespace quarrix::probes
