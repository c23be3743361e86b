// The resolver over small repositories built at test time.

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <quarrix/resolver/dependency_resolver.hpp>
#include <quarrix/util/file.hpp>

#include "support/temp_repo.hpp"

namespace {

using quarrix::resolver::DependencyResolver;
using quarrix::testing::TempRepo;
using Pairs = std::vector<std::pair<std::string, std::string>>;
using Paths = std::vector<std::string>;

std::map<std::string, std::string> as_map(const Pairs& pairs) { return {pairs.begin(), pairs.end()}; }

// The compile order as paths relative to the repository.
Paths order(const DependencyResolver& r, const TempRepo& repo, const std::string& name) {
  Paths out;
  for (const std::string& p : r.compilation_order(name)) out.push_back(p.substr(repo.path().size() + 1));
  return out;
}

TEST(DependencyResolver, VerilogCompileOrderDependenciesFirstEachFileOnce) {
  TempRepo repo;
  repo.write("rtl/top.sv", "module top; mid u0(); leaf u1(); import defs_pkg::*; endmodule\n");
  repo.write("rtl/mid.v", "module mid; leaf u(); endmodule\nmodule mid2; endmodule\n");
  repo.write("rtl/sub/leaf.v", "module leaf; endmodule\n");
  repo.write("rtl/pkg.sv", "package defs_pkg; endpackage\n");
  repo.write("rtl/notes.txt", "module not_hdl; endmodule\n");
  const DependencyResolver r({repo.path() + "/rtl"});

  EXPECT_EQ(order(r, repo, "top"), (Paths{"rtl/sub/leaf.v", "rtl/mid.v", "rtl/pkg.sv", "rtl/top.sv"}));
  EXPECT_EQ(order(r, repo, "leaf"), (Paths{"rtl/sub/leaf.v"}));
  const auto units = as_map(r.entity_map());
  EXPECT_EQ(units.size(), 5u);  // top mid mid2 leaf defs_pkg; the .txt file is not read
  EXPECT_EQ(units.at("mid2"), repo.path() + "/rtl/mid.v");
  EXPECT_EQ(as_map(r.package_map()), (std::map<std::string, std::string>{{"defs_pkg", repo.path() + "/rtl/pkg.sv"}}));
  EXPECT_TRUE(r.unresolved_use_clauses().empty());
}

TEST(DependencyResolver, OwnFileLastEvenWhenADependencyLeadsBackIntoIt) {
  TempRepo repo;
  repo.write("a.v", "module a1; b u(); endmodule\nmodule a2; endmodule\n");
  repo.write("b.v", "module b; a2 u(); endmodule\n");
  const DependencyResolver r({repo.path()});
  EXPECT_EQ(order(r, repo, "a1"), (Paths{"b.v", "a.v"}));
}

TEST(DependencyResolver, AFileComesAfterWhatAnyOfItsUnitsNeeds) {
  TempRepo repo;
  // Tools analyse whole files: cpu.vhd also declares `decoder`, which needs
  // the package of pkg.vhd and the entity of alu.vhd.
  repo.write("cpu.vhd",
             "entity cpu is end;\narchitecture rtl of cpu is begin end;\n"
             "use work.isa_pkg.all;\nentity decoder is end;\n"
             "architecture rtl of decoder is begin u: entity work.alu; end;\n");
  repo.write("pkg.vhd", "package isa_pkg is end package;\n");
  repo.write("alu.vhd", "entity alu is end;\narchitecture rtl of alu is begin end;\n");
  repo.write("soc.vhd", "entity soc is end;\narchitecture rtl of soc is begin c: entity work.cpu; end;\n");
  const DependencyResolver r({repo.path()});
  EXPECT_EQ(order(r, repo, "cpu"), (Paths{"pkg.vhd", "alu.vhd", "cpu.vhd"}));
  EXPECT_EQ(order(r, repo, "soc"), (Paths{"pkg.vhd", "alu.vhd", "cpu.vhd", "soc.vhd"}));
}

TEST(DependencyResolver, CyclesThrowSelfInstantiationDoesNot) {
  TempRepo repo;
  repo.write("x.v", "module x; y u(); endmodule\n");
  repo.write("y.v", "module y; z u(); endmodule\n");
  repo.write("z.v", "module z; x u(); endmodule\n");
  repo.write("tree.v", "module tree #(parameter N = 4); if (N > 1) begin : g tree #(N/2) l(); end endmodule\n");
  const DependencyResolver r({repo.path()});
  try {
    r.compilation_order("x");
    FAIL() << "no cycle reported";
  } catch (const quarrix::resolver::DependencyCycleError& e) {
    EXPECT_STREQ(e.what(), "dependency cycle: x -> y -> z -> x");
  }
  EXPECT_EQ(order(r, repo, "tree"), (Paths{"tree.v"}));
  EXPECT_THROW(r.compilation_order("nope"), quarrix::resolver::UnknownUnitError);
}

// A file whose units need only each other is its own compile order, found
// without a walk; a cycle inside such a file is still reported.
TEST(DependencyResolver, FilesThatStandAlone) {
  TempRepo repo;
  std::string cells;
  for (int i = 0; i < 2000; ++i) cells += "module cell" + std::to_string(i) + "; endmodule\n";
  cells += "module row; cell1 a(); cell2 b(); endmodule\n";
  repo.write("cells.v", cells);
  repo.write("loop.v", "module p; q u(); endmodule\nmodule q; p u(); endmodule\n");
  repo.write("uses.v", "module user; cell7 c(); endmodule\nmodule idle; endmodule\n");
  repo.write("lone.vhd", "entity lone is end;\n");
  repo.write("lone_rtl.vhd", "architecture rtl of lone is begin end;\n");
  const DependencyResolver r({repo.path()});
  EXPECT_EQ(order(r, repo, "lone"), (Paths{"lone_rtl.vhd", "lone.vhd"}));  // a part elsewhere
  EXPECT_EQ(order(r, repo, "cell0"), (Paths{"cells.v"}));
  EXPECT_EQ(order(r, repo, "row"), (Paths{"cells.v"}));
  EXPECT_EQ(order(r, repo, "idle"), (Paths{"cells.v", "uses.v"}));  // its file needs the cells
  try {
    r.compilation_order("q");
    FAIL() << "no cycle reported";
  } catch (const quarrix::resolver::DependencyCycleError& e) {
    EXPECT_STREQ(e.what(), "dependency cycle: q -> p -> q");
  }
}

TEST(DependencyResolver, DeepChainDoesNotExhaustTheStack) {
  TempRepo repo;
  constexpr int kDepth = 10000;
  std::string even, odd;  // m0 -> m1 -> ... -> m10000, alternating between two files
  for (int i = 0; i < kDepth; ++i) {
    (i % 2 ? odd : even) += "module m" + std::to_string(i) + "; m" + std::to_string(i + 1) + " u(); endmodule\n";
  }
  even += "module m" + std::to_string(kDepth) + "; endmodule\n";
  repo.write("even.v", even);
  repo.write("odd.v", odd);
  const DependencyResolver r({repo.path()});
  EXPECT_EQ(order(r, repo, "m0"), (Paths{"odd.v", "even.v"}));
  EXPECT_EQ(order(r, repo, "m1"), (Paths{"even.v", "odd.v"}));
  EXPECT_EQ(r.entity_map().size(), static_cast<std::size_t>(kDepth + 1));
}

// Walks share marks between calls; interleaved walks from several threads,
// and walks after one that failed on a cycle, still see only their own.
TEST(DependencyResolver, ConcurrentAndRepeatedWalksAgree) {
  TempRepo repo;
  std::string lib, cyc;
  for (int i = 0; i < 200; ++i)
    lib += "module c" + std::to_string(i) + "; " + (i ? "c" + std::to_string(i - 1) + " u(); " : "") + "endmodule\n";
  repo.write("lib.v", lib);
  repo.write("top.v", "module top; c199 u(); endmodule\nmodule other; c5 u(); endmodule\n");
  repo.write("x.v", "module x; y u(); endmodule\n");
  repo.write("y.v", "module y; x u(); endmodule\n");
  const DependencyResolver r({repo.path()});
  std::map<std::string, Paths> expected;
  for (const auto& [name, path] : r.entity_map())
    if (name != "x" && name != "y") expected[name] = order(r, repo, name);
  EXPECT_EQ(expected.at("top"), (Paths{"lib.v", "top.v"}));

  std::vector<std::thread> threads;
  std::atomic<int> mismatches{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int round = 0; round < 20; ++round)
        for (const auto& [name, paths] : expected) {
          EXPECT_THROW(r.compilation_order("x"), quarrix::resolver::DependencyCycleError);
          if (order(r, repo, name) != paths) ++mismatches;
        }
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
}

TEST(DependencyResolver, VhdlUnitsUseClausesAndSeparateArchitectures) {
  TempRepo repo;
  repo.write("src/util_pkg.vhd", "package Util_Pkg is end package;\npackage body util_pkg is end;\n");
  repo.write("src/fifo.vhdl", "entity fifo is end;\n");
  repo.write("src/fifo_rtl.vhd", "use work.util_pkg.all;\narchitecture rtl of FIFO is begin end;\n");
  repo.write("src/top.vhd",
             "library ieee, unisim; use ieee.std_logic_1164.all; use UNISIM.VComponents.all;\n"
             "use work.util_pkg.all; use work.missing_pkg.all;\n"
             "entity top is end;\narchitecture rtl of top is begin\n"
             "  u0 : entity work.fifo port map (a => b);\nend;\n");
  repo.write("src/other.vhd", "library unisim; use unisim.vcomponents.all;\nentity other is end;\n");
  repo.write("src/cfg.vhd", "configuration top_cfg of top is for rtl end for; end configuration;\n");
  // One body per VHDL standard: one goes into a list, the first; a package's own body stays the one.
  repo.write("src/ptr_pkg.vhd", "package ptr_pkg is end;\n");
  repo.write("src/ptr_pkg-body-2002p.vhd", "package body ptr_pkg is end;\n");
  repo.write("src/ptr_pkg-body-93.vhd", "use work.util_pkg.all;\npackage body ptr_pkg is end;\n");
  repo.write("src/ptr_user.vhd", "use work.ptr_pkg.all;\nentity ptr_user is end;\n");
  repo.write("src/util_pkg-body-93.vhd", "package body util_pkg is end;\n");
  const DependencyResolver r({repo.path() + "/src"});
  EXPECT_EQ(order(r, repo, "ptr_user"), (Paths{"src/ptr_pkg.vhd", "src/ptr_pkg-body-2002p.vhd", "src/ptr_user.vhd"}));

  EXPECT_EQ(order(r, repo, "top"), (Paths{"src/util_pkg.vhd", "src/fifo.vhdl", "src/fifo_rtl.vhd", "src/top.vhd"}));
  // The entity's own file stays last; its architecture elsewhere comes just before.
  EXPECT_EQ(order(r, repo, "fifo"), (Paths{"src/util_pkg.vhd", "src/fifo_rtl.vhd", "src/fifo.vhdl"}));
  EXPECT_EQ(order(r, repo, "top_cfg").back(), "src/cfg.vhd");
  EXPECT_EQ(order(r, repo, "top_cfg").front(), "src/util_pkg.vhd");
  EXPECT_EQ(r.unresolved_use_clauses(), (Pairs{{"unisim", "vcomponents"}, {"work", "missing_pkg"}}));
  EXPECT_EQ(as_map(r.package_map()).count("Util_Pkg"), 1u);
  EXPECT_EQ(as_map(r.entity_map()).count("top_cfg"), 1u);
}

TEST(DependencyResolver, VhdlContextsAndVerilogHeaders) {
  TempRepo repo;
  repo.write("pkgs.vhd", "package util_pkg is end;\n");
  repo.write("ctx.vhd", "context proj_ctx is library ieee; use work.util_pkg.all; end context;\n");
  repo.write("user.vhd", "context work.proj_ctx;\nentity user is end;\n");
  repo.write("inc/item.svh", "class item extends base_item; endclass\n");
  repo.write("tb.sv", "`include \"item.svh\"\nmodule tb; endmodule\n");
  const DependencyResolver r({repo.path()});
  EXPECT_EQ(order(r, repo, "user"), (Paths{"pkgs.vhd", "ctx.vhd", "user.vhd"}));
  const auto units = as_map(r.entity_map());
  EXPECT_FALSE(units.count("proj_ctx"));  // contexts are not listed, only followed
  EXPECT_THROW(r.compilation_order("proj_ctx"), quarrix::resolver::UnknownUnitError);
  // A header is a source of its own, and comes before the file that includes it.
  EXPECT_EQ(units.at("item"), repo.path() + "/inc/item.svh");
  EXPECT_EQ(order(r, repo, "tb"), (Paths{"inc/item.svh", "tb.sv"}));
}

TEST(DependencyResolver, IncludedHeadersComeBeforeTheirIncluders) {
  TempRepo repo;
  repo.write("include/lib/regs.svh", "`include \"lib/assert.svh\"\n`define FF(q) q\n");
  repo.write("include/lib/assert.svh", "`define ASSERT(x)\n");
  repo.write("other/lib/regs.svh", "`define FF(q) wrong\n");  // the top-level include/ wins
  repo.write("src/local.svh", "`define LOCAL 1\n");
  repo.write("src/lib/regs.svh", "`define SHADOW 1\n");  // next to the includer: found first
  repo.write("src/fifo.sv",
             "`include \"lib/regs.svh\"\n`include \"local.svh\"\n`include \"/dev/zero\"\n"
             "`include \"../../etc/passwd\"\nmodule fifo; endmodule\n");
  repo.write("src/top.sv",
             "// `include \"commented.svh\"\n`include \"lib/assert.svh\"\nmodule top; fifo u(); endmodule\n");
  repo.write("cyc/a.vh", "`include \"b.vh\"\n");
  repo.write("cyc/b.vh", "`include \"a.vh\"\n");
  repo.write("cyc/c.v", "`include \"a.vh\"\nmodule c; endmodule\n");
  const DependencyResolver r({repo.path()});
  EXPECT_EQ(order(r, repo, "fifo"), (Paths{"src/lib/regs.svh", "src/local.svh", "src/fifo.sv"}));
  EXPECT_EQ(order(r, repo, "top"),
            (Paths{"src/lib/regs.svh", "src/local.svh", "src/fifo.sv", "include/lib/assert.svh", "src/top.sv"}));
  EXPECT_EQ(order(r, repo, "c"), (Paths{"cyc/b.vh", "cyc/a.vh", "cyc/c.v"}));

  // Includes nested deeper than any call stack would take.
  TempRepo deep;
  constexpr int kDepth = 10000;
  for (int i = 0; i < kDepth; ++i)
    deep.write("h" + std::to_string(i) + ".vh", "`include \"h" + std::to_string(i + 1) + ".vh\"\n");
  deep.write("h" + std::to_string(kDepth) + ".vh", "`define LAST\n");
  deep.write("m.v", "`include \"h0.vh\"\nmodule m; endmodule\n");
  const Paths chain = order(DependencyResolver({deep.path()}), deep, "m");
  ASSERT_EQ(chain.size(), static_cast<std::size_t>(kDepth + 2));
  EXPECT_EQ(chain.front(), "h" + std::to_string(kDepth) + ".vh");
}

TEST(DependencyResolver, IncludesTheRootsMissAreLookedForInTheRepository) {
  TempRepo outside;
  outside.write("secret/cfg.vh", "`define SECRET 1\n");
  outside.write("repo/rtl/core/top.v",
                "`include \"regs.inc\"\n`include \"cfg.vh\"\n`include \"lib/bus.vh\"\n"
                "`include \"out.vh\"\n`include \"../../../secret/cfg.vh\"\nmodule top; endmodule\n");
  outside.write("repo/rtl/core/regs.inc", "`define REGS 1\n");         // beside it, not an HDL suffix
  outside.write("repo/rtl/include/cfg.vh", "`include \"deep.vh\"\n");  // an ancestor's include/
  outside.write("repo/vendor/x/deep.vh", "`define DEEP 1\n");          // its own include, resolved too
  outside.write("repo/include/cfg.vh", "`define FARTHER 1\n");         // a farther include/
  outside.write("repo/third/lib/bus.vh", "`define FAR 1\n");           // ends with the name, but...
  outside.write("repo/rtl/vendor/lib/bus.vh", "`define NEAR 1\n");     // ...this one is nearer
  std::filesystem::create_symlink(outside.at("secret/cfg.vh"), outside.at("repo/rtl/out.vh"));  // leads out
  const std::string root = outside.path() + "/repo";
  const DependencyResolver r({root + "/rtl/core"}, false, {}, {}, root);
  Paths got;
  for (const std::string& p : r.compilation_order("top")) got.push_back(p.substr(root.size() + 1));
  EXPECT_EQ(got, (Paths{"rtl/core/regs.inc", "vendor/x/deep.vh", "rtl/include/cfg.vh", "rtl/vendor/lib/bus.vh",
                        "rtl/core/top.v"}));
  // Without the repository, only the roots are searched.
  EXPECT_EQ(DependencyResolver({root + "/rtl/core"}).compilation_order("top").size(), 1u);
}

TEST(DependencyResolver, PackagesTheRootsMissAreLookedForInTheRepository) {
  TempRepo repo;
  repo.write("rtl/ram.vhd", "library work;\nuse work.verif_pkg.all;\nuse work.absent.all;\nentity ram is end;\n");
  repo.write("lib/work/verif_pkg.vhd", "use work.str_pkg.all;\npackage verif_pkg is end;\n");
  repo.write("lib/work/str_pkg.vhd", "package str_pkg is end;\n");  // needed by the package found
  repo.write("lib/work/unused_pkg.vhd", "package unused_pkg is end;\n");
  repo.write("sim/tb_ram.vhd", "entity tb_ram is end;\n");
  const DependencyResolver r({repo.path() + "/rtl"}, false, {}, {}, repo.path());
  EXPECT_EQ(order(r, repo, "ram"), (Paths{"lib/work/str_pkg.vhd", "lib/work/verif_pkg.vhd", "rtl/ram.vhd"}));
  EXPECT_EQ(r.entity_map(), (Pairs{{"ram", repo.path() + "/rtl/ram.vhd"}}));  // no unit of the tree
  EXPECT_EQ(r.unresolved_use_clauses(), (Pairs{{"work", "absent"}}));
  // Without the repository, only the roots are searched.
  EXPECT_EQ(DependencyResolver({repo.path() + "/rtl"}).unresolved_use_clauses(),
            (Pairs{{"work", "verif_pkg"}, {"work", "absent"}}));
}

TEST(DependencyResolver, AmongEquallyNearDeclarationsTheGenericWins) {
  TempRepo repo;
  repo.write("src/deprecated/user.sv", "module user; tc_clk c(); tc_ram r(); endmodule\n");
  repo.write("src/fpga/tc_clk_xilinx.sv", "module tc_clk; BUFGCE b(); endmodule\n");  // first in walk order
  repo.write("src/rtl/tc_clk.sv", "module tc_clk; endmodule\n");
  repo.write("src/altera/tc_ram.sv", "module tc_ram; altsyncram a(); endmodule\n");
  repo.write("src/generic/tc_ram.sv", "module tc_ram; endmodule\n");
  repo.write("src/deprecated/tc_ram_intel.sv", "module tc_ram; endmodule\n");  // nearer: still taken
  const DependencyResolver r({repo.path()});
  EXPECT_EQ(order(r, repo, "user"),
            (Paths{"src/rtl/tc_clk.sv", "src/deprecated/tc_ram_intel.sv", "src/deprecated/user.sv"}));
  EXPECT_EQ(as_map(r.entity_map()).at("tc_clk"), repo.path() + "/src/fpga/tc_clk_xilinx.sv");  // the row stays
}

TEST(DependencyResolver, DependencyRootsResolveWhatTheRepositoryLacks) {
  TempRepo top;
  top.write("app/rtl/soc.sv", "module soc; fifo f(); arbiter a(); import cf_pkg::*; endmodule\n");
  top.write("app/rtl/arbiter.sv", "module arbiter; endmodule\n");  // the repository's own namesake wins
  top.write("app/rtl/cpu.vhd",
            "use work.dep_types.all;\nuse work.nowhere.all;\nuse work.consts.all;\nentity cpu is end;\n");
  top.write("dep/src/fifo.sv", "module fifo; arbiter a(); endmodule\n");
  top.write("dep/src/arbiter.sv", "module arbiter; wrong w(); endmodule\n");
  top.write("dep/src/cf_pkg.sv", "package cf_pkg; endpackage\n");
  top.write("dep/src/types.vhd", "use work.dep_missing.all;\nuse work.consts.all;\npackage dep_types is end;\n");
  // A VHDL namesake lies in the dependency's library: its own uses take it.
  top.write("dep/src/consts.vhd", "package consts is end;\n");
  top.write("app/rtl/consts.vhd", "package consts is end;\n");
  top.write("dep/src/big.v", std::string(1, '\0'));  // left out, but not the repository's to report
  const std::string app = top.path() + "/app", dep = top.path() + "/dep";
  const DependencyResolver r({app + "/rtl"}, false, {}, {}, app, {dep + "/src"});
  Paths got;
  for (const std::string& p : r.compilation_order("soc")) got.push_back(p.substr(top.path().size() + 1));
  EXPECT_EQ(got, (Paths{"app/rtl/arbiter.sv", "dep/src/fifo.sv", "dep/src/cf_pkg.sv", "app/rtl/soc.sv"}));
  got.clear();
  for (const std::string& p : r.compilation_order("cpu")) got.push_back(p.substr(top.path().size() + 1));
  EXPECT_EQ(got, (Paths{"dep/src/consts.vhd", "dep/src/types.vhd", "app/rtl/consts.vhd", "app/rtl/cpu.vhd"}));
  EXPECT_EQ(as_map(r.entity_map()).count("fifo"), 0u);
  EXPECT_EQ(as_map(r.entity_map()).at("arbiter"), app + "/rtl/arbiter.sv");
  EXPECT_EQ(as_map(r.package_map()), (std::map<std::string, std::string>{{"consts", app + "/rtl/consts.vhd"}}));
  EXPECT_EQ(as_map(r.dependency_units()), (std::map<std::string, std::string>{{"cf_pkg", dep + "/src/cf_pkg.sv"},
                                                                              {"dep_types", dep + "/src/types.vhd"},
                                                                              {"fifo", dep + "/src/fifo.sv"}}));
  EXPECT_EQ(r.unresolved_use_clauses(), (Pairs{{"work", "nowhere"}}));
  EXPECT_TRUE(r.left_out_sources().empty());
}

// A unit that needs a unit of its own file, and another file: that file goes
// first, though the unit it needs in its own file is done before it.
TEST(DependencyResolver, AFileWaitsForItsUnitsFurtherUpThePath) {
  TempRepo repo;
  repo.write("cpu.vhd", "entity cpu is end;\narchitecture rtl of cpu is begin u : entity lib.front; end;\n");
  repo.write("front.vhd",
             "entity front is end;\narchitecture rtl of front is begin b : entity lib.front_buf;\n"
             "  g : if true generate d : entity lib.decomp; end generate; end;\n"
             "entity front_buf is end;\narchitecture rtl of front_buf is begin end;\n");
  repo.write("decomp.vhd", "entity decomp is end;\narchitecture rtl of decomp is begin end;\n");
  const DependencyResolver r({repo.path()});
  EXPECT_EQ(order(r, repo, "cpu"), (Paths{"decomp.vhd", "front.vhd", "cpu.vhd"}));
}

TEST(DependencyResolver, MixedLanguageAndDuplicateNames) {
  TempRepo repo;
  repo.write("a/core.vhd", "entity Core is end;\n");
  // The same VHDL unit again, with its own architecture: not the row, but
  // what b/shell.v beside it instantiates.
  repo.write("b/core.vhd", "entity CORE is end;\narchitecture x of core is begin u : entity work.extra; end;\n");
  repo.write("b/extra.vhd", "entity extra is end;\n");
  repo.write("b/shell.v", "module shell; core u(); endmodule\n");  // a Verilog instance of the VHDL entity
  repo.write("c/shell.v", "module shell; endmodule\n");            // duplicate: first in walk order wins
  repo.write("wrap.vhd", "entity wrap is end;\narchitecture a of wrap is begin u : SHELL port map (x); end;\n");
  const DependencyResolver r({repo.path()});
  const auto units = as_map(r.entity_map());
  EXPECT_EQ(units.size(), 4u);
  EXPECT_EQ(units.at("Core"), repo.path() + "/a/core.vhd");
  EXPECT_EQ(units.at("shell"), repo.path() + "/b/shell.v");
  EXPECT_EQ(order(r, repo, "wrap"), (Paths{"b/extra.vhd", "b/core.vhd", "b/shell.v", "wrap.vhd"}));
}

TEST(DependencyResolver, DuplicateNamesResolveToTheNearestDeclaration) {
  TempRepo repo;
  repo.write("cores/a/fifo.v", "module fifo; endmodule\n");
  repo.write("cores/a/top_a.v", "module top_a; fifo u(); endmodule\n");
  repo.write("cores/b/fifo.v", "module fifo; leaf u(); endmodule\n");
  repo.write("cores/b/leaf.v", "module leaf; endmodule\n");
  repo.write("cores/b/top_b.v", "module top_b; fifo u(); endmodule\n");
  repo.write("cores/b/deep/user.v", "module deep_user; fifo u(); endmodule\n");
  repo.write("cores/b/own.v", "module own_user; fifo u(); endmodule\nmodule fifo; endmodule\n");
  repo.write("other/top_c.v", "module top_c; fifo u(); endmodule\n");
  repo.write("pk/x/p.vhd", "package cfg is constant W : natural := 8; end;\n");
  repo.write("pk/y/p.vhd", "package cfg is constant W : natural := 16; end;\n");
  repo.write("pk/y/user.vhd", "use work.cfg.all;\nentity uy is end;\n");
  // One variant per platform, equally near: the one in a directory named as the user's is taken.
  repo.write("lib/clock/ice40/pll.v", "module pll; endmodule\n");
  repo.write("lib/clock/xc7/pll.v", "module pll; endmodule\n");
  repo.write("demos/xc7/board.v", "module board; pll u(); endmodule\n");
  const DependencyResolver r({repo.path()});

  // The rows stay the first declarations.
  const auto units = as_map(r.entity_map());
  EXPECT_EQ(units.size(), 11u);
  EXPECT_EQ(units.at("fifo"), repo.path() + "/cores/a/fifo.v");
  EXPECT_EQ(r.package_map(), (Pairs{{"cfg", repo.path() + "/pk/x/p.vhd"}}));
  EXPECT_EQ(order(r, repo, "fifo"), (Paths{"cores/a/fifo.v"}));

  EXPECT_EQ(order(r, repo, "top_a"), (Paths{"cores/a/fifo.v", "cores/a/top_a.v"}));
  EXPECT_EQ(order(r, repo, "top_b"), (Paths{"cores/b/leaf.v", "cores/b/fifo.v", "cores/b/top_b.v"}));
  EXPECT_EQ(order(r, repo, "deep_user"), (Paths{"cores/b/leaf.v", "cores/b/fifo.v", "cores/b/deep/user.v"}));
  EXPECT_EQ(order(r, repo, "own_user"), (Paths{"cores/b/own.v"}));
  EXPECT_EQ(order(r, repo, "top_c"), (Paths{"cores/a/fifo.v", "other/top_c.v"}));
  EXPECT_EQ(order(r, repo, "uy"), (Paths{"pk/y/p.vhd", "pk/y/user.vhd"}));
  EXPECT_EQ(order(r, repo, "board"), (Paths{"lib/clock/xc7/pll.v", "demos/xc7/board.v"}));

  // In the use graph top_b reaches the row of fifo and what its neighbour uses.
  const auto graph = r.use_graph();
  std::vector<std::uint32_t> todo{graph.node_of.at("top_b")};
  std::vector<bool> seen(graph.uses.size(), false);
  while (!todo.empty()) {
    const std::uint32_t n = todo.back();
    todo.pop_back();
    for (std::uint32_t d : graph.uses[n])
      if (!seen[d]) seen[d] = true, todo.push_back(d);
  }
  EXPECT_TRUE(seen[graph.node_of.at("fifo")]);
  EXPECT_TRUE(seen[graph.node_of.at("leaf")]);
  EXPECT_FALSE(seen[graph.node_of.at("top_a")]);
}

TEST(DependencyResolver, ExclusionPatternsOnNamesAndRelativePaths) {
  TempRepo repo;
  repo.write("hdl/core.v", "module core; endmodule\n");
  repo.write("hdl/glbl.v", "module glbl; endmodule\n");
  repo.write("hdl/cyclone_atoms/cell.v", "module cell; endmodule\n");
  repo.write("hdl/altera_examples/ex.v", "module ex; endmodule\n");
  repo.write("hdl/deep/sim_lib/x.v", "module simx; endmodule\n");
  repo.write("hdl/stratix_atoms.v", "module stratix_cell; endmodule\n");
  repo.write("hdl/unisims_ver/FDRE.v", "module FDRE; endmodule\n");
  repo.write("hdl/keep/glbl_wrapper.v", "module glbl_wrapper; endmodule\n");
  // The vendor defaults as the scan driver passes them, then a repository-relative tree.
  const DependencyResolver r({repo.path() + "/hdl"}, false,
                             {"glbl", "sim_lib", "*_atoms", "unisims_ver", "simprims_ver", "hdl/altera_examples"});
  const auto units = as_map(r.entity_map());
  EXPECT_EQ(units.size(), 2u);
  EXPECT_TRUE(units.count("core") && units.count("glbl_wrapper"));
}

TEST(DependencyResolver, UnreadableAndBinaryFilesAreSkippedAndLatin1IsRead) {
  TempRepo repo;
  repo.write("ok.v", "module ok; endmodule\n");
  repo.write("latin1.v", "module latin; // caf\xe9\nendmodule\n");
  repo.write("crlf.v", "module crlf;\r\nendmodule\r\n");
  repo.write("nul.v", std::string("module nul;\0 endmodule\n", 22));
  repo.write("noise.v", "module noise; \xff\xfe\xfd\xfc endmodule\n");  // more than one byte in ten
  repo.write("caf\xe9.v", "module badname; endmodule\n");
  repo.write("elsewhere/linked.v", "module linked; endmodule\n");
  repo.write("dirlink_target/far.v", "module far; endmodule\n");
  ASSERT_EQ(mkfifo(repo.at("pipe.v").c_str(), 0600), 0);
  std::filesystem::create_symlink(repo.at("elsewhere/linked.v"), repo.at("alias.v"));
  std::filesystem::create_directories(repo.at("root"));
  std::filesystem::create_symlink(repo.at("dirlink_target"), repo.at("root/dirlink"));
  repo.write("root/r.v", "module r; endmodule\n");
  std::filesystem::create_symlink(repo.at("alias.v"), repo.at("root/file_link.v"));

  const DependencyResolver r({repo.path() + "/root", repo.path()});
  const auto units = as_map(r.entity_map());
  EXPECT_EQ(units.at("latin"), repo.path() + "/latin1.v");
  EXPECT_FALSE(units.count("nul") || units.count("noise"));
  EXPECT_EQ(units.at("badname"), repo.path() + "/caf\xe9.v");  // a name is bytes, UTF-8 or not
  EXPECT_TRUE(units.count("ok") && units.count("crlf") && units.count("linked") && units.count("r"));
  // A link to a file is read through its own path; a link to a directory is not entered.
  EXPECT_EQ(units.at("linked"), repo.path() + "/root/file_link.v");
  EXPECT_EQ(units.at("far"), repo.path() + "/dirlink_target/far.v");
  // A missing root holds nothing.
  EXPECT_TRUE(DependencyResolver({repo.path() + "/absent"}).entity_map().empty());
}

// Paths that name one file are scanned once, under the first path that could be
// read: an architecture reached again through a link is not a second part of
// its entity, and a link that may not be read does not hide the file itself.
TEST(DependencyResolver, AFileReachedThroughLinksIsScannedOnce) {
  namespace fs = std::filesystem;
  TempRepo repo, outside;
  repo.write("rtl/e.vhd", "entity e is end entity;\n");
  repo.write("rtl/z_arch.vhd", "architecture rtl of e is begin end architecture;\n");
  fs::create_symlink("z_arch.vhd", repo.at("rtl/y_arch.vhd"));
  repo.write("rtl/z_leaf.v", "module leaf; endmodule\n");
  fs::create_hard_link(repo.at("rtl/z_leaf.v"), outside.at("leaf.v"));
  fs::create_symlink(outside.at("leaf.v"), repo.at("rtl/a_leaf.v"));
  const quarrix::util::ReadConfinement confinement(repo.path());
  const DependencyResolver r({repo.at("rtl")});
  EXPECT_EQ(as_map(r.entity_map())["leaf"], repo.at("rtl/z_leaf.v").string());
  EXPECT_EQ(order(r, repo, "e"), (Paths{"rtl/y_arch.vhd", "rtl/e.vhd"}));
}

TEST(DependencyResolver, GitignoreOnlyWhenAsked) {
  TempRepo repo;
  repo.write(".git/HEAD", "ref: refs/heads/main\n");
  repo.write(".gitignore", "build/\n*.gen.v\n!keep.gen.v\n/src/scratch\nsrc/ip/**\n!src/ip/ip_top.v\n");
  repo.write("src/ip/ip_top.v", "module ip_top; endmodule\n");
  repo.write("src/ip/ip_sub.v", "module ip_sub; endmodule\n");
  repo.write("src/a.v", "module a; endmodule\n");
  repo.write("src/x.gen.v", "module xgen; endmodule\n");
  repo.write("src/keep.gen.v", "module keepgen; endmodule\n");
  repo.write("src/build/b.v", "module b; endmodule\n");
  repo.write("src/scratch/s.v", "module s; endmodule\n");
  repo.write("src/deep/.gitignore", "*.v\n!d2.v\n");
  repo.write("src/deep/d1.v", "module d1; endmodule\n");
  repo.write("src/deep/d2.v", "module d2; endmodule\n");

  EXPECT_EQ(DependencyResolver({repo.path() + "/src"}).entity_map().size(), 9u);
  const auto units = as_map(DependencyResolver({repo.path() + "/src"}, true).entity_map());
  std::vector<std::string> names;
  for (const auto& [name, path] : units) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "d2", "ip_top", "keepgen"}));
}

}  // namespace
