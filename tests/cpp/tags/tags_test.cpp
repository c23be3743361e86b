#include <stdlib.h>
#include <gtest/gtest.h>

#include "quarrix/tags/tags.hpp"

using namespace quarrix::tags;
using Tags = std::vector<std::string>;

namespace {
struct CapEnv {
  explicit CapEnv(const char* value) {
    if (value)
      setenv("QUARRIX_TAG_CAP", value, 1);
    else
      unsetenv("QUARRIX_TAG_CAP");
  }
  ~CapEnv() { unsetenv("QUARRIX_TAG_CAP"); }
};
}  // namespace

TEST(GenerateTags, NameWordsExpansionsAndStopwords) {
  CapEnv env(nullptr);
  const std::pair<const char*, Tags> cases[] = {
      {"axis_async_fifo", {"async", "asynchronous", "axi", "axis", "buffer", "fifo", "queue", "stream"}},
      {"eth_mac_1g", {"1g", "access", "control", "eth", "ethernet", "gigabit", "mac", "media"}},
      {"a_b_fifo", {"buffer", "fifo", "queue"}},
      {"spi_master", {"interface", "master", "peripheral", "serial", "spi"}},
      {"uart", {"asynchronous", "receiver", "serial", "transmitter", "universal"}},
      {"rx", {"receive", "receiver"}},
      {"axi_top_wrapper", {"amba", "axi", "bus"}},
      {"UART_Top", {"asynchronous", "receiver", "serial", "transmitter", "uart", "universal"}},
      {"", {}},
      {"eth_mac_10g_fifo_cdc",
       {"10gbe", "access", "buffer", "clock", "control", "crossing", "domain", "ethernet", "fifo", "gigabit", "media",
        "queue"}},
  };
  for (const auto& [name, tags] : cases) EXPECT_EQ(generate_tags(name, {}), tags) << name;
  EXPECT_EQ(generate_tags("eth_mac_10g_fifo", {}).size(), 12u);
}

TEST(GenerateTags, VendorDependencies) {
  CapEnv env(nullptr);
  EXPECT_EQ(generate_tags("x", {"unisim"}), (Tags{"fpga", "unisim", "xilinx"}));
  EXPECT_EQ(generate_tags("x", {"xpm"}), (Tags{"fpga", "xilinx", "xpm"}));
  EXPECT_EQ(generate_tags("x", {"altera_mf", "std"}), (Tags{"altera_mf"}));
}

TEST(GenerateTags, CapFromEnvironment) {
  const std::string name = "eth_mac_10g_fifo_cdc";  // 16 candidates
  const std::pair<const char*, std::size_t> cases[] = {
      {"20", 16}, {" +14 ", 14}, {"abc", 12}, {"", 12},
      {"0", 0},   {"-3", 13},    {"1.5", 12}, {"99999999999999999999", 16}};
  for (const auto& [value, count] : cases) {
    CapEnv env(value);
    EXPECT_EQ(generate_tags(name, {}, resolve_tag_cap()).size(), count) << value;
  }
}

TEST(CapTags, KeepsTheLongestThenSortsAlphabetically) {
  EXPECT_EQ(cap_tags({"bb", "a", "ccc", "dd"}, 2), (Tags{"bb", "ccc"}));  // tie on length: alphabetical
  EXPECT_EQ(cap_tags({"b", "a"}, 5), (Tags{"a", "b"}));
  EXPECT_EQ(cap_tags({"aaa", "bb", "c"}, -1), (Tags{"aaa", "bb"}));
  EXPECT_EQ(cap_tags({"aaa", "bb", "c"}, -5), Tags{});
}

TEST(Stopwords, TableShape) { EXPECT_EQ(tag_stopwords().size(), 61u); }
