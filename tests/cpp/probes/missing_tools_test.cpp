#include "quarrix/probes/missing_tools.hpp"

#include <gtest/gtest.h>

#include "probes/scoped_env.hpp"

namespace {

using quarrix::testing::ScopedEnv;
using quarrix::testing::TempRepo;
using quarrix::testing::write_tool;

TEST(MissingToolsNote, NamesWhatIsMissingAndWhatFollows) {
  struct Case {
    std::vector<const char*> present;
    std::string note;
  };
  for (const auto& c : std::vector<Case>{
           {{"ghdl", "verilator", "iverilog"}, ""},
           {{"ghdl", "verilator"}, ""},  // Icarus is only the fallback
           {{"verilator", "iverilog"}, "ghdl is not on PATH: VHDL rows stay unverified"},
           {{"ghdl"}, "verilator and iverilog are not on PATH: Verilog rows stay unverified"},
           {{}, "ghdl, verilator and iverilog are not on PATH: VHDL and Verilog rows stay unverified"},
           {{"ghdl", "iverilog"}, "verilator is not on PATH: Verilog is checked with iverilog"},
           {{"iverilog"},
            "ghdl and verilator are not on PATH: VHDL rows stay unverified, "
            "Verilog is checked with iverilog"},
       }) {
    TempRepo bin;
    for (const char* tool : c.present) write_tool(bin, tool, "exit 0\n");
    ScopedEnv path("PATH", bin.path());
    EXPECT_EQ(quarrix::probes::missing_tools_note(), c.note) << c.present.size();
  }
}

}  // namespace
