#include "quarrix/describe/port_inference.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace quarrix::describe {
namespace {

namespace fs = std::filesystem;

// Writes a Verilog module with the given ports and parameters to a temp file.
class PortInference : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("quarrix_port_inference_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string module_file(const std::vector<std::string>& ports, const std::vector<std::string>& params = {},
                          const std::string& name = "m.v") {
    std::string text = "module m #(\n";
    for (const auto& p : params) text += "  parameter " + p + " = 1,\n";
    text += ") (\n";
    for (const auto& p : ports) text += "  input wire " + p + ",\n";
    text += ");\nendmodule\n";
    const fs::path path = dir_ / name;
    std::ofstream(path) << text;
    return path.string();
  }

  fs::path dir_;
};

struct Case {
  const char* entity;
  std::vector<std::string> ports;
  std::vector<std::string> params;
  std::optional<std::string> description;
  Json hints;
};

Json hints(std::vector<std::string> protocols, std::vector<std::string> interfaces, Json role, bool generics) {
  return Json{{"protocols", protocols}, {"interfaces", interfaces}, {"role", role}, {"has_generics", generics}};
}

TEST_F(PortInference, ComposesFromPortsAndName) {
  const std::vector<Case> cases = {
      {"uart_tx",
       {"clk", "rst", "txd", "baud", "valid", "ready"},
       {},
       "UART transmit engine with ready/valid handshake",
       hints({"UART"}, {"ready/valid handshake"}, "transmit engine", false)},
      {"axis_async_fifo",
       {"s_axis_tdata", "s_axis_tvalid", "s_axis_tready", "s_axis_tlast", "m_axis_tdata", "m_axis_tvalid",
        "m_axis_tready"},
       {"DEPTH", "DATA_WIDTH"},
       "AXI4-Stream FIFO buffer with configurable parameters",
       hints({"AXI4-Stream"}, {}, "FIFO buffer", true)},
      {"spi_master",
       {"clk", "sclk", "mosi", "miso", "cs_n"},
       {"CLK_DIV"},
       "SPI master",
       hints({"SPI"}, {}, "master", false)},
      {"my_block",
       {"clk", "valid", "ready", "irq"},
       {"DATA_WIDTH"},
       "Block IP core with ready/valid handshake and interrupt support",
       hints({}, {"ready/valid handshake", "interrupt support"}, nullptr, true)},
      {"axi_uart_bridge",
       {"s_axi_awaddr", "s_axi_wdata", "s_axi_araddr", "s_axi_rdata", "s_axi_bresp", "txd", "rxd"},
       {},
       "AXI4-Lite bridge with UART interface",
       hints({"AXI4-Lite", "UART"}, {}, "bridge", false)},
      {"foo", {"a", "b"}, {}, std::nullopt, hints({}, {}, nullptr, false)},
      {"eth_mac_tb",
       {"gmii_txd", "gmii_rxd"},
       {},
       "UART with Ethernet interface",
       hints({"UART", "Ethernet"}, {}, nullptr, false)},
      {"eth_mac_tb", {"gmii_txd"}, {}, std::nullopt, hints({"Ethernet"}, {}, nullptr, false)},
      {"spi_ctrl", {"clk", "data_in"}, {}, "SPI controller", hints({"SPI"}, {}, "controller", false)},
  };
  for (const Case& c : cases) {
    const auto [description, got] = infer_description_from_ports(c.entity, module_file(c.ports, c.params));
    EXPECT_EQ(description, c.description) << c.entity;
    EXPECT_EQ(got, c.hints) << c.entity;
  }
}

TEST_F(PortInference, UnreadableOrPortlessFilesGiveInitialHints) {
  const Json initial = hints({}, {}, nullptr, false);
  EXPECT_EQ(initial_port_hints(), initial);
  EXPECT_EQ(infer_description_from_ports("uart_tx", (dir_ / "missing.v").string()),
            std::make_pair(std::optional<std::string>(), initial));
  EXPECT_EQ(infer_description_from_ports("uart_tx", dir_.string()).second, initial);  // a directory
  const fs::path empty = dir_ / "empty.v";
  std::ofstream(empty) << "module uart_tx; endmodule\n";
  EXPECT_EQ(infer_description_from_ports("uart_tx", empty.string()),
            std::make_pair(std::optional<std::string>(), initial));
}

TEST_F(PortInference, UpperCaseVhdlSuffixIsVhdl) {
  const fs::path path = dir_ / "UART.VHD";
  std::ofstream(path) << "entity uart_rx is\n port (\n  rxd : in bit;\n  baud : in bit\n );\nend uart_rx;\n";
  EXPECT_EQ(infer_description_from_ports("uart_rx", path.string()).first, "UART receive engine");
}

TEST(ComposeDescription, Shapes) {
  using V = std::vector<std::string>;
  EXPECT_EQ(compose_description("x", {"SPI", "I2C"}, {"FIFO interface", "memory interface"}, "bridge", true),
            "SPI bridge with I2C interface and FIFO interface");
  EXPECT_EQ(compose_description("clk_rst_en_fifo_ctl", V{}, V{}, std::nullopt, false), "Fifo IP core");
  EXPECT_EQ(compose_description("eth_x", V{}, V{}, std::nullopt, false), "Ethernet IP core");  // expanded
  EXPECT_EQ(compose_description("a_b", V{}, V{}, std::nullopt, true), "IP core with configurable parameters");
  EXPECT_EQ(compose_description("a_b", V{}, V{}, std::string(), false), "IP core");    // an empty role is no role
  EXPECT_EQ(compose_description("   ", V{}, V{}, std::nullopt, false), "IP core");     // a part without words
  EXPECT_EQ(compose_description("x", V{}, V{}, "\u00dfadapter", false), "SSadapter");  // full upper-casing
}

}  // namespace
}  // namespace quarrix::describe
