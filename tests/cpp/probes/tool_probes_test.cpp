#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "probes/scoped_env.hpp"
#include "quarrix/pipeline/default_probes.hpp"
#include "quarrix/probes/tool_run.hpp"
#include "quarrix/probes/verilog_verify.hpp"
#include "quarrix/probes/vhdl_standard.hpp"

namespace {

using quarrix::Json;
using quarrix::probes::detect_vhdl_standard;
using quarrix::probes::find_on_path;
using quarrix::probes::verify_verilog;
using quarrix::testing::ScopedEnv;
using quarrix::testing::TempRepo;
using quarrix::testing::write_tool;

using Standard = std::pair<std::string, bool>;

std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Sources shared by the tests.
struct Sources {
  TempRepo repo;
  Sources() {
    repo.write("pkg.vhd", "package p is\n  constant W : natural := 8;\nend package;\n");
    repo.write("use_lib.vhd",
               "library mylib;\nuse mylib.p.all;\nentity e is\n  port (x : out bit_vector(W - 1 downto 0));\nend;\n"
               "architecture a of e is begin x <= (others => '0'); end;\n");
    // "force" is reserved from VHDL-2008 on.
    repo.write("old.vhd", "entity o is end;\narchitecture a of o is\n  signal force : bit;\nbegin\nend;\n");
    repo.write("counter.vhd",
               "library ieee;\nuse ieee.std_logic_1164.all;\nuse ieee.std_logic_unsigned.all;\n"
               "entity counter is\n  port (clk : in std_logic; q : buffer std_logic_vector(3 downto 0));\nend;\n"
               "architecture a of counter is\nbegin\n  q <= q + 1 when rising_edge(clk);\nend;\n");
    repo.write("broken.vhd", "entity b is\n  port (x : in nonexistent_type);\nend;\n");
    repo.write("inc/defs.vh", "`define WIDTH 8\n");
    repo.write("rtl/leaf.v",
               "module leaf(input clk, output reg [`WIDTH-1:0] q);\n"
               "  always @(posedge clk) q <= #1 q + 1'b1;\nendmodule\n");
    repo.write("rtl/top.sv",
               "module top(input logic clk);\n  logic [7:0] q;\n  leaf u(.clk(clk), .q(q));\nendmodule\n");
    repo.write("rtl/uses_missing.v", "module m(input clk);\n  not_here u(.clk(clk));\nendmodule\n");
    repo.write("rtl/includes.v",
               "`include \"defs.vh\"\nmodule i(output [`WIDTH-1:0] y);\n  assign y = 0;\nendmodule\n");
    // A fragment only valid inside a module body, and a header under a top-level include/.
    repo.write("inc/body.vh", "`define ONE 1\nfunction [7:0] twice(input [7:0] a);\n  twice = a * 2;\nendfunction\n");
    repo.write("include/lib/width.svh", "`define W2 8\n");
    repo.write("rtl/fragment_user.v",
               "`include \"lib/width.svh\"\nmodule f(output [`W2-1:0] y);\n"
               "  `include \"body.vh\"\n  assign y = twice(`ONE);\nendmodule\n");
  }
  std::string at(const char* rel) const { return repo.at(rel).string(); }
};

TEST(ToolProbes, WithoutToolsNothingIsVerified) {
  Sources s;
  TempRepo empty_bin;
  ScopedEnv path("PATH", empty_bin.path());
  EXPECT_EQ(detect_vhdl_standard({s.at("pkg.vhd")}, "work"), Standard("unknown", false));
  EXPECT_FALSE(verify_verilog({s.at("rtl/leaf.v")}));
  // The probes as the driver sees them.
  const auto probes = quarrix::pipeline::default_probes();
  EXPECT_EQ(probes.detect_vhdl_standard({s.at("pkg.vhd")}, Json("work")), Json::array({"unknown", false}));
  EXPECT_EQ(probes.verify_verilog({s.at("rtl/leaf.v")}), Json(false));
}

TEST(ToolProbes, ListsWithoutTheirLanguageAreNotRun) {
  Sources s;
  TempRepo bin;
  const std::string log = bin.at("calls").string();
  for (const char* tool : {"ghdl", "verilator", "iverilog"})
    write_tool(bin, tool, "echo $0 >> '" + log + "'\nexit 0\n");
  ScopedEnv path("PATH", bin.path());
  EXPECT_EQ(detect_vhdl_standard({s.at("rtl/leaf.v"), s.at("inc/defs.vh")}, "work"), Standard("unknown", false));
  EXPECT_FALSE(verify_verilog({s.at("pkg.vhd")}));
  EXPECT_FALSE(verify_verilog({}));
  EXPECT_FALSE(std::filesystem::exists(log));
}

TEST(ToolProbes, GhdlArgumentVector) {
  Sources s;
  TempRepo bin;
  const std::string log = bin.at("calls").string();
  // Fails the first (VHDL-2008) analysis, passes the second.
  write_tool(bin, "ghdl",
             "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >> '" + log + "'\npwd >> '" + log +
                 "'\ncase \"$2\" in --std=08) exit 1;; esac\nexit 0\n");
  ScopedEnv path("PATH", bin.path());
  const auto result = detect_vhdl_standard({s.at("inc/defs.vh"), s.at("pkg.vhd"), s.at("use_lib.vhd")}, "mylib");
  EXPECT_EQ(result, Standard("vhdl-93", true));

  std::istringstream lines(slurp(log));
  std::vector<std::string> args;
  for (std::string line; std::getline(lines, line);) args.push_back(line);
  ASSERT_EQ(args.size(), 14u);
  for (std::size_t run = 0; run < 2; ++run) {
    const auto* a = &args[run * 7];
    EXPECT_EQ(a[0], "-a");
    EXPECT_EQ(a[1], run == 0 ? "--std=08" : "--std=93");
    EXPECT_EQ(a[2], "--workdir=.");
    EXPECT_EQ(a[3], "--work=mylib");
    EXPECT_EQ(a[4], s.at("pkg.vhd"));  // VHDL files only, in order, absolute
    EXPECT_EQ(a[5], s.at("use_lib.vhd"));
  }
  EXPECT_NE(args[6], args[13]);                    // run in a fresh work directory per standard
  EXPECT_FALSE(std::filesystem::exists(args[6]));  // and removed afterwards
}

TEST(ToolProbes, GhdlRelaxedAfterBothStrictStandardsFail) {
  Sources s;
  TempRepo bin;
  const std::string log = bin.at("calls").string();
  // Accepts only a relaxed analysis ("-frelaxed" after the library option).
  write_tool(bin, "ghdl", "echo \"$2 $5\" >> '" + log + "'\n[ \"$5\" = -frelaxed ]\n");
  ScopedEnv path("PATH", bin.path());
  EXPECT_EQ(detect_vhdl_standard({s.at("pkg.vhd")}, "work"), Standard("vhdl-2008", true));
  EXPECT_EQ(slurp(log), "--std=08 " + s.at("pkg.vhd") + "\n--std=93 " + s.at("pkg.vhd") + "\n--std=08 -frelaxed\n");
}

TEST(ToolProbes, GhdlSynopsysPackagesOnlyOnceAskedFor) {
  Sources s;
  TempRepo bin;
  const std::string log = bin.at("calls").string();
  // Asks for -fsynopsys while it is missing; then accepts only VHDL-93.
  write_tool(bin, "ghdl",
             "echo \"$2 $5\" >> '" + log +
                 "'\ncase \" $* \" in *' -fsynopsys -fexplicit '*) [ \"$2\" = --std=93 ];; *)\n"
                 "echo 'counter.vhd:3:10: use of synopsys package \"std_logic_unsigned\" needs the -fsynopsys option' "
                 ">&2; exit 1;; esac\n");
  ScopedEnv path("PATH", bin.path());
  EXPECT_EQ(detect_vhdl_standard({s.at("counter.vhd")}, "work"), Standard("vhdl-93", true));
  EXPECT_EQ(slurp(log), "--std=08 " + s.at("counter.vhd") + "\n--std=08 -fsynopsys\n--std=93 -fsynopsys\n");
}

TEST(ToolProbes, LibraryThatIsNoIdentifierAnalysesIntoWork) {
  Sources s;
  TempRepo bin;
  const std::string log = bin.at("calls").string();
  write_tool(bin, "ghdl", "echo \"$4\" >> '" + log + "'\nexit 0\n");
  ScopedEnv path("PATH", bin.path());
  EXPECT_EQ(detect_vhdl_standard({s.at("pkg.vhd")}, "--help"), Standard("vhdl-2008", true));
  EXPECT_EQ(detect_vhdl_standard({s.at("pkg.vhd")}, "a b"), Standard("vhdl-2008", true));
  EXPECT_EQ(slurp(log), "--work=work\n--work=work\n");
}

TEST(ToolProbes, HangingToolIsCutOffAndNotVerified) {
  Sources s;
  TempRepo bin;
  for (const char* tool : {"ghdl", "verilator"}) write_tool(bin, tool, "exec sleep 30\n");
  ScopedEnv path("PATH", bin.path());
  ScopedEnv timeout("QUARRIX_TOOL_TIMEOUT", "0.3");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(detect_vhdl_standard({s.at("pkg.vhd")}, "work"), Standard("unknown", false));
  EXPECT_FALSE(verify_verilog({s.at("rtl/leaf.v")}));
  // One cut-off analysis each (no retry with the next standard), plus
  // Verilator's version query.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST(ToolProbes, OneScanRunsEachCommandOnceAndStopsAtItsBudget) {
  Sources s;
  TempRepo bin;
  const std::string log = bin.at("calls").string();
  write_tool(bin, "ghdl", "echo ghdl \"$2\" >> '" + log + "'\nexit 0\n");
  write_tool(bin, "verilator",
             "echo verilator \"$1\" >> '" + log + "'\n[ \"$1\" = --version ] && echo 'Verilator 5.006'\nexit 0\n");
  ScopedEnv path("PATH", bin.path());
  const std::vector<std::string> vhdl{s.at("pkg.vhd")}, verilog{s.at("rtl/leaf.v")};

  auto session = std::make_shared<quarrix::probes::ToolSession>();
  const auto probes = quarrix::pipeline::default_probes(session);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(probes.detect_vhdl_standard(vhdl, Json("work")), Json::array({"vhdl-2008", true}));
    EXPECT_EQ(probes.verify_verilog(verilog), Json(true));
  }
  EXPECT_EQ(slurp(log), "ghdl --std=08\nverilator --version\nverilator --lint-only\n");
  EXPECT_EQ(session->runs_skipped(), 0u);

