#include "quarrix/hdl/port_names.hpp"

#include <gtest/gtest.h>

#include "hdl/reference.hpp"

namespace quarrix::hdl {
namespace {

using Names = std::vector<std::string>;

struct Case {
  const char* label;
  std::string text;
  std::string suffix;
  Names ports;
  Names generics;
};

class PortNamesExamples : public ::testing::TestWithParam<Case> {};

TEST_P(PortNamesExamples, ExtractsRawLowerCasedNames) {
  const Case& c = GetParam();
  EXPECT_EQ(extract_port_names(c.text, c.suffix), c.ports);
  EXPECT_EQ(extract_generic_names(c.text, c.suffix), c.generics);
}

INSTANTIATE_TEST_SUITE_P(
    Vhdl, PortNamesExamples,
    ::testing::Values(
        Case{"ListKeepsLastName", "entity e is\n port (full, empty : out std_logic);\nend e;", ".vhd", {"empty"}, {}},
        Case{"GenericTypeIsAName",
             "entity e is generic (WIDTH : integer := 8; DEPTH : natural := 16);\n port (a : in bit);\nend;",
             ".vhdl",
             {"a"},
             {"width", "integer", "depth", "natural"}},
        Case{"ModeWithoutWordBoundary", "port (cnt : integer range 0 to 3);\nend;", ".vhd", {"cnt"}, {}},
        Case{"EndOnSameLineIsNoBlock", "port (a : in bit); end;", ".vhd", {}, {}},
        Case{"EndOnNextLine", "port (a : in bit);\nend;", ".vhd", {"a"}, {}},
        Case{"GreedyBlockToLastClosing",
             "PORT(a : IN bit);\nend;\nport (b : out bit);\n  END x;",
             ".vhd",
             {"a", "b"},
             {}},
        Case{"InoutCapturedAsIn", "port (Data_IO : inout std_logic);\nend;", ".vhd", {"data_io"}, {}},
        Case{"UpperCaseSuffixIsNotVhdl", "port (a : in bit);\nend;", ".VHD", {}, {}}),
    [](const auto& info) { return std::string(info.param.label); });

INSTANTIATE_TEST_SUITE_P(
    Verilog, PortNamesExamples,
    ::testing::Values(
        Case{"NetAndRange", "module m(input wire [7:0] Data, output reg q, inout z);", ".v", {"data", "q", "z"}, {}},
        Case{"OnlyOneNetWordSkipped", "input logic signed [3:0] x;", ".sv", {"signed"}, {}},
        Case{"NoInterfaceRuleForV", "module m (axi_if.master m_axi, input clk);", ".v", {"clk"}, {}},
        Case{"InterfacePortsAfterPlainPorts",
             "module m (axi_if.master m_axi, input clk);\nendmodule\nmodule n (input clk);",
             ".sv",
             {"clk", "clk", "axi_if", "m_axi"},
             {}},
        Case{"ParameterList",
             "module m #(parameter integer DEPTH=16, parameter W = 8) (); localparam X = 1;",
             ".v",
             {},
             {"depth", "w"}},
        Case{"RangeClosedOnLaterBracket", "input [a] ;x] y", ".v", {"y"}, {}},
        Case{"RangeDoesNotCrossLines", "input [3:0\n] y", ".v", {}, {}}),
    [](const auto& info) { return std::string(info.param.label); });

// The scanners must find exactly what the literal pattern searches find.
Names reference_ports(std::string_view text, std::string_view suffix) {
  if (suffix == ".vhd") {
    static const util::Regex block(kVhdlPortBlockPattern, util::kIgnoreCase | util::kDotAll);
    static const util::Regex port(kVhdlPortPattern, util::kIgnoreCase);
    const auto group = testing::search_group(block, text);
    return group ? testing::finditer_group(port, *group) : Names{};
  }
  static const util::Regex port(kVerilogPortPattern, util::kIgnoreCase);
  static const util::Regex header(kSvModuleHeaderPattern, util::kDotAll);
  static const util::Regex interface_port(kSvInterfacePortPattern);
  Names names = testing::finditer_group(port, text);
  if (suffix == ".sv")
    if (const auto group = testing::search_group(header, text))
      for (auto& n : testing::finditer_group(interface_port, *group, {1, 2})) names.push_back(n);
  return names;
}

Names reference_generics(std::string_view text, std::string_view suffix) {
  if (suffix == ".vhd") {
    static const util::Regex block(kVhdlGenericBlockPattern, util::kIgnoreCase | util::kDotAll);
    static const util::Regex generic(kVhdlGenericPattern, util::kIgnoreCase);
    const auto group = testing::search_group(block, text);
    return group ? testing::finditer_group(generic, *group) : Names{};
  }
  static const util::Regex parameter(kVerilogParameterPattern, util::kIgnoreCase);
  return testing::finditer_group(parameter, text);
}

TEST(PortNamesDifferential, VhdlAgreesWithPatterns) {
  testing::RandomText gen({"port",
                           "PoRt",
                           "generic",
                           "(",
                           ")",
                           ";",
                           "\n",
                           " ",
                           "\t",
                           "end",
                           "END",
                           "endx",
                           "a",
                           "in",
                           "out",
                           "inout",
                           "integer",
                           ":",
                           ":=",
                           "x_1",
                           "--",
                           "\u00e9t\u00e9",
                           "\u3000",
                           "port (",
                           ");\n end",
                           ") ;\n\n END x",
                           "a : in bit",
                           "b, c : OUT",
                           "generic (",
                           " );",
                           "w : integer := 3;"},
                          7);
  int found = 0;
  for (int i = 0; i < 30000; ++i) {
    const std::string text = gen.next();
    const Names ports = extract_port_names(text, ".vhd");
    const Names generics = extract_generic_names(text, ".vhd");
    ASSERT_EQ(ports, reference_ports(text, ".vhd")) << "text: " << text;
    ASSERT_EQ(generics, reference_generics(text, ".vhd")) << "text: " << text;
    found += !ports.empty() + !generics.empty();
  }
  EXPECT_GT(found, 1000);  // the alphabet must keep producing matches
}

TEST(PortNamesDifferential, VerilogAgreesWithPatterns) {
  testing::RandomText gen({"input", "OUTPUT", "inout", "inoutput", "wire", "reg",       "logic", "regx", " ",      "\n",
                           "\t",    "[",      "]",     "3:0",      "a",    "b_2",       ";",     ",",    "module", "m",
                           "#",     "(",      ")",     ".",        "if",   "parameter", "int",   "=",    "\u00e9"},
                          11);
  int found = 0;
  for (int i = 0; i < 40000; ++i) {
    const std::string text = gen.next();
    const Names ports = extract_port_names(text, ".sv");
    const Names generics = extract_generic_names(text, ".v");
    ASSERT_EQ(ports, reference_ports(text, ".sv")) << "text: " << text;
    ASSERT_EQ(generics, reference_generics(text, ".v")) << "text: " << text;
    found += !ports.empty() + !generics.empty();
  }
  EXPECT_GT(found, 1000);
}

}  // namespace
}  // namespace quarrix::hdl
