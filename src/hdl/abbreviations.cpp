#include "quarrix/hdl/abbreviations.hpp"

#include <iterator>
#include <string_view>
#include <unordered_map>

namespace quarrix::hdl {

namespace {

// Abbreviation and its spelled-out words, in the table's order.
constexpr std::pair<std::string_view, std::string_view> kAbbreviations[] = {
    {"eth", "ethernet"},
    {"mac", "media access control"},
    {"phy", "physical layer"},
    {"axi", "axi bus amba"},
    {"spi", "serial peripheral interface"},
    {"i2c", "inter-integrated circuit"},
    {"uart", "universal asynchronous receiver transmitter serial"},
    {"fifo", "fifo queue buffer"},
    {"cdc", "clock domain crossing"},
    {"dma", "direct memory access"},
    {"ddr", "double data rate memory"},
    {"pcie", "pci express"},
    {"usb", "universal serial bus"},
    {"gpio", "general purpose input output"},
    {"pwm", "pulse width modulation"},
    {"adc", "analog digital converter"},
    {"dac", "digital analog converter"},
    {"pll", "phase locked loop clock"},
    {"dsp", "digital signal processing"},
    {"fft", "fast fourier transform"},
    {"crc", "cyclic redundancy check"},
    {"ecc", "error correction code"},
    {"bram", "block ram memory"},
    {"xgmii", "10 gigabit media independent interface"},
    {"gmii", "gigabit media independent interface"},
    {"rgmii", "reduced gigabit media independent interface"},
    {"mii", "media independent interface"},
    {"sgmii", "serial gigabit media independent interface"},
    {"serdes", "serializer deserializer"},
    {"lvds", "low voltage differential signaling"},
    {"jtag", "joint test action group debug"},
    {"wb", "wishbone bus"},
    {"apb", "advanced peripheral bus amba"},
    {"ahb", "advanced high-performance bus amba"},
    {"lite", "lightweight"},
    {"arb", "arbiter arbitration"},
    {"arbiter", "arbitration"},
    {"arp", "address resolution protocol network"},
    {"udp", "user datagram protocol network"},
    {"tcp", "transmission control protocol network"},
    {"ip", "internet protocol network"},
    {"icmp", "internet control message protocol network"},
    {"mdio", "management data input output phy"},
    {"crossbar", "interconnect switch matrix"},
    {"bridge", "protocol converter adapter"},
    {"adapter", "protocol converter bridge"},
    {"mux", "multiplexer"},
    {"demux", "demultiplexer"},
    {"enc", "encoder"},
    {"dec", "decoder"},
    {"reg", "register"},
    {"ctrl", "controller control"},
    {"sync", "synchronizer synchronous"},
    {"async", "asynchronous"},
    {"clk", "clock"},
    {"rst", "reset"},
    {"irq", "interrupt"},
    {"pkg", "package"},
    {"cam", "content addressable memory"},
    {"lfsr", "linear feedback shift register prng"},
    {"axis", "axi stream"},
    {"wconv", "width converter"},
    {"cc", "clock crossing"},
    {"intf", "interface"},
    {"ram", "random access memory"},
    {"rom", "read only memory"},
    {"sft", "shift shifter"},
    {"div", "divider"},
    {"cnt", "counter"},
    {"cmp", "comparator"},
    {"acc", "accumulator"},
    {"olo", "open logic"},
    {"noc", "network on chip"},
    {"cpu", "processor"},
    {"rv", "risc-v riscv"},
    {"riscv", "risc-v processor"},
    {"10g", "10 gigabit 10gbe"},
    {"1g", "1 gigabit gigabit ethernet"},
    {"100m", "100 megabit fast ethernet"},
    {"tx", "transmit transmitter"},
    {"rx", "receive receiver"},
    {"cndm", "corundum nic"},
    {"ptp", "precision time protocol"},
    {"desc", "descriptor"},
    {"cpl", "completion"},
    {"mbox", "mailbox"},
    {"mgr", "manager"},
    {"dp", "datapath"},
    {"sched", "scheduler"},
    {"jesd", "jesd204"},
    {"xcvr", "transceiver"},
    {"tpl", "transport layer"},
};

}  // namespace

const std::vector<std::pair<std::string, std::string>>& abbreviation_map() {
  static const std::vector<std::pair<std::string, std::string>> table(std::begin(kAbbreviations),
                                                                      std::end(kAbbreviations));
  return table;
}

const std::string* abbreviation_lookup(std::string_view key) {
  static const std::unordered_map<std::string_view, const std::string*> index = [] {
    std::unordered_map<std::string_view, const std::string*> out;
    for (const auto& [abbr, expansion] : abbreviation_map()) out.emplace(abbr, &expansion);
    return out;
  }();
  const auto it = index.find(key);
  return it == index.end() ? nullptr : it->second;
}

}  // namespace quarrix::hdl
