#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <quarrix/describe/chain.hpp>
#include <quarrix/describe/suspect.hpp>

namespace {

using namespace quarrix::describe;

struct Call {
  std::string text;
  std::optional<std::string> name, ns;
};
std::vector<Call> g_calls;

bool recording(std::string_view text, const std::optional<std::string>& name, const std::optional<std::string>& ns) {
  g_calls.push_back({std::string(text), name, ns});
  return text == "bad";
}

bool throwing(std::string_view, const std::optional<std::string>&, const std::optional<std::string>&) {
  throw std::runtime_error("validator failed");
}

class Validator : public ::testing::Test {
 protected:
  void SetUp() override { g_calls.clear(); }
};

TEST_F(Validator, AcceptDescAsksTheGivenValidator) {
  EXPECT_TRUE(accept_desc("good", "uart", "acme", recording));
  EXPECT_FALSE(accept_desc("bad", "uart", "acme", recording));
  EXPECT_FALSE(accept_desc(std::nullopt, "uart", "acme", recording));
  EXPECT_FALSE(accept_desc("", "uart", "acme", recording));
  ASSERT_EQ(g_calls.size(), 2u);  // never asked about a missing or empty text
  EXPECT_EQ(g_calls[0].text, "good");
  EXPECT_EQ(g_calls[0].name, "uart");
  EXPECT_EQ(g_calls[0].ns, "acme");
}

TEST_F(Validator, ValidatorErrorsPropagate) {
  EXPECT_THROW(accept_desc("text", "uart", "acme", throwing), std::runtime_error);
}

TEST_F(Validator, OurOwnIsTheDefaultService) {
  const Services services;
  EXPECT_TRUE(services.is_suspect("Copyright 2020 Acme", std::nullopt, std::nullopt));
  EXPECT_FALSE(accept_desc("uart_tx", "uart_tx", "acme", services.is_suspect));
  EXPECT_TRUE(accept_desc("UART transmit engine with ready/valid handshake", "uart_tx", "acme", services.is_suspect));
}

}  // namespace
