#include "quarrix/hdl/language.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarrix::hdl {
namespace {

std::vector<std::string> strings(std::span<const std::string_view> views) { return {views.begin(), views.end()}; }

TEST(HdlLanguage, SuffixTablesInListingOrder) {
  EXPECT_EQ(strings(kHdlSuffixes), (std::vector<std::string>{".v", ".sv", ".vh", ".svh", ".vhd", ".vhdl"}));
  EXPECT_EQ(strings(kVerilogSuffixes), (std::vector<std::string>{".v", ".sv", ".vh", ".svh"}));
  EXPECT_EQ(strings(kVhdlSuffixes), (std::vector<std::string>{".vhd", ".vhdl"}));
}

TEST(HdlLanguage, SuffixQueriesCompareExactly) {
  EXPECT_EQ(language_of_suffix(".svh"), HdlLanguage::verilog);
  EXPECT_EQ(language_of_suffix(".vhdl"), HdlLanguage::vhdl);
  EXPECT_EQ(language_of_suffix(".VHD"), std::nullopt);
  EXPECT_EQ(language_of_suffix(".c"), std::nullopt);
  EXPECT_TRUE(is_vhdl_suffix(".vhd"));
  EXPECT_FALSE(is_vhdl_suffix(".v"));
  EXPECT_TRUE(is_verilog_suffix(".vh"));
  EXPECT_FALSE(is_verilog_suffix(".SV"));
  EXPECT_TRUE(is_systemverilog_suffix(".sv"));
  EXPECT_TRUE(is_systemverilog_suffix(".svh"));
  EXPECT_FALSE(is_systemverilog_suffix(".v"));
  EXPECT_FALSE(is_systemverilog_suffix(".vh"));
}

TEST(HdlLanguage, PathLanguageIgnoresCase) {
  EXPECT_EQ(language_of_path("rtl/Top.SV"), HdlLanguage::verilog);
  EXPECT_EQ(language_of_path("a/b.Vhd"), HdlLanguage::vhdl);
  EXPECT_EQ(language_of_path("a.v/readme"), std::nullopt);
  EXPECT_EQ(language_of_path(".v"), std::nullopt);  // a hidden name has no suffix
}

TEST(HdlLanguage, SuffixIndexMatchesNameEndsCaseSensitively) {
  EXPECT_EQ(hdl_suffix_index("top.v"), 0u);
  EXPECT_EQ(hdl_suffix_index("defs.svh"), 3u);
  EXPECT_EQ(hdl_suffix_index("pkg.vhdl"), 5u);
  EXPECT_EQ(hdl_suffix_index(".v"), 0u);
  EXPECT_EQ(hdl_suffix_index("TOP.V"), kHdlSuffixes.size());
  EXPECT_EQ(hdl_suffix_index("notes.txt"), kHdlSuffixes.size());
}

}  // namespace
}  // namespace quarrix::hdl
