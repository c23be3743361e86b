#include "quarrix/probes/vendor_deps.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_repo.hpp"

namespace {

using quarrix::probes::detect_vendor_deps;
using quarrix::testing::TempRepo;

struct Case {
  const char* file;
  const char* text;
  std::vector<std::string> deps;
};

TEST(DetectVendorDeps, ReadsLibraryClausesAndPrimitiveInstances) {
  const std::vector<Case> cases = {
      {"a.vhd", "library ieee, UNISIM;\nuse unisim.vcomponents.all;\n", {"unisim"}},
      {"a.vhd", "library altera_mf;\nlibrary lpm;\n", {"altera_mf", "lpm"}},
      {"a.vhd", "library xpm, unimacro; library polarfire;\n", {"polarfire", "unimacro", "xpm"}},
      {"a.vhd", "u0 : bufg port map (i => c, o => g);\n", {"unisim"}},
      {"a.vhd", "component altsyncram\n generic (x : natural);\nend component;\n", {"altera_mf"}},
      {"a.vhd", "signal bufg_out : std_logic;\n-- library unisim;\n", {}},
      {"a.v", "xpm_cdc_single #(.DEST_SYNC_FF(2)) sync (.src_in(a));\n", {"xpm"}},
      {"a.v", "BUFG u_bufg (.I(clk), .O(gclk));\nMMCME2_ADV #(.X(1)) mmcm (.CLKIN1(clk));\n", {"unisim"}},
      {"a.sv", "altsyncram ram (.clock0(clk));\nlpm_mult m (.dataa(a));\n", {"altera_mf", "lpm"}},
      {"a.v", "SB_PLL40_CORE pll (.REFERENCECLK(c));\nEHXPLLL pll2 (.CLKI(c));\n", {"ecp5u", "ice40"}},
      {"a.v", "rPLL pll (.CLKIN(c));\nEFX_RAM_5K ram (.WCLK(c));\n", {"efinix", "gowin"}},
      // An array of instances, as the tools name it when it is missing.
      {"a.v", "FD r [7:0] (.C(c), .D(d), .Q(q));\n", {"unisim"}},
      // Declarations, comments, strings and other case are not instances.
      {"a.v", "module BUFG (input I, output O); endmodule\n", {}},
      {"a.v", "// BUFG u (.I(c));\n/* xpm_fifo_async f (.x(1)); */\n$display(\"BUFG u (\");\n", {}},
      {"a.v", "bufg u (.I(c));\nwire BUFG;\n", {}},
      {"a.v", "my_fifo #(.W(8)) f (.clk(c));\n", {}},
  };
  for (const auto& c : cases) {
    TempRepo repo;
    repo.write(c.file, c.text);
    EXPECT_EQ(detect_vendor_deps({repo.at(c.file).string()}), c.deps) << c.text;
  }
}

TEST(DetectVendorDeps, UnionOverTheCompileListIgnoringOtherFiles) {
  TempRepo repo;
  repo.write("a.vhd", "library unisim;\n");
  repo.write("b.v", "xpm_memory_spram m (.clka(c));\n");
  repo.write("c.txt", "library altera_mf;\n");
  EXPECT_EQ(detect_vendor_deps({repo.at("a.vhd").string(), repo.at("b.v").string(), repo.at("c.txt").string(),
                                repo.at("missing.v").string(), repo.path()}),
            (std::vector<std::string>{"unisim", "xpm"}));
  EXPECT_TRUE(detect_vendor_deps({}).empty());
}

TEST(DetectVendorDeps, MemoAgreesAndNoticesAChangedFile) {
  TempRepo repo;
  repo.write("a.vhd", "library unisim;\n");
  repo.write("b.v", "xpm_memory_spram m (.clka(c));\n");
  const std::vector<std::string> files = {repo.at("a.vhd").string(), repo.at("b.v").string(),
                                          repo.at("missing.v").string()};
  quarrix::probes::VendorDepsMemo memo;
  EXPECT_EQ(memo.detect(files), detect_vendor_deps(files));
  EXPECT_EQ(memo.detect({files[1]}), (std::vector<std::string>{"xpm"}));
  repo.write("b.v", "module plain; endmodule // now without vendor primitives, and longer\n");
  EXPECT_EQ(memo.detect(files), (std::vector<std::string>{"unisim"}));
}

}  // namespace
