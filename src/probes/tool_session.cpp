#include "quarrix/probes/tool_session.hpp"

#include <functional>
#include <string_view>

namespace quarrix::probes {

namespace {

using Clock = std::chrono::steady_clock;

std::uint64_t fnv1a(std::string_view text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace

ToolSession::ToolSession(ToolLimits limits) : limits_(limits) {}

ToolSession::Key ToolSession::key_of(const std::vector<std::string>& argv, const std::string& cwd) {
  // Arguments joined by NUL, which no argument can hold; the scratch
  // directory's path, fresh for every run, becomes a NUL too.
  std::string text;
  for (const auto& arg : argv) {
    std::size_t from = 0;
    for (std::size_t at; !cwd.empty() && (at = arg.find(cwd, from)) != std::string::npos; from = at + cwd.size())
      text.append(arg, from, at - from).push_back('\0');
    text.append(arg, from).push_back('\0');
  }
  return {std::hash<std::string>()(text), fnv1a(text)};
}

std::optional<RunResult> ToolSession::run(const std::vector<std::string>& argv, const RunOptions& options) {
  const Key key = key_of(argv, options.cwd);
  RunOptions limited = options;
  limited.memory_limit = limits_.memory_bytes;
  bool cut_to_budget;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto it = done_.find(key); it != done_.end()) return it->second;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limits_.budget - spent_);
    if (left <= std::chrono::milliseconds::zero()) {
      ++skipped_;
      return std::nullopt;
    }
    cut_to_budget = left < limited.timeout;
    if (cut_to_budget) limited.timeout = left;
  }
  const auto start = Clock::now();
  RunResult result = run_tool(argv, limited);
  const auto took = Clock::now() - start;

  std::lock_guard<std::mutex> lock(mutex_);
  spent_ += took;
  if (result.timed_out && cut_to_budget) {
    ++skipped_;
    return std::nullopt;
  }
  done_.emplace(key, result);
  return result;
}

std::size_t ToolSession::runs_skipped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return skipped_;
}

}  // namespace quarrix::probes
