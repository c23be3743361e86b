#include "quarrix/hdl/protocols.hpp"

#include <algorithm>

namespace quarrix::hdl {

namespace {

using Tokens = std::set<std::string, std::less<>>;

Tokens token_set(const std::set<std::string>& fragments, const std::vector<std::string>& port_names) {
  Tokens tokens(fragments.begin(), fragments.end());
  tokens.insert(port_names.begin(), port_names.end());
  return tokens;
}

// Markers are distinct within a row, so counting list entries counts distinct markers.
bool detected(const Signature& row, const Tokens& tokens) {
  const auto present = std::count_if(row.markers.begin(), row.markers.end(),
                                     [&](const std::string& marker) { return tokens.contains(marker); });
  return present >= row.min_matches;
}

}  // namespace

const std::vector<Signature>& protocol_signatures() {
  static const std::vector<Signature> rows = {
      {"axi4_full", {"awaddr", "wdata", "araddr", "rdata", "awlen", "awsize"}, 5, "AXI4"},
      {"axi4_lite", {"awaddr", "wdata", "araddr", "rdata", "bresp"}, 3, "AXI4-Lite"},
      {"axi4_stream", {"tdata", "tvalid", "tready", "tlast", "tkeep"}, 3, "AXI4-Stream"},
      {"wishbone", {"cyc", "stb", "ack", "adr", "dat"}, 3, "Wishbone"},
      {"spi", {"sclk", "mosi", "miso", "sdi", "sdo", "cs"}, 2, "SPI"},
      {"i2c", {"scl", "sda"}, 2, "I2C"},
      {"uart", {"txd", "rxd", "uart_tx", "uart_rx", "baud"}, 2, "UART"},
      {"mdio", {"mdc", "mdio"}, 2, "MDIO"},
      {"jtag", {"tck", "tdi", "tdo", "tms"}, 3, "JTAG"},
      {"ethernet", {"rgmii", "gmii", "xgmii", "sgmii"}, 1, "Ethernet"},
      {"pcie", {"pcie_tx", "pcie_rx", "cfg_addr"}, 2, "PCIe"},
      {"ddr", {"ddr_addr", "ddr_dq", "ddr_ras", "ddr_cas"}, 2, "DDR"},
      {"dma_if", {"dma_addr", "dma_len", "dma_tag", "desc_addr"}, 2, "DMA"},
      {"ptp", {"ptp_ts", "ptp_td", "ptp_ts_96"}, 1, "PTP"},
      {"jesd204", {"jesd", "rx_data", "tx_data", "sync", "sysref"}, 2, "JESD204"},
  };
  return rows;
}

const std::vector<Signature>& interface_patterns() {
  static const std::vector<Signature> rows = {
      {"ready_valid", {"valid", "ready", "vld", "rdy"}, 2, "ready/valid handshake"},
      {"fifo", {"fifo", "full", "empty", "wr_en", "rd_en"}, 2, "FIFO interface"},
      {"memory", {"addr", "wdata", "rdata", "wr_en", "rd_en"}, 3, "memory interface"},
      {"interrupt", {"irq", "interrupt"}, 1, "interrupt support"},
      {"descriptor", {"desc_addr", "desc_len", "desc_tag", "desc_valid"}, 2, "descriptor interface"},
      {"dma_ram", {"dma_addr", "dma_len", "dma_ram_wr", "dma_ram_rd"}, 2, "DMA interface"},
  };
  return rows;
}

std::vector<std::string> detect_protocols(const std::set<std::string>& fragments,
                                          const std::vector<std::string>& port_names) {
  const Tokens tokens = token_set(fragments, port_names);
  std::vector<std::string> labels;
  std::set<std::string> matched;
  for (const Signature& row : protocol_signatures()) {
    if (!detected(row, tokens) || matched.contains(row.id)) continue;
    labels.push_back(row.label);
    matched.insert(row.id);
    if (row.id == "axi4_full") matched.insert("axi4_lite");  // full AXI4 implies the Lite markers
  }
  return labels;
}

std::vector<std::string> detect_interfaces(const std::set<std::string>& fragments,
                                           const std::vector<std::string>& port_names) {
  const Tokens tokens = token_set(fragments, port_names);
  std::vector<std::string> labels;
  for (const Signature& row : interface_patterns())
    if (detected(row, tokens)) labels.push_back(row.label);
  return labels;
}

}  // namespace quarrix::hdl