  // No budget: each check counts once as skipped, and nothing runs.
  std::filesystem::remove(log);
  auto spent =
      std::make_shared<quarrix::probes::ToolSession>(quarrix::probes::ToolLimits{std::chrono::milliseconds(0)});
  const auto starved = quarrix::pipeline::default_probes(spent);
  EXPECT_EQ(starved.detect_vhdl_standard(vhdl, Json("work")), Json::array({"unknown", false}));
  EXPECT_EQ(starved.verify_verilog({s.at("rtl/top.sv")}), Json(false));
  EXPECT_EQ(spent->runs_skipped(), 2u);
  // Without a session no tool runs at all.
  const auto unverified = quarrix::pipeline::default_probes(nullptr);
  EXPECT_EQ(unverified.detect_vhdl_standard(vhdl, Json("work")), Json::array({"unknown", false}));
  EXPECT_EQ(unverified.verify_verilog(verilog), Json(false));
  EXPECT_FALSE(std::filesystem::exists(log));
}

TEST(ToolProbes, RealGhdl) {
  if (!find_on_path("ghdl")) GTEST_SKIP() << "ghdl is not installed";
  Sources s;
  EXPECT_EQ(detect_vhdl_standard({s.at("pkg.vhd"), s.at("use_lib.vhd")}, "mylib"), Standard("vhdl-2008", true));
  // Analysed into another library, the package still goes where its user names it.
  EXPECT_EQ(detect_vhdl_standard({s.at("pkg.vhd"), s.at("use_lib.vhd")}, "work"), Standard("vhdl-2008", true));
  EXPECT_EQ(detect_vhdl_standard({s.at("old.vhd")}, "work"), Standard("vhdl-93", true));
  EXPECT_EQ(detect_vhdl_standard({s.at("broken.vhd")}, "work"), Standard("unknown", false));
  EXPECT_EQ(detect_vhdl_standard({s.at("counter.vhd")}, "work"), Standard("vhdl-2008", true));
  // Order matters: the package must come first.
  EXPECT_EQ(detect_vhdl_standard({s.at("use_lib.vhd"), s.at("pkg.vhd")}, "mylib"), Standard("unknown", false));
}

