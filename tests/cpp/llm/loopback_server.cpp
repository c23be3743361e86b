#include "llm/loopback_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include <gtest/gtest.h>

namespace quarrix::llm::testing {

namespace {

// Keeps every request of the suite on the loopback interface.
class NoProxyEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
      unsetenv(name);
  }
};
[[maybe_unused]] ::testing::Environment* const kNoProxy = ::testing::AddGlobalTestEnvironment(new NoProxyEnvironment);

int listen_socket(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket() failed");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(fd, 8) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(fd);
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  port = ntohs(addr.sin_port);
  return fd;
}

bool iequal(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// False once the peer is gone.
bool send_all(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

std::string ReceivedRequest::header(std::string_view name) const {
  for (const auto& [key, value] : headers)
    if (iequal(key, name)) return value;
  return "<absent>";
}

LoopbackServer::LoopbackServer(std::vector<ScriptedResponse> script) : script_(std::move(script)) {
  listen_fd_ = listen_socket(port_);
  thread_ = std::thread([this] { serve(); });
}

LoopbackServer::~LoopbackServer() {
  stop_ = true;
  thread_.join();
  close(listen_fd_);
}

std::string LoopbackServer::url(std::string_view path, std::string_view scheme) const {
  return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<ReceivedRequest> LoopbackServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

bool LoopbackServer::wait_readable(int fd, double seconds) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!stop_ && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) > 0) return true;
  }
  return false;
}

void LoopbackServer::pause(double seconds) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!stop_ && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void LoopbackServer::idle_until_closed(int fd) const {
  char buffer[4096];
  while (!stop_) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) > 0 && recv(fd, buffer, sizeof buffer, 0) <= 0) return;
  }
}

// Sends the pieces `interval` seconds apart (over and over with `repeat`)
// until the peer leaves or the server stops.
void LoopbackServer::drip(int fd, const std::vector<std::string>& pieces, double interval, bool repeat) const {
  do {
    for (const std::string& piece : pieces) {
      if (stop_ || !send_all(fd, piece)) return;
      pause(interval);
    }
  } while (repeat);
}

void LoopbackServer::serve() {
  while (!stop_) {
    if (!wait_readable(listen_fd_, 0.05)) continue;
    const int fd = accept(listen_fd_, nullptr, nullptr);
    if (fd < 0) continue;
    const size_t index = static_cast<size_t>(connections_++);
    handle(fd, script_.empty() ? ScriptedResponse{} : script_[std::min(index, script_.size() - 1)]);
    close(fd);
  }
}

void LoopbackServer::handle(int fd, const ScriptedResponse& response) {
  using Kind = ScriptedResponse::Kind;
  char buffer[4096];
  if (response.kind == Kind::garbage) {
    if (wait_readable(fd, 5.0)) (void)recv(fd, buffer, sizeof buffer, 0);
    send_all(fd, "this is not a protocol answer\r\n\r\n");
    return;
  }

  // Read the head, then as much body as Content-Length announces.
  std::string data;
  size_t head_end = std::string::npos;
  while (head_end == std::string::npos) {
    if (!wait_readable(fd, 5.0)) return;
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    data.append(buffer, static_cast<size_t>(n));
    head_end = data.find("\r\n\r\n");
  }
  ReceivedRequest request;
  const std::string head = data.substr(0, head_end);
  size_t line_end = head.find("\r\n");
  const std::string request_line = head.substr(0, line_end);
  const size_t sp1 = request_line.find(' ');
  const size_t sp2 = request_line.find(' ', sp1 + 1);
  request.method = request_line.substr(0, sp1);
  request.target = request_line.substr(sp1 + 1, sp2 - sp1 - 1);
  while (line_end != std::string::npos) {
    const size_t start = line_end + 2;
    line_end = head.find("\r\n", start);
    const std::string line = head.substr(start, line_end == std::string::npos ? std::string::npos : line_end - start);
    const size_t colon = line.find(':');
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' '));
    request.headers.emplace_back(line.substr(0, colon), value);
  }
  const std::string length = request.header("Content-Length");
  const size_t want = length == "<absent>" ? 0 : std::stoul(length);
  request.body = data.substr(head_end + 4);
  while (request.body.size() < want && wait_readable(fd, 5.0)) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    request.body.append(buffer, static_cast<size_t>(n));
  }
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(request));
  }

  if (response.kind == Kind::endless_continue) {
    drip(fd, {"HTTP/1.1 100 Continue\r\n\r\n"}, response.delay, true);
    return;
  }
  pause(response.delay);
  switch (response.kind) {
    case Kind::stall: idle_until_closed(fd); return;
    case Kind::close: return;
    case Kind::reset: {
      const linger hard{1, 0};
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
      return;
    }
    default: break;
  }
  std::string out = "HTTP/1.1 " + std::to_string(response.status) + " Scripted\r\n";
  for (const auto& [name, value] : response.headers) out += name + ": " + value + "\r\n";
  const size_t announced = response.kind == Kind::stall_body ? 100 : response.body.size();
  out += "Content-Length: " + std::to_string(announced) + "\r\nConnection: close\r\n\r\n";
  if (response.kind == Kind::answer) out += response.body;
  if (!send_all(fd, out)) return;
  if (response.kind == Kind::stall_body) idle_until_closed(fd);
  if (response.kind == Kind::trickle) {
    std::vector<std::string> bytes;
    for (char c : response.body) bytes.emplace_back(1, c);
    drip(fd, bytes, response.delay, false);
  }
}

int closed_port() {
  int port = 0;
  close(listen_socket(port));
  return port;
}

}  // namespace quarrix::llm::testing
