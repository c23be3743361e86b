// The per-file scanners: which units a text declares and which names each needs.

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <quarrix/resolver/design_units.hpp>

namespace {

using quarrix::resolver::DesignBlock;
using quarrix::resolver::SourceUnits;
using quarrix::resolver::UseClause;

std::vector<std::string> declared(const SourceUnits& s) {
  std::vector<std::string> out;
  for (const DesignBlock& b : s.blocks) out.push_back(std::string(b.kind) + " " + b.name);
  return out;
}

bool has_ref(const DesignBlock& b, const std::string& name) {
  return std::find(b.refs.begin(), b.refs.end(), name) != b.refs.end();
}

struct VerilogCase {
  const char* label;
  const char* text;
  std::vector<std::string> units;     // "kind name" in order
  std::vector<std::string> refs;      // of the first unit
  std::vector<std::string> not_refs;  // of the first unit
};

TEST(VerilogScanner, DeclarationsAndReferences) {
  const std::vector<VerilogCase> cases = {
      {"plain and parameterised instances, instance arrays",
       "module top(input clk);\n  sub u0(.clk(clk));\n  fifo #(.W(8)) u1 (.clk);\n  ram_cell c[3:0] (clk);\n"
       "  mem#(4)u2(clk);\nendmodule\n",
       {"module top"},
       {"sub", "fifo", "ram_cell", "mem"},
       {"clk", "W"}},
      {"package import and scope reference",
       "import cfg_pkg::*;\nmodule m import bus_pkg::*; (input bus_pkg::req_t r);\n"
       "  localparam int N = math_pkg::clog2(4);\nendmodule",
       {"module m"},
       {"bus_pkg", "math_pkg"},
       {"req_t", "clog2"}},
      {"interface-typed ports, with and without modport",
       "module m (axi_if.master m_axi, apb_if s_apb, input logic clk);\nendmodule",
       {"module m"},
       {"axi_if", "apb_if"},
       {"master", "m_axi"}},
      {"comments and strings hide names",
       "module m;\n// ghost1 g1();\n/* ghost2 g2(); */\ninitial $display(\"ghost3 g3();\");\nendmodule",
       {"module m"},
       {},
       {"ghost1", "ghost2", "ghost3"}},
      {"macro bodies and ifdef names are not code",
       "`define MK(x) ghost u_``x();\n`ifdef USE_FAST\nfast f();\n`else\nslow s();\n`endif\nmodule m;\nendmodule",
       {"module m"},
       {},
       {"ghost", "USE_FAST"}},
      {"all unit keywords, lifetimes, nested units belong to the outer one",
       "macromodule mm; endmodule\ninterface automatic bus_if; endinterface\nprogram p; endprogram\n"
       "package pk; class inner extends base; endclass endpackage\nclass c; endclass\n"
       "primitive udp(o, a); output o; input a; table 0 : 1; 1 : 0; endtable endprimitive\n",
       {"macromodule mm", "interface bus_if", "program p", "package pk", "class c", "primitive udp"},
       {},
       {}},
      {"forward typedef, virtual interface, extern module and interface class declare nothing",
       "typedef class fwd;\nextern module ext(input a);\ninterface class ic; endclass\n"
       "class drv; virtual bus_if vif; endclass\n",
       {"class ic", "class drv"},
       {},
       {}},
      {"escaped identifiers and based numbers",
       "module \\esc.name (input a);\n  wire [3:0] w = 4'b1010;\n  \\sub.x u (a);\nendmodule",
       {"module esc.name"},
       {"sub.x"},
       {"b1010"}},
      {"block labels name no unit",
       "module m; if (1) begin : lbl_a sub u(); end : lbl_b\nfork : lbl_c join endmodule : m",
       {"module m"},
       {"sub"},
       {"lbl_a", "lbl_b", "lbl_c"}},
      {"a generic interface port is not an interface declaration",
       "module m (interface bus, interface.mp b2);\nendmodule\nmodule n; endmodule",
       {"module m", "module n"},
       {},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const SourceUnits s = quarrix::resolver::scan_verilog(c.text);
    EXPECT_EQ(declared(s), c.units);
    if (s.blocks.empty()) continue;
    for (const auto& r : c.refs) EXPECT_TRUE(has_ref(s.blocks[0], r)) << r;
    for (const auto& r : c.not_refs) {
      EXPECT_FALSE(has_ref(s.blocks[0], r) || has_ref(s.file_scope, r)) << r;
    }
  }
}

TEST(VerilogScanner, CompilationUnitScopeAndClassExtension) {
  const SourceUnits s = quarrix::resolver::scan_verilog(
      "import uvm_pkg::*;\nclass my_test extends base_test;\n  env_cfg cfg;\nendclass\n");
  ASSERT_EQ(declared(s), (std::vector<std::string>{"class my_test"}));
  EXPECT_TRUE(has_ref(s.file_scope, "uvm_pkg"));
  EXPECT_TRUE(has_ref(s.blocks[0], "base_test"));
  EXPECT_TRUE(has_ref(s.blocks[0], "env_cfg"));
}

struct VhdlCase {
  const char* label;
  const char* text;
  std::vector<std::string> units;
  std::size_t block;  // which block the expectations are about
  std::vector<std::string> refs;
  std::vector<UseClause> uses;
};

TEST(VhdlScanner, DeclarationsAndReferences) {
  const std::vector<VhdlCase> cases = {
      {"context clause belongs to the following entity; architecture refs",
       "library ieee; use ieee.std_logic_1164.all;\nuse Work.Util_Pkg.all;\n\nentity Top is end entity Top;\n"
       "architecture rtl of top is\n  component fifo is port (a : in bit); end component;\nbegin\n"
       "  u0 : fifo port map (a => open);\n  u1 : entity work.Sub(rtl) port map (x => y);\n"
       "  u2 : component Other generic map (N => 1) port map (q);\n"
       "  u3 : configuration lib.cfg_a;\nend architecture;\n",
       {"entity Top", "architecture top"},
       1,
       {"fifo", "sub", "other", "cfg_a"},
       {}},
      {"context clause of the entity itself",
       "library ieee; use ieee.numeric_std.all, mylib.types.all;\nentity e is end;\n",
       {"entity e"},
       0,
       {},
       {{"ieee", "numeric_std"}, {"mylib", "types"}}},
      {"package, body, configuration and keywords in any case",
       "PACKAGE P IS END PACKAGE;\nPackage Body p is end package body p;\n"
       "configuration cfg of top is for rtl for u0 : fifo use entity work.fifo2; end for; end for; end cfg;\n",
       {"package P", "package body p", "configuration cfg"},
       2,
       {"top", "fifo2"},
       {}},
      {"comments, strings and character literals hide names",
       "entity e is end;\narchitecture a of e is begin\n -- u : entity work.ghost1;\n"
       "  s <= \"u : entity work.ghost2\"; c <= '\"'; t <= x'length;\nend;\n",
       {"entity e", "architecture e"},
       1,
       {},
       {}},
      {"use clause inside an architecture stays with it; library-level use of item",
       "entity e is end;\narchitecture a of e is\n  use work.inner_pkg.all;\n  signal s : bit;\nbegin end;\n",
       {"entity e", "architecture e"},
       1,
       {},
       {{"work", "inner_pkg"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const SourceUnits s = quarrix::resolver::scan_vhdl(c.text);
    EXPECT_EQ(declared(s), c.units);
    ASSERT_LT(c.block, s.blocks.size());
    const DesignBlock& b = s.blocks[c.block];
    for (const auto& r : c.refs) EXPECT_TRUE(has_ref(b, r)) << r;
    EXPECT_EQ(b.uses, c.uses);
  }
}

TEST(Scanners, HostileInputIsLinearAndSafe) {
  // Deep nesting, unterminated comments and strings, a huge single line.
  const std::string parens(2'000'000, '(');
  EXPECT_TRUE(quarrix::resolver::scan_verilog(parens).blocks.empty());
  EXPECT_TRUE(quarrix::resolver::scan_vhdl(parens).blocks.empty());
  const std::string line = "module m; " + std::string(1'000'000, 'x') + " /* never closed";
  EXPECT_EQ(declared(quarrix::resolver::scan_verilog(line)), (std::vector<std::string>{"module m"}));
  EXPECT_TRUE(quarrix::resolver::scan_verilog("module m; \"open string").blocks.size() == 1);
  EXPECT_TRUE(quarrix::resolver::scan_vhdl("entity e is \\never closed").blocks.size() == 1);
  EXPECT_TRUE(quarrix::resolver::scan_verilog("`define X \\").blocks.empty());
  EXPECT_TRUE(quarrix::resolver::scan_vhdl("'").blocks.empty());
  // A tick and "s" without a base after them once made the lexer stand still.
  EXPECT_EQ(declared(quarrix::resolver::scan_verilog("module m; x = 'st; y = 's; endmodule module n; endmodule")),
            (std::vector<std::string>{"module m", "module n"}));
  // Statements far longer than the scanners look ahead or back still end where they end.
  std::string uses = "use ";
  for (int i = 0; i < 1000; ++i) uses += "a" + std::to_string(i) + ".p, ";
  const SourceUnits vhdl = quarrix::resolver::scan_vhdl(uses + "lib.last.all; entity e is end;");
  ASSERT_EQ(declared(vhdl), (std::vector<std::string>{"entity e"}));
  ASSERT_EQ(vhdl.blocks[0].uses.size(), 1001u);
  EXPECT_EQ(vhdl.blocks[0].uses.back(), (UseClause{"lib", "last"}));
  std::string rows;
  for (int i = 0; i < 10000; ++i) rows += "0 1 : ? : 0 ; ";
  const std::string table = "primitive p(o, a); table " + rows + " endtable endprimitive";
  EXPECT_EQ(declared(quarrix::resolver::scan_verilog(table + " module after; endmodule")),
            (std::vector<std::string>{"primitive p", "module after"}));
}

}  // namespace
