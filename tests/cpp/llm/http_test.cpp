#include <chrono>
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include <quarrix/llm/http.hpp>

#include "llm/loopback_server.hpp"
#include "llm/test_support.hpp"

namespace quarrix::llm {
namespace {

using testing::LoopbackServer;
using testing::ScriptedResponse;
using Kind = ScriptedResponse::Kind;

ScriptedResponse status(int code, std::string body = "") { return {Kind::answer, code, std::move(body), {}, 0.0}; }
ScriptedResponse of_kind(Kind kind) { return {kind, 200, "", {}, 0.0}; }

const Headers kJsonHeaders{{"Content-Type", "application/json"}};

struct RetryCase {
  const char* name;
  std::vector<ScriptedResponse> script;
  long long max_retries;
  double timeout;
  Reply expected;
  int connections;
  std::vector<double> delays;
};

class RetryTest : public ::testing::TestWithParam<RetryCase> {};

TEST_P(RetryTest, OutcomeAttemptsAndBackoff) {
  const RetryCase& c = GetParam();
  LoopbackServer server(c.script);
  testing::SleepRecorder sleeps;
  const auto start = std::chrono::steady_clock::now();
  const Reply reply =
      http_post_with_retry(server.url("/x"), kJsonHeaders, "{}", {c.max_retries, c.timeout}, sleeps.function());
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(reply, c.expected);
  EXPECT_EQ(server.connections(), c.connections);
  EXPECT_EQ(sleeps.delays, c.delays);
  EXPECT_LT(elapsed, c.timeout * c.max_retries + 2.0);
}

const std::string kFffd = "\xEF\xBF\xBD";

INSTANTIATE_TEST_SUITE_P(
    Http, RetryTest,
    ::testing::Values(
        RetryCase{"success", {status(200, "hello")}, 3, 5.0, {"hello", "ok"}, 1, {}},
        RetryCase{"empty_success", {status(204)}, 3, 5.0, {"", "ok"}, 1, {}},
        RetryCase{"unauthorized", {status(401)}, 3, 5.0, {std::nullopt, "403"}, 1, {}},
        RetryCase{"forbidden", {status(403)}, 3, 5.0, {std::nullopt, "403"}, 1, {}},
        RetryCase{"server_errors", {status(503)}, 3, 5.0, {std::nullopt, "5xx"}, 3, {2.0, 4.0}},
        RetryCase{"last_5xx_status", {status(599)}, 1, 5.0, {std::nullopt, "5xx"}, 1, {}},
        RetryCase{"rate_limit_then_ok", {status(429), status(200, "second")}, 3, 5.0, {"second", "ok"}, 2, {2.0}},
        RetryCase{"last_failure_wins", {status(500), status(429)}, 2, 5.0, {std::nullopt, "429"}, 2, {2.0}},
        RetryCase{"five_attempts", {status(500)}, 5, 5.0, {std::nullopt, "5xx"}, 5, {2.0, 4.0, 8.0, 8.0}},
        RetryCase{"not_found", {status(404)}, 3, 5.0, {std::nullopt, "other"}, 1, {}},
        RetryCase{"redirect_not_followed",
                  {{Kind::answer, 302, "", {{"Location", "/elsewhere"}}, 0.0}},
                  3,
                  5.0,
                  {std::nullopt, "other"},
                  1,
                  {}},
        RetryCase{"invalid_utf8",
                  {status(200,
                          "a\xFF"
                          "b\xE2\x82")},
                  3,
                  5.0,
                  {"a" + kFffd + "b" + kFffd, "ok"},
                  1,
                  {}},
        RetryCase{"closed_without_answer", {of_kind(Kind::close)}, 3, 5.0, {std::nullopt, "other"}, 1, {}},
        RetryCase{"connection_reset", {of_kind(Kind::reset)}, 3, 5.0, {std::nullopt, "other"}, 1, {}},
        RetryCase{"never_answers", {of_kind(Kind::stall)}, 2, 0.3, {std::nullopt, "timeout"}, 2, {2.0}},
        RetryCase{"body_never_comes", {of_kind(Kind::stall_body)}, 1, 0.3, {std::nullopt, "timeout"}, 1, {}},
        RetryCase{"slow_but_within_timeout", {{Kind::answer, 200, "late", {}, 0.3}}, 1, 2.0, {"late", "ok"}, 1, {}},
        RetryCase{"no_attempt", {status(200)}, 0, 5.0, {std::nullopt, "other"}, 0, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Http, SendsExactlyTheBodyAndHeadersGiven) {
  LoopbackServer server({status(200, "{}")});
  const std::string body = std::string("{\"k\": \"\\u00e9\"}\x00\xFF", 17);
  const Headers headers{{"Authorization", "Bearer k"}, {"content-type", "application/json"}, {"X-Empty", ""}};
  ASSERT_EQ(http_post_with_retry(server.url("/v1/path?q=1"), headers, body).outcome, "ok");
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& r = requests[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.target, "/v1/path?q=1");
  EXPECT_EQ(r.body, body);
  EXPECT_EQ(r.header("Authorization"), "Bearer k");
  EXPECT_EQ(r.header("Content-Type"), "application/json");
  EXPECT_EQ(r.header("X-Empty"), "");
  EXPECT_EQ(r.header("Content-Length"), "17");
  // libcurl's own defaults stay out of the request.
  EXPECT_EQ(r.header("Accept"), "<absent>");
  EXPECT_EQ(r.header("Expect"), "<absent>");
  std::vector<std::string> names;
  for (const auto& h : r.headers) names.push_back(h.first);
  EXPECT_EQ(names, (std::vector<std::string>{"Host", "Authorization", "content-type", "X-Empty", "Content-Length"}));
}

TEST(Http, PlainRequestsBypassProxies) {
  LoopbackServer proxy({status(200, "from proxy")});
  LoopbackServer target({status(200, "direct")});
  testing::ScopedEnv p1("http_proxy", proxy.url()), p2("HTTP_PROXY", proxy.url()), p3("ALL_PROXY", proxy.url());
  EXPECT_EQ(http_post_with_retry(target.url("/"), kJsonHeaders, "{}"), (Reply{"direct", "ok"}));
  EXPECT_EQ(proxy.connections(), 0);
}

TEST(Http, UndeliveredRequestsAreTimeoutsAndRetried) {
  testing::SleepRecorder sleeps;
  const Reply refused = http_post_with_retry("http://127.0.0.1:" + std::to_string(testing::closed_port()) + "/",
                                             kJsonHeaders, "{}", {}, sleeps.function());
  EXPECT_EQ(refused, (Reply{std::nullopt, "timeout"}));
  EXPECT_EQ(sleeps.delays, (std::vector<double>{2.0, 4.0}));

  // TLS hand-shake with a peer that does not speak TLS.
  LoopbackServer not_tls({of_kind(Kind::garbage)});
  sleeps.delays.clear();
  EXPECT_EQ(http_post_with_retry(not_tls.url("/", "https"), kJsonHeaders, "{}", {}, sleeps.function()),
            (Reply{std::nullopt, "timeout"}));
  EXPECT_EQ(not_tls.connections(), 3);
  EXPECT_EQ(sleeps.delays, (std::vector<double>{2.0, 4.0}));
}

TEST(Http, UnsafeRequestsAreNotSent) {
  LoopbackServer server({status(200, "x")});
  testing::SleepRecorder sleeps;
  const Reply other{std::nullopt, "other"};
  const std::vector<Headers> unsafe{
      {{"X-Key", "abc\r\nInjected: 1"}},
      {{"X-Key", std::string("a\0b", 3)}},
      {{"Bad Name", "v"}},
      {{"", "v"}},
      {{"X:Y", "v"}},
  };
  for (const Headers& h : unsafe)
    EXPECT_EQ(http_post_with_retry(server.url("/"), h, "{}", {}, sleeps.function()), other);
  for (double t : {0.0, -1.0, std::nan(""), std::numeric_limits<double>::infinity()}) {
    EXPECT_EQ(http_post_with_retry(server.url("/"), kJsonHeaders, "{}", {3, t}, sleeps.function()), other);
    EXPECT_EQ(http_post_with_retry(server.url("/"), kJsonHeaders, "{}", {3, 5.0, t}, sleeps.function()), other);
  }
  EXPECT_EQ(http_post_with_retry("ftp://127.0.0.1/", kJsonHeaders, "{}", {3, 5.0, 5.0}, sleeps.function()), other);
  EXPECT_EQ(http_post_with_retry("not a url", kJsonHeaders, "{}", {3, 5.0, 5.0}, sleeps.function()), other);
  EXPECT_EQ(server.connections(), 0);
  EXPECT_TRUE(sleeps.delays.empty());
}

TEST(Http, SlowDripHitsTheAttemptDeadline) {
  // Bytes keep moving well within the idle time-out; only the deadline ends these.
  const std::vector<ScriptedResponse> servers{
      {Kind::trickle, 200, std::string(400, 'x'), {}, 0.05},
      {Kind::endless_continue, 200, "", {}, 0.05},
  };
  for (const ScriptedResponse& response : servers) {
    LoopbackServer server({response});
    testing::SleepRecorder sleeps;
    const auto start = std::chrono::steady_clock::now();
    const Reply reply = http_post_with_retry(server.url("/"), kJsonHeaders, "{}", {2, 5.0, 1.0}, sleeps.function());
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(reply, (Reply{std::nullopt, "timeout"}));
    EXPECT_EQ(server.connections(), 2);  // retried like any time-out
    EXPECT_EQ(sleeps.delays, std::vector<double>{2.0});
    EXPECT_LT(elapsed, 10.0);  // hang guard
  }
}

TEST(Http, OversizedAnswerIsNotKept) {
  LoopbackServer server({status(200, std::string(kMaxResponseBytes + 1, 'x'))});
  EXPECT_EQ(http_post_with_retry(server.url("/"), kJsonHeaders, "{}"), (Reply{std::nullopt, "other"}));
  EXPECT_EQ(server.connections(), 1);
}

}  // namespace
}  // namespace quarrix::llm
