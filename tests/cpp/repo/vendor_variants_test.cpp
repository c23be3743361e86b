#include <quarrix/repo/vendor_variants.hpp>

#include <gtest/gtest.h>

namespace {

using quarrix::Json;
using quarrix::repo::detect_vendor_variants;

TEST(VendorVariants, Conventions) {
  struct Case {
    std::vector<std::string> candidates;
    const char* expected;
  } cases[] = {
      {{"rtl/TECH/xilinx/ram.v", "rtl/TECH/altera/ram.v", "rtl/TECH/ram.v"},
       R"({"generic": ["rtl/TECH/ram.v"], "intel": ["rtl/TECH/altera/ram.v"], "xilinx": ["rtl/TECH/xilinx/ram.v"]})"},
      {{"rtl/tech/Xilinx/ram.v"}, R"({"xilinx": ["rtl/tech/Xilinx/ram.v"]})"},
      {{"TECH/ram.v"}, "{}"},  // "/TECH/" must occur inside the path
      {{"rtl/TECH/foo/ram.v"}, "{}"},
      // An unknown vendor directory goes on to the suffix pass.
      {{"rtl/TECH/foo/ram_xilinx.v", "rtl/TECH/foo/ram.v"}, R"({"xilinx": ["rtl/TECH/foo/ram_xilinx.v"]})"},
      {{"pll_xilinx.v", "pll_intel.v"}, R"({"intel": ["pll_intel.v"], "xilinx": ["pll_xilinx.v"]})"},
      {{"pll_xilinx.v", "pll.v"}, R"({"xilinx": ["pll_xilinx.v"]})"},
      {{"pll_xilinx.v"}, "{}"},
      {{"pll_xilinx.v", "pll_xilinx.vhd"}, "{}"},
      {{"a/pll_xilinx.v", "b/pll.v"}, "{}"},
      {{"gtx_xilinx_kintex_v3.v", "gtx.v"}, "{}"},
      {{"fifo_xilinx.v", "fifo_amd.v"}, R"({"xilinx": ["fifo_amd.v", "fifo_xilinx.v"]})"},
      {{"rtl\\pll_Lattice.v", "rtl\\pll_Actel.v"},
       R"({"lattice": ["rtl\\pll_Lattice.v"], "microchip": ["rtl\\pll_Actel.v"]})"},
      // Reached by both passes, counted once.
      {{"x/TECH/xilinx/pll_xilinx.v", "x/TECH/xilinx/pll.v"},
       R"({"xilinx": ["x/TECH/xilinx/pll.v", "x/TECH/xilinx/pll_xilinx.v"]})"},
      {{"a/TECH/b/TECH/ram.v"}, "{}"},  // a second "/TECH/" disqualifies the top-file rule
      {{"uart.v", "fifo.vhd"}, "{}"},
      {{}, "{}"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(detect_vendor_variants("/repo", c.candidates).dump(), Json::parse(c.expected).dump()) << c.expected;
}

TEST(VendorVariants, VendorsAscendingListsSortedAndUnique) {
  const Json got =
      detect_vendor_variants("", {"z/ram_xilinx.v", "z/ram_intel.v", "a/ram_xilinx.v", "a/ram.v", "z/ram_xilinx.v"});
  EXPECT_EQ(got.dump(), R"({"intel":["z/ram_intel.v"],"xilinx":["a/ram_xilinx.v","z/ram_xilinx.v"]})");
}

}  // namespace
