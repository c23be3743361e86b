#include <gtest/gtest.h>

#include <quarrix/llm/prompt.hpp>

namespace quarrix::llm {
namespace {

const std::string kHead =
    "You are an FPGA/HDL documentation expert. Given this verilog module declaration, write a single concise "
    "description (one sentence, under 120 characters, no quotes). Focus on what the module DOES, not how it's "
    "implemented.\n\nModule: fifo\n\n```verilog\nmodule fifo(input clk);\n```\n";

std::string prompt_with(const Json& hints) {
  return build_llm_prompt("fifo", "module fifo(input clk);", "verilog", hints);
}

TEST(Prompt, NoHintsSectionWithoutUsableHints) {
  for (const Json& hints : {Json(), Json::object(), Json::parse(R"({"protocols": [], "interfaces": [], "role": null,
                                                                    "has_generics": true})"),
                            Json::parse(R"({"other": "x"})"), Json::array({"role"})})
    EXPECT_EQ(prompt_with(hints), kHead + "\nDescription:") << hints.dump();
}

TEST(Prompt, HintLinesInFixedOrder) {
  const Json all = Json::parse(R"({"role": "FIFO buffer", "interfaces": ["ready/valid handshake", "interrupt"],
                                  "protocols": ["AXI4-Stream", "UART"], "has_generics": false})");
  EXPECT_EQ(prompt_with(all), kHead +
                                  "\nAnalysis hints (from port inspection):\n"
                                  "- Detected protocols: AXI4-Stream, UART\n"
                                  "- Interface patterns: ready/valid handshake, interrupt\n"
                                  "- Entity role: FIFO buffer\n"
                                  "Use these hints to write a more accurate description.\n"
                                  "\nDescription:");
  EXPECT_EQ(prompt_with(Json::parse(R"({"role": "controller"})")),
            kHead +
                "\nAnalysis hints (from port inspection):\n- Entity role: controller\n"
                "Use these hints to write a more accurate description.\n\nDescription:");
}

TEST(Prompt, CleanResponse) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases{
      {"# Description\n\"AXI4-Stream FIFO with optional packet mode.\"", "AXI4-Stream FIFO with optional packet mode."},
      {"'quoted'", "quoted"},
      {"`ticked`", "ticked"},
      {"\"", "\""},
      {"\"mixed'", "\"mixed'"},
      {"\"\"inner\"\"", "\"inner\""},
      {"# only\n  ## headings", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"\" \"", std::nullopt},
      {"first\n\nsecond", "first  second"},
      {"a\r\nb\x1e"
       "c\xE2\x80\xA8"
       "d",
       "a b c d"},
      {"  #not a heading? no:\nkept", "kept"},
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(clean_llm_response(input), expected) << input;
}

TEST(Prompt, CleanResponseIsCapped) {
  const std::string long_answer = std::string(150, 'a') + "." + std::string(200, 'b');
  EXPECT_EQ(clean_llm_response(long_answer), std::string(150, 'a') + ".");
}

}  // namespace
}  // namespace quarrix::llm