// A library per directory (hdl-modules): a package of "math" used by a
// package of "common" through `work.` and by name, an entity of "fifo"
// instantiated as fifo.fifo, the top in the scan's library.
TEST(ToolProbes, RealGhdlAnalysesEachLibraryItsUsersName) {
  if (!find_on_path("ghdl")) GTEST_SKIP() << "ghdl is not installed";
  TempRepo repo;
  repo.write("math/math_pkg.vhd", "package math_pkg is\n  constant K : natural := 2;\nend package;\n");
  repo.write("math/widths_pkg.vhd",
             "use work.math_pkg.all;\npackage widths_pkg is\n  constant W : natural := 4 * K;\n"
             "  function twice(n : natural) return natural;\nend package;\n");
  // A body in a file of its own goes into its package's library.
  repo.write("math/widths_body.vhd",
             "package body widths_pkg is\n  function twice(n : natural) return natural is begin return 2 * n; end;\n"
             "end package body;\n");
  repo.write(
      "fifo/fifo.vhd",
      "library math;\nuse math.widths_pkg.all;\nentity fifo is\n  port (d : in bit_vector(W - 1 downto 0));\nend;\n"
      "architecture a of fifo is begin end;\n");
  repo.write("top.vhd",
             "library fifo;\nentity top is end;\narchitecture a of top is\n  signal d : bit_vector(7 downto 0);\n"
             "begin\n  u : entity fifo.fifo port map (d => d);\nend;\n");
  const std::vector<std::string> list{repo.at("math/math_pkg.vhd").string(), repo.at("math/widths_pkg.vhd").string(),
                                      repo.at("math/widths_body.vhd").string(), repo.at("fifo/fifo.vhd").string(),
                                      repo.at("top.vhd").string()};
  EXPECT_EQ(detect_vhdl_standard(list, "work"), Standard("vhdl-2008", true));
  // Without the step that puts it into "math", fifo cannot be analysed.
  EXPECT_EQ(detect_vhdl_standard({list[3], list[4]}, "work"), Standard("unknown", false));
}

