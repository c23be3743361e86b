#include <cmath>
#include <limits>
#include <map>
#include <stdexcept>

#include <gtest/gtest.h>

#include <quarrix/llm/chain.hpp>
#include <quarrix/llm/stats.hpp>

#include "llm/loopback_server.hpp"
#include "llm/test_support.hpp"

namespace quarrix::llm {
namespace {

using testing::ScopedEnv;

TEST(Chain, ProviderChainFromEnvironment) {
  const std::vector<std::pair<std::optional<std::string>, std::vector<std::string>>> cases{
      {std::nullopt, {"groq", "gemini", "anthropic"}},
      {"", {"groq", "gemini", "anthropic"}},
      {" Anthropic , foo", {"anthropic"}},
      {"foo", {"groq", "gemini", "anthropic"}},
      {",", {"groq", "gemini", "anthropic"}},
      {"groq,groq", {"groq", "groq"}},
      {"GEMINI,,groq", {"gemini", "groq"}},
  };
  for (const auto& [value, expected] : cases) {
    ScopedEnv env("QUARRIX_LLM_PROVIDERS", value);
    EXPECT_EQ(resolve_provider_chain(), expected) << value.value_or("<unset>");
  }
}

TEST(Chain, PaceFromEnvironment) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<std::optional<std::string>, double>> cases{
      {std::nullopt, 0.0}, {"", 0.0},    {"abc", 0.0}, {"-1", 0.0},   {"0", 0.0},
      {"nan", 0.0},        {"0.5", 0.5}, {" 2 ", 2.0}, {"1e-1", 0.1}, {"inf", inf},
  };
  for (const auto& [value, expected] : cases) {
    ScopedEnv env("QUARRIX_LLM_PACE", value);
    EXPECT_EQ(resolve_pace(), expected) << value.value_or("<unset>");
  }
}

struct Call {
  std::string provider;
  std::string api_key;
  Json hints;
  bool operator==(const Call&) const = default;
};

// Scripted adapters: each operation name answers from its own queue (the last
// answer repeats) and every call is recorded.
class ChainTest : public ::testing::Test {
 protected:
  std::optional<std::string> describe(const Json& hints = Json()) {
    return llm_describe("fifo", "module fifo;", "verilog", hints, ChainSettings::from_environment(), services());
  }

  ChainServices services() {
    return {[this](std::string_view provider, const DescribeRequest& request, const SleepFunction&) {
              calls.push_back({std::string(provider), std::string(request.api_key), request.hints});
              auto& queue = answers[std::string(provider)];
              if (queue.empty()) throw std::runtime_error("unscripted provider " + std::string(provider));
              Reply r = queue.front();
              if (queue.size() > 1) queue.erase(queue.begin());
              return r;
            },
            sleeps.function()};
  }

  std::map<std::string, std::vector<Reply>> answers;
  std::vector<Call> calls;
  testing::SleepRecorder sleeps;
  testing::FreshSession session;
  ScopedEnv providers{"QUARRIX_LLM_PROVIDERS", std::nullopt};
  ScopedEnv pace{"QUARRIX_LLM_PACE", std::nullopt};
  ScopedEnv groq_key{"GROQ_API_KEY", "g-key"};
  ScopedEnv gemini_key{"GEMINI_API_KEY", "m-key"};
  ScopedEnv anthropic_key{"ANTHROPIC_API_KEY", "a-key"};
};

TEST_F(ChainTest, NoKeysMeansNoCallsNoCountsNoPause) {
  ScopedEnv g("GROQ_API_KEY", std::nullopt), m("GEMINI_API_KEY", ""), a("ANTHROPIC_API_KEY", std::nullopt);
  ScopedEnv p("QUARRIX_LLM_PACE", "1");
  EXPECT_EQ(describe(), std::nullopt);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(get_llm_stats(), Json::object());
  EXPECT_TRUE(sleeps.delays.empty());
}

TEST_F(ChainTest, WalksTheConfiguredOrderAndPausesAfterEveryCall) {
  ScopedEnv order("QUARRIX_LLM_PROVIDERS", "anthropic,gemini,groq");
  ScopedEnv p("QUARRIX_LLM_PACE", "0.5");
  ScopedEnv m("GEMINI_API_KEY", std::nullopt);
  ScopedEnv a("ANTHROPIC_API_KEY", " a key ");
  answers["anthropic"] = {{std::nullopt, "timeout"}};
  answers["groq"] = {{"# Title\n'Synchronous FIFO.'", "ok"}};
  const Json hints = Json::parse(R"({"role": "FIFO buffer"})");
  EXPECT_EQ(describe(hints), "Synchronous FIFO.");
  EXPECT_EQ(calls, (std::vector<Call>{{"anthropic", " a key ", hints}, {"groq", "g-key", hints}}));
  EXPECT_EQ(sleeps.delays, (std::vector<double>{0.5, 0.5}));
  EXPECT_EQ(format_llm_summary(), "LLM provider stats:\n  groq: 1 calls (ok=1)\n  anthropic: 1 calls (timeout=1)");
}

TEST_F(ChainTest, RefusedKeyMarksProviderDeadUntilReset) {
  ScopedEnv p("QUARRIX_LLM_PACE", "0.25");
  answers["groq"] = {{std::nullopt, "403"}};
  answers["gemini"] = {{"Gemini answer", "ok"}};
  EXPECT_EQ(describe(), "Gemini answer");
  EXPECT_EQ(describe(), "Gemini answer");
  EXPECT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[2].provider, "gemini");
  EXPECT_EQ(sleeps.delays, (std::vector<double>{0.25, 0.25, 0.25}));
  EXPECT_EQ(format_llm_summary(), "LLM provider stats:\n  groq: 1 calls (403=1) DEAD\n  gemini: 2 calls (ok=2)");

