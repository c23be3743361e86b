#include "quarrix/hdl/module_signature.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "hdl/reference.hpp"

namespace quarrix::hdl {
namespace {

struct Case {
  const char* label;
  std::string text;
  std::string suffix;
  std::optional<std::string> signature;
};

class SignatureExamples : public ::testing::TestWithParam<Case> {};

TEST_P(SignatureExamples, FindsFirstDeclaration) {
  const Case& c = GetParam();
  EXPECT_EQ(signature_from_text(c.text, c.suffix), c.signature);
}

const std::string kFifo = "module fifo #(parameter W = 8) (input clk, output [W-1:0] q);";

INSTANTIATE_TEST_SUITE_P(
    All, SignatureExamples,
    ::testing::Values(
        Case{"Verilog", "// top\n" + kFifo + "\n  assign q = 0;\nendmodule\n", ".v", kFifo},
        Case{"OneNestingLevel", "module m #(parameter W = $clog2(D)) (input a); x;", ".v",
             "module m #(parameter W = $clog2(D)) (input a);"},
        Case{"TwoNestingLevelsFallBack", "module m #(parameter W = $clog2(max(D,2))) (input a); x;", ".v",
             "module m #(parameter W = $clog2(max(D,2))) (input a);"},
        Case{"InterfaceOnly", "interface axi_if (input logic clk);\n logic v;\nendinterface", ".sv",
             "interface axi_if (input logic clk);"},
        Case{"ModuleBeforeInterfaceInPreference", "interface i (input c);\nmodule m (input a);", ".sv",
             "module m (input a);"},
        Case{"ImportClause", "module m import pkg::*; (input a);", ".sv", "module m import pkg::*; (input a);"},
        Case{"VerilogKeywordCaseSensitive", "MODULE m (input a);", ".v", std::nullopt},
        Case{"FallbackStopsAtFirstSemicolon", "module m\n  (input a, input b) // no semicolon yet\n ;", ".v",
             "module m\n  (input a, input b) // no semicolon yet\n ;"},
        Case{"NothingDeclared", "wire x;", ".v", std::nullopt},
        Case{"VhdlCaseInsensitive", "library ieee;\nENTITY fifo IS\n port (a : in bit);\nEND fifo;\narchitecture",
             ".vhd", "ENTITY fifo IS\n port (a : in bit);\nEND fifo;"},
        Case{"VhdlBareEndRunsToNextNamedEnd",
             "entity e is\n port (a : in bit);\nend;\narchitecture rtl of e is\nbegin\nend rtl;", ".vhdl",
             "entity e is\n port (a : in bit);\nend;\narchitecture rtl of e is\nbegin\nend rtl;"}),
    [](const auto& info) { return std::string(info.param.label); });

std::string port_list(int lines) {
  std::string text = "module m (\n";
  for (int i = 0; i < lines; ++i) text += "  input p" + std::to_string(i) + ",\n";
  return text + "  input last);\n";
}

TEST(Signature, LineLimitDependsOnSuffix) {
  const std::string text = port_list(100);
  const auto count = [](const std::optional<std::string>& s) { return util::splitlines(*s).size(); };
  EXPECT_EQ(count(signature_from_text(text, ".sv")), 80u);
  EXPECT_EQ(count(signature_from_text(text, ".svh", 5)), 80u);  // the SystemVerilog limit ignores the argument
  EXPECT_EQ(count(signature_from_text(text, ".v")), 40u);
  EXPECT_EQ(count(signature_from_text(text, ".v", 3)), 3u);
  EXPECT_EQ(signature_from_text(text, ".v", 0), "");
  EXPECT_EQ(count(signature_from_text(text, ".v", -100)), 2u);  // a slice bound: drops from the end
  EXPECT_FALSE(util::contains(*signature_from_text(text, ".v"), "..."));
}

TEST(Signature, ReadsFilesAndLowerCasesTheSuffix) {
  const auto dir = std::filesystem::temp_directory_path() / "quarrix_hdl_signature";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "m.SV") << port_list(100);
  EXPECT_EQ(util::splitlines(extract_module_signature((dir / "m.SV").string())).size(), 80u);
  EXPECT_EQ(find_module_signature((dir / "missing.v").string()), std::nullopt);
  EXPECT_EQ(extract_module_signature(dir.string()), "");  // a directory is unreadable, not an error
  std::filesystem::remove_all(dir);
}

std::optional<std::string> reference_signature(std::string_view text, std::string_view suffix) {
  if (suffix == ".vhd") {
    static const util::Regex entity(kVhdlEntityPattern, util::kIgnoreCase | util::kDotAll);
    return testing::search_group(entity, text);
  }
  static const auto patterns = [] {
    std::vector<util::Regex> out;
    for (const std::string keyword : {"module", "interface"}) {
      out.emplace_back("(" + keyword + std::string(kVerilogHeaderTail), util::kDotAll);
      out.emplace_back("(" + keyword + std::string(kVerilogHeaderFallbackTail), util::kDotAll);
    }
    return out;
  }();
  for (const util::Regex& re : patterns)
    if (auto m = testing::search_group(re, text)) return m;
  return std::nullopt;
}

TEST(SignatureDifferential, AgreesWithPatterns) {
  testing::RandomText verilog({"module", "interface", " ", "\n", "m", "x_1", "#", "(", ")", "((", "))", ";", "import",
                               " import p::*;", "input a", ",", "$clog2(", "\u00e9", "modulex"},
                              3);
  testing::RandomText vhdl({"entity", "ENTITY", " ", "\n", "e", "is", " is ", "end", "END", "end entity", ";", "x",
                            "port (a : in bit);", "entity e is\n", "end e;", "end;"},
                           5);
  // Parameter lists: nesting, closing candidates and port lists.
  testing::RandomText params({"module m ", "#", "#(", "(", ")", "a", " ", "\n", ";", ") (", ");"}, 9);
  int found = 0;
  for (int i = 0; i < 40000; ++i) {
    const std::string p = "module m #(" + params.next(16);
    ASSERT_EQ(signature_from_text(p, ".v", 1000), reference_signature(p, ".v")) << "text: " << p;
    const std::string v = verilog.next();
    const std::string h = vhdl.next();
    const auto got = signature_from_text(v, ".sv", 1000);
    ASSERT_EQ(got, reference_signature(v, ".sv")) << "text: " << v;
    ASSERT_EQ(signature_from_text(h, ".vhd", 1000), reference_signature(h, ".vhd")) << "text: " << h;
    found += got.has_value();
  }
  EXPECT_GT(found, 1000);
}

}  // namespace
}  // namespace quarrix::hdl
