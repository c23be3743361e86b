#include <gtest/gtest.h>

#include <quarrix/llm/adapters.hpp>

#include "llm/loopback_server.hpp"
#include "llm/test_support.hpp"

namespace quarrix::llm {
namespace {

using testing::LoopbackServer;
using testing::ScopedEnv;
using testing::ScriptedResponse;

using AdapterFn = Reply (*)(std::string_view, std::string_view, std::string_view, std::string_view, const Json&,
                            const SleepFunction&);

struct Provider {
  const char* name;
  AdapterFn fn;
  const char* base_env;
  const char* path;
  const char* model;
  std::vector<std::pair<std::string, std::string>> headers;  // with the key "KEY-1"
};

const std::vector<Provider> kProviders{
    {"groq",
     llm_describe_groq,
     "QUARRIX_GROQ_BASE_URL",
     "/openai/v1/chat/completions",
     "llama-3.3-70b-versatile",
     {{"Authorization", "Bearer KEY-1"}, {"Content-Type", "application/json"}, {"User-Agent", "quarrix-scanner/1.0"}}},
    {"gemini",
     llm_describe_gemini,
     "QUARRIX_GEMINI_BASE_URL",
     "/v1beta/openai/chat/completions",
     "gemini-2.0-flash",
     {{"Authorization", "Bearer KEY-1"}, {"Content-Type", "application/json"}, {"User-Agent", "quarrix-scanner/1.0"}}},
    {"anthropic",
     llm_describe_anthropic,
     "QUARRIX_ANTHROPIC_BASE_URL",
     "/v1/messages",
     "claude-haiku-4-5-20251001",
     {{"x-api-key", "KEY-1"},
      {"anthropic-version", "2023-06-01"},
      {"content-type", "application/json"},
      {"User-Agent", "quarrix-scanner/1.0"}}},
};

const char* kPromptJson =
    "You are an FPGA/HDL documentation expert. Given this vhdl module declaration, write a single concise "
    "description (one sentence, under 120 characters, no quotes). Focus on what the module DOES, not how it's "
    "implemented.\\n\\nModule: f\\u00efo\\n\\n```vhdl\\nentity \\\"x\\\"\\n```\\n\\nDescription:";

TEST(Adapters, SendTheProvidersRequestToItsEndpoint) {
  for (const Provider& p : kProviders) {
    LoopbackServer server({{ScriptedResponse::Kind::answer, 200, "{}", {}, 0.0}});
    ScopedEnv base(p.base_env, server.url());
    p.fn("f\xC3\xAFo", "entity \"x\"", "vhdl", "KEY-1", Json(), real_sleep);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u) << p.name;
    const auto& r = requests[0];
    EXPECT_EQ(r.target, p.path);
    EXPECT_EQ(r.body, std::string("{\"model\": \"") + p.model +
                          "\", \"max_tokens\": 80, \"messages\": [{\"role\": \"user\", \"content\": \"" + kPromptJson +
                          "\"}]}");
    std::vector<std::pair<std::string, std::string>> sent(r.headers.begin() + 1, r.headers.end() - 1);
    EXPECT_EQ(sent, p.headers) << p.name;
  }
}

struct AnswerCase {
  const char* provider;
  int status;
  const char* body;
  Reply expected;
};

TEST(Adapters, ExtractTheAnswer) {
  const std::vector<AnswerCase> cases{
      {"groq", 200, R"({"choices": [{"message": {"content": "  An answer. \n"}}]})", {"An answer.", "ok"}},
      {"gemini", 200, R"({"choices": [{"message": {"content": "Gem."}}], "x": 1})", {"Gem.", "ok"}},
      {"groq", 200, R"({"choices": [{"message": {"content": "   "}}]})", {std::nullopt, "ok"}},
      {"groq", 200, "", {std::nullopt, "ok"}},
      {"groq", 200, R"({"choices": []})", {std::nullopt, "other"}},
      {"groq", 200, R"({"choices": [{"message": {}}]})", {std::nullopt, "other"}},
      {"groq", 200, R"({"choices": [{"message": {"content": null}}]})", {std::nullopt, "other"}},
      {"groq", 200, R"({})", {std::nullopt, "other"}},
      {"groq", 200, R"([1])", {std::nullopt, "other"}},
      {"gemini", 200, "not json", {std::nullopt, "other"}},
      {"groq", 401, "", {std::nullopt, "403"}},
      {"anthropic", 200, R"({"content": [{"type": "text", "text": " Hi. "}]})", {"Hi.", "ok"}},
      {"anthropic", 200, R"({"id": "m"})", {std::nullopt, "ok"}},
      {"anthropic", 200, R"({"content": [{}]})", {std::nullopt, "ok"}},
      {"anthropic", 200, R"({"content": []})", {std::nullopt, "other"}},
      {"anthropic", 200, R"({"content": [{"text": 5}]})", {std::nullopt, "other"}},
      {"anthropic", 200, R"({"content": null})", {std::nullopt, "other"}},
      {"anthropic", 404, "", {std::nullopt, "other"}},
  };
  for (const AnswerCase& c : cases) {
    const Provider& p = *std::find_if(kProviders.begin(), kProviders.end(),
                                      [&](const Provider& x) { return std::string(x.name) == c.provider; });
    LoopbackServer server({{ScriptedResponse::Kind::answer, c.status, c.body, {}, 0.0}});
    ScopedEnv base(p.base_env, server.url());
    EXPECT_EQ(p.fn("n", "s", "verilog", "k", Json(), real_sleep), c.expected) << c.provider << " " << c.body;
  }
}

// The provider's answer text in that provider's response shape.
std::string answer_body(const Provider& p, const std::string& text) {
  const Json quoted = text;
  if (std::string(p.name) == "anthropic") return R"({"content": [{"text": )" + quoted.dump() + "}]}";
  return R"({"choices": [{"message": {"content": )" + quoted.dump() + "}}]}";
}

TEST(Adapters, AnswerRepeatingTheKeyIsRefused) {
  const std::string key = "gsk_Q7rTz0pLmN4vXc8bYw2Ke";
  struct EchoCase {
    std::string key;
    std::string answer;
    Reply expected;
  };
  const std::vector<EchoCase> cases{
      {key, "A FIFO. " + key, {std::nullopt, "other"}},
      {key, "Stores words; ref " + key.substr(9, 8) + " end.", {std::nullopt, "other"}},  // any 8 in a row
      {key, key.substr(key.size() - 8) + " starts it", {std::nullopt, "other"}},
      {key, "Seven only: " + key.substr(5, 7) + ".", {"Seven only: " + key.substr(5, 7) + ".", "ok"}},
      {key, "A synchronous FIFO.", {"A synchronous FIFO.", "ok"}},
      {"k3y", "Holds k3y inside.", {std::nullopt, "other"}},  // shorter than a window: the whole key
      {"k3y", "Holds k3 only.", {"Holds k3 only.", "ok"}},
  };
  for (const Provider& p : kProviders) {
    for (const EchoCase& c : cases) {
      LoopbackServer server({{ScriptedResponse::Kind::answer, 200, answer_body(p, c.answer), {}, 0.0}});
      ScopedEnv base(p.base_env, server.url());
      EXPECT_EQ(p.fn("fifo", "module fifo;", "verilog", c.key, Json(), real_sleep), c.expected)
          << p.name << ": " << c.answer;
    }
  }
}

}  // namespace
}  // namespace quarrix::llm