  reset_llm_session();
  calls.clear();
  EXPECT_EQ(describe(), "Gemini answer");
  EXPECT_EQ(calls.front().provider, "groq");
}

TEST_F(ChainTest, UnusableAnswersMoveOnAndExhaustionGivesNone) {
  ScopedEnv order("QUARRIX_LLM_PROVIDERS", "groq,groq,gemini");
  ScopedEnv p("QUARRIX_LLM_PACE", "inf");
  answers["groq"] = {{"## heading only", "ok"}, {"", "ok"}};
  answers["gemini"] = {{std::nullopt, "5xx"}};
  EXPECT_EQ(describe(), std::nullopt);
  EXPECT_EQ(calls.size(), 3u);
  EXPECT_TRUE(sleeps.delays.empty());
  EXPECT_EQ(get_llm_stats()["groq"]["ok"], 2);
}

TEST_F(ChainTest, FirstSuccessEndsTheWalk) {
  answers["groq"] = {{"Done.", "ok"}};
  EXPECT_EQ(describe(), "Done.");
  EXPECT_EQ(calls.size(), 1u);
}

TEST_F(ChainTest, AdapterExceptionsPropagate) {
  answers["groq"] = {};
  EXPECT_THROW(describe(), std::runtime_error);
  EXPECT_EQ(get_llm_stats(), Json::object());
}

// The whole path with the built-in adapters and two loopback providers.
TEST(ChainEndToEnd, RefusalFailsOverToTheNextProvider) {
  using testing::LoopbackServer;
  using Kind = testing::ScriptedResponse::Kind;
  testing::FreshSession session;
  testing::SleepRecorder sleeps;
  LoopbackServer groq({{Kind::answer, 403, "", {}, 0.0}});
  LoopbackServer gemini(
      {{Kind::answer, 200, R"({"choices": [{"message": {"content": "\"UART transmitter.\""}}]})", {}, 0.0}});
  ScopedEnv providers("QUARRIX_LLM_PROVIDERS", "groq,gemini");
  ScopedEnv pace("QUARRIX_LLM_PACE", std::nullopt);
  ScopedEnv g("GROQ_API_KEY", "secret-groq"), m("GEMINI_API_KEY", "secret-gemini");
  ScopedEnv gb("QUARRIX_GROQ_BASE_URL", groq.url()), mb("QUARRIX_GEMINI_BASE_URL", gemini.url());

  const ChainSettings settings = ChainSettings::from_environment();
  const ChainServices services{call_native_adapter, sleeps.function()};
  EXPECT_EQ(llm_describe("uart_tx", "module uart_tx;", "verilog", Json(), settings, services), "UART transmitter.");
  EXPECT_EQ(llm_describe("uart_tx", "module uart_tx;", "verilog", Json(), settings, services), "UART transmitter.");
  EXPECT_EQ(groq.connections(), 1);
  EXPECT_EQ(gemini.connections(), 2);
  EXPECT_EQ(gemini.requests()[0].header("Authorization"), "Bearer secret-gemini");
  EXPECT_TRUE(sleeps.delays.empty());
  const std::string summary = format_llm_summary();
  EXPECT_EQ(summary, "LLM provider stats:\n  groq: 1 calls (403=1) DEAD\n  gemini: 2 calls (ok=2)");
}

}  // namespace
}  // namespace quarrix::llm
