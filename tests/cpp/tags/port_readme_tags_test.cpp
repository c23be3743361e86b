#include <quarrix/tags/port_readme_tags.hpp>

#include <gtest/gtest.h>

#include "support/temp_repo.hpp"

namespace {

using quarrix::tags::add_signal_tags;
using quarrix::tags::extract_port_tags;
using quarrix::tags::read_readme_tags;
using quarrix::tags::ReadmeTagCache;
using quarrix::testing::TempRepo;
using Tags = std::set<std::string>;

TEST(SignalTags, ExpandsAbbreviatedParts) {
  struct Case {
    const char* signal;
    Tags expected;
  } cases[] = {
      {"s_axis_tdata", {"axi", "stream"}},
      {"rx_data", {}},
      {"i2c_sda", {"inter-integrated", "circuit"}},
      {"tx_10g_clk", {"10", "gigabit", "10gbe", "clock"}},
      {"UART_TX", {"universal", "asynchronous", "receiver", "transmitter", "serial"}},
      {"", {}},
  };
  for (const auto& c : cases) {
    Tags tags{"kept"};
    add_signal_tags(c.signal, tags);
    Tags expected = c.expected;
    expected.insert("kept");
    EXPECT_EQ(tags, expected) << c.signal;
  }
}

TEST(PortTags, VerilogAndVhdlSyntax) {
  EXPECT_EQ(extract_port_tags("module m(\n  input wire [7:0] s_axis_tdata,\n  output reg uart_tx,\n  inout i2c_sda);\n",
                              ".v"),
            (Tags{"axi", "stream", "universal", "asynchronous", "receiver", "transmitter", "serial", "inter-integrated",
                  "circuit"}));
  // The block ends at the first ")" followed by ";": irq_fifo is never seen.
  const char* vhdl =
      "entity e is\n  port (clk : in std_logic; din : in std_logic_vector(7 downto 0); irq_fifo : out std_logic);\n"
      "end entity;\n";
  EXPECT_EQ(extract_port_tags(vhdl, ".vhd"), (Tags{"clock"}));
  EXPECT_EQ(extract_port_tags(vhdl, ".vhdl"), (Tags{"clock"}));
  EXPECT_TRUE(extract_port_tags("entity e is end;", ".vhd").empty());
  // Verilog syntax for anything that is not VHDL.
  EXPECT_EQ(extract_port_tags("input clk_fifo;", ".sv"), (Tags{"clock", "fifo", "queue", "buffer"}));
}

TEST(ReadmeTags, FirstReadmeReadOncePerCache) {
  TempRepo repo;
  repo.write("README.rst", "An Ethernet chip.\n");
  repo.write("README", "uart\n");
  ReadmeTagCache cache;
  const Tags first = cache.tags_of(repo.path());
  // "ip" inside "chip" counts; words of two characters or fewer do not.
  EXPECT_EQ(first, (Tags{"ethernet", "internet", "protocol", "network"}));
  repo.write("README.rst", "fifo\n");
  EXPECT_EQ(cache.tags_of(repo.path()), first);
  EXPECT_EQ(cache.snapshot().at(repo.path()), first);
  // Another cache (another scan) sees the README as it is now.
  EXPECT_EQ(ReadmeTagCache().tags_of(repo.path()), (Tags{"fifo", "queue", "buffer"}));

  TempRepo bare;
  EXPECT_TRUE(cache.tags_of(bare.path()).empty());
  EXPECT_TRUE(cache.snapshot().count(bare.path()));

  TempRepo both;
  both.write("README.md", "fifo\n");
  both.write("README.rst", "uart\n");
  EXPECT_EQ(read_readme_tags(both.path()), (Tags{"fifo", "queue", "buffer"}));
}

}  // namespace
