#include "quarrix/hdl/entity_name.hpp"
#include "quarrix/hdl/abbreviations.hpp"

#include <gtest/gtest.h>

namespace quarrix::hdl {
namespace {

using Opt = std::optional<std::string>;

TEST(Abbreviations, TableShape) {
  EXPECT_EQ(abbreviation_map().size(), 92u);
  EXPECT_EQ(abbreviation_map().front().first, "eth");
  EXPECT_EQ(abbreviation_map().back().second, "transport layer");
  ASSERT_NE(abbreviation_lookup("axis"), nullptr);
  EXPECT_EQ(*abbreviation_lookup("axis"), "axi stream");
  EXPECT_EQ(abbreviation_lookup("AXIS"), nullptr);
}

class RoleOf : public ::testing::TestWithParam<std::pair<const char*, Opt>> {};

TEST_P(RoleOf, FirstMatchingRowWins) { EXPECT_EQ(detect_entity_role(GetParam().first), GetParam().second); }

INSTANTIATE_TEST_SUITE_P(
    All, RoleOf,
    ::testing::Values(std::pair<const char*, Opt>{"axis_async_fifo", "FIFO buffer"},
                      std::pair{"spi_master", Opt("master")}, std::pair{"i2c_slave", Opt("slave")},
                      std::pair{"axi_crossbar", Opt("crossbar switch")}, std::pair{"regfile", Opt("register file")},
                      std::pair{"reg_bank", Opt("register file")}, std::pair{"arb", Opt("arbiter")},
                      std::pair{"arbiter_rr", Opt("arbiter")}, std::pair{"axis_demux", Opt("demultiplexer")},
                      std::pair{"AXIS_MUX", Opt("multiplexer")}, std::pair{"sync_fifo", Opt("FIFO buffer")},
                      std::pair{"pwm_gen", Opt("generator")}, std::pair{"watchdog_timer", Opt("timer")},
                      std::pair{"my_psdpram", Opt("RAM")}, std::pair{"eth_mac_1g_rx", Opt("receive engine")},
                      std::pair{"uart_tx", Opt("transmit engine")}, std::pair{"tx_path", Opt("transmit engine")},
                      std::pair{"ip_core", Opt()}, std::pair{"cntr", Opt()}, std::pair{"genpulse", Opt()},
                      std::pair{"", Opt()}));

class ProtocolOf : public ::testing::TestWithParam<std::pair<const char*, Opt>> {};

TEST_P(ProtocolOf, FirstNamingPartWins) { EXPECT_EQ(detect_entity_protocol(GetParam().first), GetParam().second); }

INSTANTIATE_TEST_SUITE_P(All, ProtocolOf,
                         ::testing::Values(std::pair<const char*, Opt>{"spi_master", "SPI"},
                                           std::pair{"eth_mac_1g", Opt("Ethernet")},
                                           std::pair{"wb_uart", Opt("Wishbone")}, std::pair{"jesd_rx", Opt("JESD204")},
                                           std::pair{"axi_dma", Opt("DMA")}, std::pair{"axi4_lite_regs", Opt("AXI4")},
                                           std::pair{"UART__core", Opt("UART")}, std::pair{"axis_fifo", Opt()},
                                           std::pair{"ddr3_ctrl", Opt()}, std::pair{"", Opt()}));

TEST(RolePatterns, FortyRowsInOrder) {
  ASSERT_EQ(entity_role_patterns().size(), 40u);
  EXPECT_EQ(entity_role_patterns().front().pattern, "arbiter|arb(?:_|$)");
  EXPECT_EQ(entity_role_patterns().back().role, "pseudo dual-port RAM");
}

}  // namespace
}  // namespace quarrix::hdl
