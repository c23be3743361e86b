#include <gtest/gtest.h>

#include <quarrix/llm/endpoint.hpp>

#include "llm/test_support.hpp"

namespace quarrix::llm {
namespace {

TEST(Endpoint, AcceptsHostAndPortOnlyAndPlainHttpOnlyOnLoopback) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases{
      {"https://proxy.example.org", "https://proxy.example.org"},
      {"  HTTPS://proxy.example.org:8443/ ", "https://proxy.example.org:8443"},
      {"https://10.0.0.5:443", "https://10.0.0.5:443"},
      {"https://[2001:db8::1]:8443", "https://[2001:db8::1]:8443"},
      {"http://127.0.0.1:8080", "http://127.0.0.1:8080"},
      {"http://127.1.2.3", "http://127.1.2.3"},
      {"http://localhost:9", "http://localhost:9"},
      {"http://[::1]:8080", "http://[::1]:8080"},
      // Plain http elsewhere would carry the key in clear.
      {"http://proxy.example.org", std::nullopt},
      {"http://10.0.0.5:8080", std::nullopt},
      {"http://128.0.0.1", std::nullopt},
      {"http://127.0.0.1.example.org", std::nullopt},
      {"http://[::2]", std::nullopt},
      // Not a bare scheme://host[:port].
      {"", std::nullopt},
      {"api.groq.com", std::nullopt},
      {"ftp://127.0.0.1", std::nullopt},
      {"https://", std::nullopt},
      {"https://host/path", std::nullopt},
      {"https://user@host", std::nullopt},
      {"https://host:0", std::nullopt},
      {"https://host:65536", std::nullopt},
      {"https://host:", std::nullopt},
      {"https://host?q", std::nullopt},
      {"https://[::1", std::nullopt},
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(parse_base_url(input), expected) << input;
}

TEST(Endpoint, OverrideIsReadAtEachCallAndFallsBackSilently) {
  const char* var = "QUARRIX_TEST_BASE_URL";
  {
    testing::ScopedEnv unset(var, std::nullopt);
    EXPECT_EQ(resolve_base_url(var, "https://default.example"), "https://default.example");
  }
  {
    testing::ScopedEnv set(var, "http://127.0.0.1:1234");
    EXPECT_EQ(resolve_base_url(var, "https://default.example"), "http://127.0.0.1:1234");
  }
  {
    testing::ScopedEnv rejected(var, "http://public.example");
    EXPECT_EQ(resolve_base_url(var, "https://default.example"), "https://default.example");
  }
}

}  // namespace
}  // namespace quarrix::llm
