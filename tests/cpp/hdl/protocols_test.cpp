#include "quarrix/hdl/protocols.hpp"

#include <gtest/gtest.h>

#include "quarrix/util/text.hpp"

namespace quarrix::hdl {
namespace {

using Labels = std::vector<std::string>;

// Fragments built the way the ports tier builds them: pieces longer than one character.
std::set<std::string> fragments_of(const std::vector<std::string>& ports) {
  std::set<std::string> out;
  for (const auto& port : ports)
    for (const auto& piece : util::split(port, "_"))
      if (piece.size() > 1) out.insert(piece);
  return out;
}

struct Case {
  const char* label;
  std::vector<std::string> ports;
  Labels protocols;
  Labels interfaces;
};

class Detection : public ::testing::TestWithParam<Case> {};

TEST_P(Detection, CountsMarkersAmongTokens) {
  const Case& c = GetParam();
  const auto fragments = fragments_of(c.ports);
  EXPECT_EQ(detect_protocols(fragments, c.ports), c.protocols);
  EXPECT_EQ(detect_interfaces(fragments, c.ports), c.interfaces);
}

INSTANTIATE_TEST_SUITE_P(
    All, Detection,
    ::testing::Values(
        Case{"Nothing", {}, {}, {}},
        Case{"FullAxiSuppressesLite",
             {"s_axi_awaddr", "s_axi_wdata", "s_axi_araddr", "s_axi_rdata", "s_axi_awlen", "s_axi_awsize",
              "s_axi_bresp"},
             {"AXI4"},
             {}},
        Case{"AxiLite",
             {"s_axi_awaddr", "s_axi_wdata", "s_axi_araddr", "s_axi_rdata", "s_axi_bresp"},
             {"AXI4-Lite"},
             {}},
        Case{"GmiiIsEthernetOnly", {"gmii_txd"}, {"Ethernet"}, {}},
        Case{"UnderscoreMarkersNeedWholeNames", {"uart_tx", "uart_rx"}, {"UART"}, {}},
        Case{"PrefixedUnderscoreMarkerMisses", {"my_uart_tx", "clk"}, {}, {}},
        Case{"SeveralProtocolsInTableOrder",
             {"txd", "rxd", "s_axis_tdata", "s_axis_tvalid", "s_axis_tready"},
             {"AXI4-Stream", "UART"},
             {}},
        Case{"ReadyValid", {"valid", "ready"}, {}, {"ready/valid handshake"}},
        Case{"ShortHandshakeFragments", {"in_vld", "in_rdy"}, {}, {"ready/valid handshake"}},
        Case{"Interrupt", {"irq"}, {}, {"interrupt support"}},
        Case{"FifoAndMemory", {"wr_en", "rd_en", "full", "empty", "addr"}, {}, {"FIFO interface", "memory interface"}},
        Case{"FifoWithoutMemory", {"wr_en", "rd_en", "full", "empty"}, {}, {"FIFO interface"}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Detection, TablesKeepTheirOrder) {
  ASSERT_EQ(protocol_signatures().size(), 15u);
  ASSERT_EQ(interface_patterns().size(), 6u);
  EXPECT_EQ(protocol_signatures().front().id, "axi4_full");
  EXPECT_EQ(protocol_signatures().back().label, "JESD204");
  EXPECT_EQ(interface_patterns().back().label, "DMA interface");
}

TEST(Detection, FragmentsAndPortNamesAreOneTokenSet) {
  // A marker given only as a fragment counts as much as one given as a port name.
  EXPECT_EQ(detect_protocols({"sclk"}, {"mosi"}), Labels{"SPI"});
}

}  // namespace
}  // namespace quarrix::hdl
