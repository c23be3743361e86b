#pragma once
// A scripted HTTP/1.1 server on 127.0.0.1 for exercising the client end to end.
// It serves one connection at a time, answers the n-th connection with the
// n-th scripted response (the last one repeats) and records what it received.

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace quarrix::llm::testing {

struct ScriptedResponse {
  enum class Kind {
    answer,            // status line, headers, body
    stall,             // read the request, never answer
    stall_body,        // status line and headers promising a body that never comes
    close,             // read the request, close without a word
    reset,             // read the request, reset the connection
    garbage,           // one read, then bytes that are not HTTP (or TLS)
    trickle,           // status line and headers, then the body one byte every `delay` seconds
    endless_continue,  // "100 Continue" interim answers, `delay` seconds apart, until the client leaves
  };
  Kind kind = Kind::answer;
  int status = 200;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  double delay = 0.0;  // seconds before answering (and between the pieces of a slow answer)
};

struct ReceivedRequest {
  std::string method;
  std::string target;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The value of the named field (case-insensitive), or "<absent>".
  std::string header(std::string_view name) const;
};

class LoopbackServer {
 public:
  explicit LoopbackServer(std::vector<ScriptedResponse> script);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>" (or another scheme) followed by `path`.
  std::string url(std::string_view path = "", std::string_view scheme = "http") const;
  std::vector<ReceivedRequest> requests() const;
  int connections() const { return connections_.load(); }

 private:
  void serve();
  void handle(int fd, const ScriptedResponse& response);
  bool wait_readable(int fd, double seconds) const;
  void pause(double seconds) const;
  void idle_until_closed(int fd) const;
  void drip(int fd, const std::vector<std::string>& pieces, double interval, bool repeat) const;

  std::vector<ScriptedResponse> script_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::vector<ReceivedRequest> requests_;
  std::thread thread_;
};

// A loopback port that nothing listens on.
int closed_port();

}  // namespace quarrix::llm::testing
