#include <gtest/gtest.h>

#include "quarrix/repo/filters.hpp"

using namespace quarrix::repo;

TEST(Filters, SimulationOnlyNames) {
  const std::pair<const char*, bool> cases[] = {
      {"", false},         {"tb", true},        {"fifo_tb", true},      {"TB_fifo", true}, {"axi_sim_model", true},
      {"uart_bfm", true},  {"TestBench", true}, {"simple_fifo", false}, {"tbuf", false},   {"fifo_tb2", false},
      {"test_fifo", false}};
  for (const auto& [name, sim] : cases) EXPECT_EQ(is_simulation_only_name(name), sim) << name;
  EXPECT_TRUE(tb_patterns().search("my_bench"));
  EXPECT_TRUE(tb_patterns().search("test_x"));
  EXPECT_FALSE(tb_patterns().search("testx"));
}

TEST(Filters, SkippedPaths) {
  EXPECT_TRUE(is_skipped_path("rtl/tb/x.v"));
  EXPECT_TRUE(is_skipped_path("tb/x.v"));
  EXPECT_TRUE(is_skipped_path("doc/x.v"));
  EXPECT_FALSE(is_skipped_path("mydocs/x.v"));
  EXPECT_FALSE(is_skipped_path("rtl/tbx/x.v"));
  EXPECT_FALSE(is_skipped_path("rtl/Test/x.v"));
}

TEST(Filters, NameRules) {
  for (const char* skipped : {"fifo_tb", "TB_fifo", "test_uart", "uart_pkg", "pkg_defs", "my_private_ram", "wrapper",
                              "Top", "FPGA", "uvma_agent"})
    EXPECT_NE(name_skip_reason(skipped), nullptr) << skipped;
  for (const char* kept : {"fifo", "fpga_top", "my_pkg_ctrl", "uvm_agent"})
    EXPECT_EQ(name_skip_reason(kept), nullptr) << kept;
  EXPECT_EQ(junk_names().size(), 33u);
  EXPECT_EQ(skip_path_patterns().size(), 16u);
}