TEST(ToolProbes, RealVerilator) {
  if (!find_on_path("verilator")) GTEST_SKIP() << "verilator is not installed";
  Sources s;
  EXPECT_TRUE(verify_verilog({s.at("inc/defs.vh"), s.at("rtl/leaf.v"), s.at("rtl/top.sv")}));
  EXPECT_TRUE(verify_verilog({s.at("inc/defs.vh"), s.at("rtl/includes.v")}));  // `include through -I
  // Included headers of the list reach the tool through their directories, not as sources.
  EXPECT_TRUE(verify_verilog({s.at("inc/body.vh"), s.at("include/lib/width.svh"), s.at("rtl/fragment_user.v")}));
  EXPECT_FALSE(verify_verilog({s.at("rtl/includes.v")}));
  EXPECT_FALSE(verify_verilog({s.at("rtl/uses_missing.v")}));
}

TEST(ToolProbes, TheUnitIsNamedAndIcarusFollowsAFailedVerilator) {
  Sources s;
  TempRepo bin;
  const std::string log = bin.at("calls").string();
  write_tool(
      bin, "verilator",
      "[ \"$1\" = --version ] && echo 'Verilator 5.006' && exit 0\necho verilator \"$@\" >> '" + log + "'\nexit 1\n");
  write_tool(bin, "iverilog", "echo iverilog \"$@\" >> '" + log + "'\nexit 0\n");
  ScopedEnv path("PATH", bin.path());
  quarrix::probes::ToolSession session;
  EXPECT_TRUE(verify_verilog({s.at("rtl/top.sv")}, session, "top"));
  const std::string dir = std::filesystem::path(s.at("rtl/top.sv")).parent_path().string();
  // Icarus preprocesses alone first, then compiles.
  const std::string icarus = "-o /dev/null -g2012 -s top -I" + dir + " " + s.at("rtl/top.sv") + "\n";
  EXPECT_EQ(slurp(log), "verilator --lint-only -Wno-fatal --no-timing --top-module top -I" + dir + " " +
                            s.at("rtl/top.sv") + "\niverilog -E " + icarus + "iverilog " + icarus);
}

// Verilator 4 knows no --no-timing; a build that names no release (from a
// source tree without tags) is a current one and needs it.
TEST(ToolProbes, TheTimingOptionFollowsTheVersionLine) {
  Sources s;
  for (const auto& [version, timing] :
       std::vector<std::pair<std::string, bool>>{{"Verilator 4.228 2022-10-15", false},
                                                 {"Verilator 5.006 2023-01-22 rev (Debian 5.006-3)", true},
                                                 {" rev vUNKNOWN-built20260516-4e853d8", true}}) {
    TempRepo bin;
    const std::string log = bin.at("calls").string();
    write_tool(bin, "verilator",
               "[ \"$1\" = --version ] && echo '" + version + "' && exit 0\necho \"$@\" >> '" + log + "'\n");
    ScopedEnv path("PATH", bin.path());
    quarrix::probes::ToolSession session;
    EXPECT_TRUE(verify_verilog({s.at("rtl/leaf.v")}, session, "leaf"));
    EXPECT_EQ(slurp(log).find("--no-timing") != std::string::npos, timing) << version;
  }
}

