// The description chain over fixture sources: each tier wins where the tiers
// before it have nothing acceptable.

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <quarrix/describe/chain.hpp>
#include <quarrix/llm/chain.hpp>
#include <quarrix/llm/stats.hpp>

namespace {

using quarrix::Json;
using quarrix::describe::Services;
using quarrix::llm::ChainSettings;
using Result = std::pair<std::string, std::string>;

// The chain with `services` and one provider, groq, keyed.
Result generate_description(std::string_view entity, const std::string& path, std::string_view ns,
                            std::string_view language, bool use_llm = true,
                            const std::optional<std::string>& previous = std::nullopt,
                            const std::optional<std::string>& locked = std::nullopt, const Services& services = {}) {
  ChainSettings settings;
  settings.providers = {"groq"};
  settings.api_keys = {{"groq", "test-key"}};
  return quarrix::describe::generate_description({entity, path, ns, language}, services, settings, use_llm,
                                                 {previous, locked});
}

std::string fixture(const char* name) { return std::string(QUARRIX_FIXTURES_DIR) + "/describe/" + name; }

TEST(GenerateDescription, TierWinners) {
  struct Case {
    const char* entity;
    const char* file;
    std::optional<std::string> previous;
    std::optional<std::string> locked;
    Result expected;
  };
  const Case cases[] = {
      // Locked text wins over a usable header and is not validated.
      {"async_fifo",
       "async_fifo.vhd",
       std::nullopt,
       "Copyright notice kept by the curator",
       {"Copyright notice kept by the curator", "verdict"}},
      // An empty locked text is ignored.
      {"async_fifo",
       "async_fifo.vhd",
       std::nullopt,
       "",
       {"Dual-clock FIFO for crossing data between two unrelated clock domains.", "header"}},
      {"rr_arbiter",
       "rr_arbiter.vhd",
       std::nullopt,
       std::nullopt,
       {"Round-robin arbiter that grants one of four requesters per cycle.", "header"}},
      {"axis_fifo", "axis_fifo.v", std::nullopt, std::nullopt, {"AXI4-Stream FIFO with optional frame mode", "header"}},
      {"mul32",
       "mul32.sv",
       "Old text",
       std::nullopt,
       {"Pipelined 32-bit multiplier with registered inputs and outputs.", "header"}},
      // The header is warranty text: rejected, the ports tier answers.
      {"uart_tx",
       "uart_tx.v",
       std::nullopt,
       std::nullopt,
       {"UART transmit engine with ready/valid handshake", "ports"}},
      {"glue",
       "glue.v",
       "Wire-through glue between two clock-free blocks",
       std::nullopt,
       {"Wire-through glue between two clock-free blocks", "preserved"}},
      {"glue", "glue.v", "glue module", std::nullopt, {"acme IP: glue", "auto"}},
      {"glue", "glue.v", "", std::nullopt, {"acme IP: glue", "auto"}},
      {"ghost", "missing.v", std::nullopt, std::nullopt, {"acme IP: ghost", "auto"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.entity) + " " + c.file);
    EXPECT_EQ(generate_description(c.entity, fixture(c.file), "acme", "verilog", false, c.previous, c.locked),
              c.expected);
  }
}

// The language-model tier, with a fake provider behind the provider chain.
class LlmTier : public ::testing::Test {
 protected:
  struct Call {
    std::string entity, signature, language;
    Json hints;
  };

  void SetUp() override {
    quarrix::llm::reset_llm_session();
    services_.llm.ask = [this](std::string_view, const quarrix::llm::DescribeRequest& request,
                               const quarrix::llm::SleepFunction&) {
      calls_.push_back({std::string(request.entity_name), std::string(request.signature), std::string(request.language),
                        request.hints});
      return quarrix::llm::Reply{answer_, "ok"};
    };
  }
  void TearDown() override { quarrix::llm::reset_llm_session(); }

  Result describe(std::string_view entity, const char* file,
                  const std::optional<std::string>& previous = std::nullopt) {
    return generate_description(entity, fixture(file), "acme", "verilog", true, previous, std::nullopt, services_);
  }

  std::optional<std::string> answer_ = "Combinational glue that forwards its input to its output";
  std::vector<Call> calls_;
  Services services_;
};

TEST_F(LlmTier, AnswersWhenHeaderAndPortsHaveNothing) {
  EXPECT_EQ(describe("glue", "glue.v", "Previous text"), Result(*answer_, "llm"));
  ASSERT_EQ(calls_.size(), 1u);
  EXPECT_EQ(calls_[0].entity, "glue");
  EXPECT_EQ(calls_[0].language, "verilog");
  EXPECT_NE(calls_[0].signature.find("module glue"), std::string::npos);
}

TEST_F(LlmTier, RejectedPortSentenceStillSuppliesHints) {
  services_.is_suspect = [](std::string_view text, const std::optional<std::string>&,
                            const std::optional<std::string>&) {
    return text.find("WARRANTY") != std::string_view::npos || text.find("UART transmit") == 0;
  };
  EXPECT_EQ(describe("uart_tx", "uart_tx.v").second, "llm");
  ASSERT_EQ(calls_.size(), 1u);
  EXPECT_EQ(calls_[0].hints["protocols"], Json::array({"UART"}));
  EXPECT_EQ(calls_[0].hints["role"], "transmit engine");
}

TEST_F(LlmTier, SkippedWithoutSignatureOrWhenDisabled) {
  EXPECT_EQ(describe("ghost", "missing.v", "Previous text"), Result("Previous text", "preserved"));
  EXPECT_EQ(
      generate_description("glue", fixture("glue.v"), "acme", "verilog", false, std::nullopt, std::nullopt, services_),
      Result("acme IP: glue", "auto"));
  EXPECT_TRUE(calls_.empty());
}

TEST_F(LlmTier, UnusableAnswerFallsThrough) {
  answer_ = "Here is a description of the module:";
  EXPECT_EQ(describe("glue", "glue.v", "Previous text"), Result("Previous text", "preserved"));
  answer_ = std::nullopt;
  EXPECT_EQ(describe("glue", "glue.v"), Result("acme IP: glue", "auto"));
  EXPECT_EQ(calls_.size(), 2u);
}

TEST(GenerateDescription, FillerIsNeverValidated) {
  Services rejecting;
  rejecting.is_suspect = [](std::string_view, const std::optional<std::string>&, const std::optional<std::string>&) {
    return true;
  };
  EXPECT_EQ(generate_description("axis_fifo", fixture("axis_fifo.v"), "acme", "verilog", false, "Clean text",
                                 std::nullopt, rejecting),
            Result("acme IP: axis_fifo", "auto"));
  EXPECT_EQ(
      generate_description("axis_fifo", fixture("axis_fifo.v"), "acme", "verilog", false, std::nullopt, "x", rejecting),
      Result("x", "verdict"));
}

}  // namespace

namespace {

TEST(GenerateDescription, TemplateHeaderGivesItsDescriptionField) {
  EXPECT_EQ(generate_description("ahb_bridge", fixture("ahb_bridge.v"), "acme", "verilog", false),
            Result("AXI4 -> AHB Bridge, with burst splitting at 1 KiB boundaries", "header"));
}

}  // namespace
