#pragma once
// JSON POST over HTTPS with retry and back-off, reduced to an outcome word.

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <quarrix/llm/outcome.hpp>
#include <quarrix/llm/sleep.hpp>

namespace quarrix::llm {

// Header fields in the order they are sent.
using Headers = std::vector<std::pair<std::string, std::string>>;

// Pause after failed attempt n (from 0) is kBackoffDelays[min(n, 2)].
inline constexpr std::array<double, 3> kBackoffDelays{2.0, 4.0, 8.0};
inline constexpr long long kDefaultMaxRetries = 3;
inline constexpr double kDefaultTimeout = 15.0;
// Seconds one attempt may take in all: a server that trickles its answer, or
// sends interim "100 Continue" answers without end, still times out.
inline constexpr double kDefaultAttemptDeadline = 60.0;
// A larger answer body is not kept in memory; the call ends with "other".
inline constexpr std::size_t kMaxResponseBytes = 8u << 20;

// How often and how long http_post_with_retry may try.
struct RetryPolicy {
  long long max_retries = kDefaultMaxRetries;
  double timeout = kDefaultTimeout;
  double deadline = kDefaultAttemptDeadline;
};

// POSTs `body` to `url` at most `policy.max_retries` times. TLS peers are verified,
// redirects are not followed, and only https requests may go through a proxy
// (the usual proxy environment variables). `timeout` bounds the connection set-up and every
// wait for data, `deadline` the whole attempt; both must be finite and positive,
// otherwise no attempt is made. Either running out is a time-out.
// 401/403 give "403" at once; 429, 5xx and undelivered requests or time-outs
// are retried after kBackoffDelays; any other status or receive error gives
// "other" at once. An error answer's body is never read. A header whose name or
// value could split the request (empty name, ":", white space or control
// characters in the name, CR, LF or NUL in the value) means no attempt.
// The back-off pauses go through `sleep`. Never throws for network failures.
Reply http_post_with_retry(std::string_view url, const Headers& headers, std::string_view body,
                           const RetryPolicy& policy = {}, const SleepFunction& sleep = real_sleep);

}  // namespace quarrix::llm
