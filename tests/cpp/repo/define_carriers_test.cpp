#include <quarrix/repo/define_carriers.hpp>

#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "support/temp_repo.hpp"

namespace {

using quarrix::repo::collect_define_carriers;
using quarrix::repo::DefineCarrierIndex;
using quarrix::repo::RepoTree;
using quarrix::testing::TempRepo;
using Paths = std::vector<std::string>;

constexpr const char* kDefines = "// project macros\n`define WIDTH 8\n`define DEPTH 16\n";
constexpr const char* kModule = "module eth_top(input [`WIDTH-1:0] clk);\nendmodule\n";

TEST(DefineOnlyText, Classification) {
  struct Case {
    const char* text;
    bool carrier;
  } cases[] = {
      {"`define A 1\n", true},
      {"  \t`define A 1\n", true},
      {"`define A 1\nmodule m; endmodule\n", false},
      {"`define A 1\n  interface i; endinterface\n", false},
      {"`ifndef X\n`endif\n", false},
      {"wire a; `define A 1\n", false},  // not first on its line
      {"`defineA 1\n", false},
      // Nothing but directives, comments and `define continuations.
      {"`ifndef H_\n`define H_\n/* a\n   b */ `define M(x) \\\n  (x) + \\\n  1 // sum\n`endif\n", true},
      {"`define A 1\nModule m;\n", false},                // no declaration keyword, but text all the same
      {"`define A 1\nfunction f; endfunction\n", false},  // a fragment for a module body
      {"`define A 1 \\\n  2\ngenerate\n", false},         // the continuation ends with its line
      // White space as str.strip() knows it.
      {"\u2003`define A 1\x1f\n\u0085\n", true},
  };
  for (const auto& c : cases) EXPECT_EQ(quarrix::repo::is_define_only_text(c.text), c.carrier) << c.text;
}

TEST(DefineCarriers, HeaderBesideTheScopeFiles) {
  TempRepo repo;
  repo.write("rtl/verilog/eth_top.v", kModule);
  repo.write("rtl/verilog/eth_rx.v", "module eth_rx; endmodule\n");
  repo.write("rtl/verilog/header.v", kDefines);
  EXPECT_EQ(collect_define_carriers(repo.path(), {"rtl/verilog/eth_top.v", "rtl/verilog/eth_rx.v"}),
            Paths{"rtl/verilog/header.v"});
}

TEST(DefineCarriers, OnlyThoseDefiningWhatTheListUsesAndLeavesUndefined) {
  TempRepo repo;
  repo.write("a/top.v", "module top; wire [`W:0] w = `LOCAL; endmodule\n`define LOCAL 1\n");
  repo.write("a/uses_w.vh", "`define W `DEPTH\n");  // needed, and brings the carrier of DEPTH
  repo.write("b/depth.vh", "`define DEPTH 7\n");
  repo.write("b/other.vh", "`define UNRELATED 1\n");     // another subproject's header
  repo.write("b/local.vh", "`define LOCAL 2\n");         // the list defines LOCAL itself
  repo.write("b/comment.vh", "`define IN_COMMENT 2\n");  // used only in comments and strings
  repo.write("b/user.v", "module user; // `IN_COMMENT\ninitial $display(\"`IN_COMMENT\"); endmodule\n");
  EXPECT_EQ(collect_define_carriers(repo.path(), {"b/user.v", "a/top.v"}), (Paths{"a/uses_w.vh", "b/depth.vh"}));
  // A carrier in the list counts as a candidate, not as a user.
  EXPECT_TRUE(collect_define_carriers(repo.path(), {"b/other.vh", "b/user.v"}).empty());
}

TEST(DefineCarriers, WalkCoversTheCommonAncestorOnly) {
  TempRepo repo;
  repo.write("rtl/a/x.v", kModule);
  repo.write("rtl/b/y.v", kModule);
  repo.write("rtl/b/sub/defs.vh", kDefines);  // below the ancestor "rtl"
  repo.write("inc/defs.vh", kDefines);        // a sibling of it
  repo.write("rtl/mixed.v", std::string(kDefines) + kModule);
  repo.write("rtl/guards.svh", "`ifndef G\n`endif\n");
  repo.write("rtl/UPPER.V", kDefines);
  repo.write("rtl/.hidden/h.svh", kDefines);
  repo.write("rtl/z.sv", kDefines);
  repo.write("rtl/a.b/c.v", kDefines);
  repo.write("rtl/a/b.v", kDefines);
  repo.write("rtl/a/unused.v", "`define NOT_USED 1\n");
  // Groups by extension (.v, .sv, .vh, .svh), each in component-wise path order.
  EXPECT_EQ(collect_define_carriers(repo.path(), {"rtl/a/x.v", "rtl/b/y.v"}),
            (Paths{"rtl/a/b.v", "rtl/a.b/c.v", "rtl/z.sv", "rtl/b/sub/defs.vh", "rtl/.hidden/h.svh"}));
}

TEST(DefineCarriers, UnusableScopes) {
  TempRepo repo;
  repo.write("rtl/defs.vh", kDefines);
  EXPECT_TRUE(collect_define_carriers(repo.path(), {}).empty());
  EXPECT_TRUE(collect_define_carriers(repo.path(), {"missing/x.v"}).empty());
}

TEST(DefineCarriers, NeverWalksOutOfTheRepositoryThroughDotDot) {
  TempRepo outer;
  outer.write("repo/rtl/top.v", kModule);
  outer.write("sibling/x.v", kModule);
  outer.write("sibling/defs.vh", kDefines);
  const std::string root = outer.path() + "/repo";
  EXPECT_TRUE(collect_define_carriers(root, {"../sibling/x.v"}).empty());
  EXPECT_TRUE(collect_define_carriers(root, {"rtl/../../sibling/x.v"}).empty());
}

TEST(DefineCarriers, ScopeOutsideTheRepositoryWalksOnlyTheRoot) {
  TempRepo outside;
  outside.write("repo/rtl/top.v", kModule);
  outside.write("repo/rtl/defs.vh", kDefines);
  outside.write("vendor/lib.v", kModule);
  outside.write("vendor/vendor_defs.vh", kDefines);
  const std::string root = outside.path() + "/repo";
  const Paths scope{"rtl/top.v", outside.path() + "/vendor/lib.v"};
  EXPECT_EQ(collect_define_carriers(root, scope), Paths{"rtl/defs.vh"});
  RepoTree tree(root);
  DefineCarrierIndex index(tree);
  EXPECT_EQ(collect_define_carriers(index, scope), Paths{"rtl/defs.vh"});
}

TEST(DefineCarriers, LinksAndSpecialFiles) {
  TempRepo repo;
  repo.write("rtl/top.v", kModule);
  repo.write("rtl/b_defs.vh", kDefines);
  std::filesystem::create_symlink("b_defs.vh", repo.at("rtl/a_link.vh"));  // same file, visited first
  std::filesystem::create_symlink("missing.vh", repo.at("rtl/dangling.vh"));
  ASSERT_EQ(mkfifo(repo.at("rtl/fifo.v").c_str(), 0600), 0);  // must not be opened
  repo.write("elsewhere/inc/ext.vh", kDefines);
  std::filesystem::create_symlink(repo.at("elsewhere/inc"), repo.at("rtl/inc"));  // not descended into
  EXPECT_EQ(collect_define_carriers(repo.path(), {"rtl/top.v"}), Paths{"rtl/a_link.vh"});
}

TEST(DefineCarriers, WalkStartingAtALinkedDirectoryFollowsIt) {
  TempRepo repo;
  repo.write("real/top.v", kModule);
  repo.write("real/defs.vh", kDefines);
  std::filesystem::create_directories(repo.at("hw"));
  std::filesystem::create_directory_symlink(repo.at("real"), repo.at("hw/rtl"));
  const Paths scope{"hw/rtl/top.v"};
  EXPECT_EQ(collect_define_carriers(repo.path(), scope), Paths{"hw/rtl/defs.vh"});
  RepoTree tree(repo.path());
  DefineCarrierIndex index(tree);
  EXPECT_EQ(collect_define_carriers(index, scope), Paths{"hw/rtl/defs.vh"});
  // From the root the link is not descended into; the real directory is.
  EXPECT_EQ(collect_define_carriers(index, {"top.v", "real/top.v"}), Paths{"real/defs.vh"});
}

TEST(DefineCarrierIndex, MatchesOneOffQueriesAndReadsEachFileOnce) {
  TempRepo repo;
  repo.write("rtl/core/top.v", kModule);
  repo.write("rtl/core/core_defs.vh", kDefines);
  repo.write("rtl/periph/uart.v", kModule);
  repo.write("rtl/periph/uart_defs.svh", kDefines);
  repo.write("rtl/global.v", kDefines);
  const std::vector<Paths> scopes = {
      {"rtl/core/top.v"}, {"rtl/periph/uart.v"}, {"rtl/core/top.v", "rtl/periph/uart.v"}, {"rtl/core/top.v"}};
  RepoTree tree(repo.path());
  DefineCarrierIndex index(tree);
  for (const Paths& scope : scopes) EXPECT_EQ(index.collect(scope), collect_define_carriers(repo.path(), scope));

  // A verdict, once taken, is kept for the scan: the file is not read again.
  repo.write("rtl/core/core_defs.vh", kModule);
  EXPECT_EQ(index.collect({"rtl/core/top.v"}), Paths{"rtl/core/core_defs.vh"});
  EXPECT_TRUE(collect_define_carriers(repo.path(), {"rtl/core/top.v"}).empty());
}

}  // namespace
