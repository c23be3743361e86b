#include <thread>

#include <gtest/gtest.h>

#include <quarrix/llm/stats.hpp>
#include <quarrix/util/errors.hpp>

#include "llm/test_support.hpp"

namespace quarrix::llm {
namespace {

class Stats : public ::testing::Test {
  testing::FreshSession session_;
};

TEST_F(Stats, CountersStartWithEveryOutcomeAndKeepOrder) {
  bump_stat("groq", "429");
  bump_stat("groq", "ok");
  bump_stat("groq", "weird");
  bump_stat("groq", "ok");
  EXPECT_EQ(get_llm_stats(), Json::parse(R"({"groq": {"ok": 2, "429": 1, "403": 0, "5xx": 0, "timeout": 0,
                                               "other": 0, "weird": 1}})"));
}

TEST_F(Stats, SummaryTexts) {
  EXPECT_EQ(format_llm_summary(), "LLM: no provider calls recorded");
  for (int i = 0; i < 3; ++i) bump_stat("groq", "ok");
  bump_stat("groq", "429");
  bump_stat("anthropic", "ok");
  bump_stat("mystery", "ok");
  mark_provider_dead("groq");
  EXPECT_EQ(format_llm_summary(),
            "LLM provider stats:\n  groq: 4 calls (ok=3, 429=1) DEAD\n  anthropic: 1 calls (ok=1)");

  // A passed-in map is shown with the session's dead marks.
  EXPECT_EQ(format_llm_summary(Json::parse(R"({"gemini": {"ok": 0}, "groq": {"timeout": 2}, "anthropic": {}})")),
            "LLM provider stats:\n  groq: 2 calls (timeout=2) DEAD\n  gemini: 0 calls (n/a)");
  EXPECT_EQ(format_llm_summary(Json::parse(R"({"mystery": {"ok": 1}})")), "LLM: no calls");
  EXPECT_EQ(format_llm_summary(Json::object()), "LLM: no provider calls recorded");
  EXPECT_THROW(format_llm_summary(Json::parse(R"({"groq": {"ok": "1"}})")), ValueError);
  EXPECT_THROW(format_llm_summary(Json::parse(R"({"groq": [1]})")), ValueError);
}

TEST_F(Stats, CopiesAreIndependentAndResetClearsBoth) {
  bump_stat("gemini", "ok");
  Json copy = get_llm_stats();
  copy["gemini"]["ok"] = 99;
  EXPECT_EQ(format_llm_summary(), "LLM provider stats:\n  gemini: 1 calls (ok=1)");
  bump_stat("gemini", "ok");
  EXPECT_EQ(copy["gemini"]["ok"], 99);

  mark_provider_dead("gemini");
  mark_provider_dead("gemini");
  EXPECT_EQ(dead_providers(), std::vector<std::string>{"gemini"});
  reset_llm_session();
  EXPECT_FALSE(is_provider_dead("gemini"));
  EXPECT_EQ(format_llm_summary(), "LLM: no provider calls recorded");
}

TEST_F(Stats, ConcurrentUpdatesAreNotLost) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 2000; ++i) {
        bump_stat(t % 2 ? "groq" : "gemini", i % 2 ? "ok" : "other");
        if (i % 100 == 0) mark_provider_dead("p" + std::to_string(i % 7));
        (void)format_llm_summary();
      }
    });
  for (auto& th : threads) th.join();
  const Json stats = get_llm_stats();
  EXPECT_EQ(stats["groq"]["ok"], 4000);
  EXPECT_EQ(stats["gemini"]["other"], 4000);
  EXPECT_EQ(dead_providers().size(), 7u);
}

}  // namespace
}  // namespace quarrix::llm
