#include "quarrix/probes/failure_cause.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using quarrix::probes::failure_cause;

struct Case {
  const char* err;  // what the tool wrote (Verilator 5.006 and 5.048, Icarus 11, GHDL 2.0)
  const char* kind;
  const char* name;
};

TEST(FailureCause, ReadsEachToolsMessages) {
  const std::vector<Case> cases = {
      // Verilator
      {"%Error: mu.v:2:3: Cannot find file containing module: 'sub'\n    2 |   sub u0 (.a(a), .y(y));\n",
       "missing unit", "sub"},
      {"%Error: Specified --top-module 'nope' was not found in design.\n%Error: Exiting due to 1 error(s)\n",
       "missing unit", "nope"},
      {"%Error: vp.v:2:3: Cannot find file containing module: 'BUFG'\n", "vendor primitive", "BUFG"},
      {"%Error: mi.v:1:10: Cannot find include file: cfg.vh\n    1 | `include \"cfg.vh\"\n", "missing include",
       "cfg.vh"},
      {"%Error-PKGNODECL: mp.sv:1:19: Package/class 'my_pkg' not found, and needs to be predeclared (IEEE "
       "1800-2017 26.3)\n%Error: mp.sv:1:19: Importing from missing package 'my_pkg'\n",
       "missing package", "my_pkg"},
      {"%Error-UNSUPPORTED: un.sv:4:3: Unsupported: SystemVerilog 2005 reserved word not implemented: "
       "'covergroup'\n%Error: un.sv:4:16: syntax error, unexpected ';', expecting IDENTIFIER or randomize\n",
       "tool limitation", ""},
      {"%Error-NOTIMING: tb2.v:8:17: Wait statements require --timing\n", "tool limitation", ""},
      {"%Error: i.sv:2:5: Cannot find file containing interface: 'bus_if'\n", "missing unit", "bus_if"},
      // Verilator's own spelling of `a__bar_pkg`
      {"%Error-PKGNODECL: d.sv:9:12: Package/class 'a___05Fbar_pkg' not found, and needs to be predeclared\n",
       "missing package", "a__bar_pkg"},
      // Later Verilator releases, on the same three misses
      {"%Error: k.v:790:30: Dotted reference to instance that refers to missing module/interface: 'LUT3'\n",
       "vendor primitive", "LUT3"},
      {"%Error: x.v:66:24: Dotted reference to instance that refers to missing module/interface: 'cell'\n",
       "missing unit", "cell"},
      {"%Error: n.sv:7:33: Package/class for ':: reference' not found: 'pkg'\n", "missing package", "pkg"},
      {"%Error: i.sv:5:12: Import package not found: 'PackageA'\n", "missing package", "PackageA"},
      // veryl's testcases/sv/47_embed.sv named as the top
      {"%Error: No top level module found\n%Error: Verilator internal fault, sorry. Suggest trying --debug --gdbbt\n",
       "tool limitation", ""},
      {"%Error: syn.v:2:3: syntax error, unexpected assign, expecting ';'\n%Error: Exiting due to 1 error(s)\n",
       "syntax", ""},
      {"terminate called after throwing an instance of 'std::bad_alloc'\n  what():  std::bad_alloc\n%Error: "
       "Verilator aborted. Suggest trying --debug --gdbbt\n",
       "memory", ""},
      // Icarus
      {"mu.v:2: error: Unknown module type: sub\n2 error(s) during elaboration.\n*** These modules were missing:\n"
       "        sub referenced 1 times.\n***\n",
       "missing unit", "sub"},
      {"mi.v:2: Include file cfg.vh not found\nNo top level modules, and no -s option.\n", "missing include", "cfg.vh"},
      {"syn.v:2: syntax error\nI give up.\n", "syntax", ""},
      {"Segmentation fault\n", "tool limitation", ""},
      {"error: Unable to find the root module \"half_adder\" in the Verilog source.\n", "missing unit", "half_adder"},
      // GHDL: the line after a message quotes the source
      {"../mu.vhd:4:20: unit \"sub\" not found in library \"work\"\n  u0 : entity work.sub port map (a => a, y => "
       "y);\n",
       "missing unit", "sub"},
      {"../mp.vhd:2:10: unit \"my_pkg\" not found in library \"work\"\nuse work.my_pkg.all;\n         ^\n",
       "missing package", "my_pkg"},
      {"../ml.vhd:1:9: cannot find resource library \"unisim\"\nlibrary unisim; use unisim.vcomponents.all;\n"
       "        ^\n../ml.vhd:1:28: unit \"vcomponents\" not found in library \"unisim\"\n",
       "vendor primitive", "unisim"},
      // f32c's rtl/soc/vector/fpu/mul/common/unpackfp_unpackfp.vhd
      {"unpackfp_unpackfp.vhd:12:10: use of synopsys package \"std_logic_arith\" needs the -fsynopsys option\n",
       "tool limitation", "std_logic_arith"},
      {"../sv.vhd:4:19: type of a shared variable must be a protected type\n  shared variable v : std_logic;\n",
       "syntax", ""},
  };
  for (const Case& c : cases) {
    const auto cause = failure_cause("failed", c.err);
    ASSERT_TRUE(cause) << c.err;
    EXPECT_EQ(cause->kind, c.kind) << c.err;
    EXPECT_EQ(cause->name, c.name) << c.err;
  }
}

TEST(FailureCause, VendorOnlyWhenNothingElseIsMissing) {
  // Verilator and Icarus on a unit that instantiates BUFG and a module of another repository.
  const char* verilator =
      "%Error: both.v:3:3: Cannot find file containing module: 'BUFG'\n%Error: both.v:3:3: This may be because "
      "there's no search path specified with -I<dir>.\n%Error: both.v:4:3: Cannot find file containing module: "
      "'sub'\n%Error: Exiting due to 3 error(s)\n";
  const char* icarus =
      "both.v:3: error: Unknown module type: BUFG\nboth.v:4: error: Unknown module type: sub\n3 error(s) during "
      "elaboration.\n";
  for (const char* err : {verilator, icarus}) {
    const auto cause = failure_cause("failed", err);
    ASSERT_TRUE(cause);
    EXPECT_EQ(cause->kind, "missing unit");
    EXPECT_EQ(cause->name, "sub");
  }
  // Verilog names are case-sensitive: a module "bufg" is the repository's own.
  EXPECT_EQ(failure_cause("failed", "%Error: a.v:2:3: Cannot find file containing module: 'bufg'\n")->kind,
            "missing unit");
}

TEST(FailureCause, FromTheVerdict) {
  EXPECT_EQ(failure_cause("timed out", "")->kind, "timeout");
  EXPECT_EQ(failure_cause("skipped (budget)", "")->kind, "budget");
  EXPECT_FALSE(failure_cause("passed", "%Warning-WIDTH: a.v:3:5: ..."));
  EXPECT_FALSE(failure_cause("not started", ""));
  EXPECT_EQ(failure_cause("failed", "")->kind, "syntax");
}

}  // namespace