// A missing include and the syntax error it leads to: Icarus's two stages
// used to interleave them on one stream, so the line and its cause changed
// from run to run.
TEST(ToolProbes, RealIcarusTellsAMissingIncludeAlone) {
  const auto iverilog = find_on_path("iverilog");
  if (!iverilog) GTEST_SKIP() << "iverilog is not installed";
  TempRepo repo, bin;
  repo.write("rtl/top.sv", "module top;\n  `include \"absent.svh\"\n  logic [W-1:0] q = ;\nendmodule\n");
  std::filesystem::create_symlink(*iverilog, bin.at("iverilog"));  // Icarus alone: no Verilator on PATH
  ScopedEnv path("PATH", bin.path());
  std::vector<quarrix::probes::ToolRunRecord> runs;
  for (int i = 0; i < 3; ++i) {
    quarrix::probes::ToolSession fresh;
    fresh.observe([&](const quarrix::probes::ToolRunRecord& run) { runs.push_back(run); });
    EXPECT_FALSE(verify_verilog({repo.at("rtl/top.sv").string()}, fresh, "top"));
  }
  ASSERT_EQ(runs.size(), 3u);
  for (const auto& run : runs) {
    ASSERT_TRUE(run.cause);
    EXPECT_EQ(run.cause->kind, "missing include");
    EXPECT_EQ(run.first_error, runs.front().first_error);
  }
  EXPECT_NE(runs.front().first_error.find("Include file absent.svh not found"), std::string::npos);
}

TEST(ToolProbes, RealToolsCheckTheUnitBesideItsTestbench) {
  if (!find_on_path("verilator") || !find_on_path("iverilog")) GTEST_SKIP() << "verilator or iverilog is missing";
  TempRepo repo;
  // Verilator's --no-timing rejects the testbench's wait, not the unit.
  repo.write("dut.v",
             "module dut(input a, output y);\n  assign y = a;\nendmodule\n"
             "module dut_tb;\n  reg a = 0; wire y;\n  dut u(.a(a), .y(y));\n"
             "  initial begin wait (y); $finish; end\nendmodule\n");
  // A unit of its own that only Icarus accepts.
  repo.write("waits.v", "module waits(input a);\n  initial begin wait (a); $display(\"a\"); end\nendmodule\n");
  const std::string dut = repo.at("dut.v").string(), waits = repo.at("waits.v").string();
  quarrix::probes::ToolSession session;
  EXPECT_TRUE(verify_verilog({dut}, session, "dut"));
  EXPECT_TRUE(verify_verilog({waits}, session, "waits"));
  EXPECT_FALSE(verify_verilog({waits}, session, "no_such_unit"));
}

TEST(ToolProbes, RealToolsGetTheMacrosAUnitNeeds) {
  if (!find_on_path("verilator") || !find_on_path("iverilog")) GTEST_SKIP() << "verilator or iverilog is missing";
  TempRepo repo;
  repo.write("t.sv",
             "module t;\nendmodule\n"
             "`ifdef T_TEST1\n`ifndef SYNTHESIS\nmodule test1;\n  initial $finish;\nendmodule\n`endif\n`endif\n");
  // The system sets the macro its processor, listed first as a dependency, expands.
  repo.write("cpu.v", "module cpu;\n  `CPU_REGS regs();\nendmodule\n");
  repo.write("soc.v", "`define CPU_REGS soc_regs\nmodule soc_regs;\nendmodule\nmodule soc;\n  cpu c();\nendmodule\n");
  quarrix::probes::ToolSession session;
  EXPECT_TRUE(verify_verilog({repo.at("t.sv").string()}, session, "test1"));
  EXPECT_TRUE(verify_verilog({repo.at("t.sv").string()}, session, "t"));
  EXPECT_TRUE(verify_verilog({repo.at("cpu.v").string(), repo.at("soc.v").string()}, session, "soc"));
}

TEST(ToolProbes, RealIcarusWhenVerilatorIsAbsent) {
  const auto iverilog = find_on_path("iverilog");
  if (!iverilog) GTEST_SKIP() << "iverilog is not installed";
  Sources s;
  TempRepo bin;
  std::filesystem::create_symlink(*iverilog, bin.at("iverilog"));
  ScopedEnv path("PATH", bin.path());
  EXPECT_TRUE(verify_verilog({s.at("inc/defs.vh"), s.at("rtl/leaf.v"), s.at("rtl/top.sv")}));
  EXPECT_TRUE(verify_verilog({s.at("inc/defs.vh"), s.at("rtl/includes.v")}));
  EXPECT_TRUE(verify_verilog({s.at("inc/body.vh"), s.at("include/lib/width.svh"), s.at("rtl/fragment_user.v")}));
  EXPECT_FALSE(verify_verilog({s.at("rtl/uses_missing.v")}));
}

}  // namespace
