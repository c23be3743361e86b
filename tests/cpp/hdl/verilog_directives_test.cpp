#include <gtest/gtest.h>

#include "quarrix/hdl/verilog_directives.hpp"

using quarrix::hdl::guarded_modules;
using Guards = std::map<std::string, std::vector<std::string>>;

TEST(GuardedModules, EachBranchNamesTheMacroItNeeds) {
  const std::string text =
      "module always_there; endmodule\n"
      "`ifdef SIM\n"
      "  `ifdef WAVES module dump; endmodule `endif\n"
      "  `ifndef SYNTHESIS module tb; endmodule `endif\n"
      "`elsif FORMAL\n"
      "  module props; endmodule\n"
      "`else\n"
      "  module fallback; endmodule\n"
      "`endif\n"
      "`ifndef FAST module slow; endmodule `else module fast; endmodule `endif\n"
      "`ifdef SIM module always_there; endmodule `endif\n";  // the first declaration counts
  EXPECT_EQ(guarded_modules(text),
            (Guards{{"dump", {"SIM", "WAVES"}}, {"tb", {"SIM"}}, {"props", {"FORMAL"}}, {"fast", {"FAST"}}}));
}

TEST(GuardedModules, CommentsStringsAndLongerWordsAreNoDeclarations) {
  const std::string text =
      "`ifdef A\n"
      "// module in_comment;\n/* `endif module in_block; */\n"
      "initial $display(\"module in_string; `endif\");\n"
      "wire submodule_x; endmodule\n"
      "module static real_one; endmodule\n"
      "`endif\n"
      "`endif `else `elsif B\n"  // unbalanced: ignored
      "module after;\n";
  EXPECT_EQ(guarded_modules(text), (Guards{{"real_one", {"A"}}}));
}
