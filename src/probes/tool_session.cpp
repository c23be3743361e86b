#include "quarrix/probes/tool_session.hpp"

#include <sys/stat.h>

#include <string_view>

#include "digest128.hpp"
#include "quarrix/probes/tool_cache.hpp"
#include "quarrix/util/path.hpp"
#include "quarrix/util/regex.hpp"
#include "quarrix/util/text.hpp"
#include "tool_inputs.hpp"
#include "verilog_includes.hpp"

namespace quarrix::probes {

namespace {

using Clock = std::chrono::steady_clock;

bool is_version_query(const std::vector<std::string>& argv) { return argv.size() == 2 && argv[1] == "--version"; }

// The executable's file as installed: a tool rebuilt or replaced in place
// may still give the same version.
std::string file_stamp(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "?";
  return std::to_string(st.st_dev) + ':' + std::to_string(st.st_ino) + ' ' + std::to_string(st.st_size) + ' ' +
         std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec);
}

}  // namespace

ToolSession::ToolSession(ToolLimits limits, std::shared_ptr<ToolCache> cache)
    : limits_(limits),
      cache_(std::move(cache)),
      inputs_(std::make_unique<detail::InputDigests>()),
      verilog_files_(std::make_unique<detail::VerilogFileFacts>()) {}

ToolSession::~ToolSession() = default;

std::string ToolSession::command_text(const std::vector<std::string>& argv, const std::string& cwd) {
  // Arguments joined by NUL, which no argument can hold; the scratch
  // directory's path, fresh for every run, becomes a NUL too.
  std::string text;
  for (const auto& arg : argv) {
    std::size_t from = 0;
    for (std::size_t at; !cwd.empty() && (at = arg.find(cwd, from)) != std::string::npos; from = at + cwd.size())
      text.append(arg, from, at - from).push_back('\0');
    text.append(arg, from).push_back('\0');
  }
  return text;
}

ToolSession::Key ToolSession::key_of(const std::vector<std::string>& argv, const std::string& cwd) {
  const detail::Digest128 digest = detail::digest128(command_text(argv, cwd));
  return {digest.first, digest.second};
}

std::string ToolSession::cache_key(const std::vector<std::string>& argv, const RunOptions& options,
                                   const std::string& version) {
  // A run cut by the memory limit or the timeout may pass with more of
  // either, and captured streams are part of the answer.
  std::string text = "tool run 1";
  text.push_back('\0');
  text += version;
  text.push_back('\0');
  text += file_stamp(argv[0]);
  text.push_back('\0');
  text += command_text(argv, options.cwd);
  text += std::to_string(limits_.memory_bytes) + ' ' + std::to_string(options.timeout.count()) + ' ' +
          (options.capture_stdout ? '1' : '0') + (options.capture_stderr ? '1' : '0');
  text.push_back('\0');
  text += inputs_->of_command(argv, options.reads).bytes();
  return detail::digest128(text).bytes();
}

namespace {

// The line of a tool's error output that says what went wrong: the first that
// mentions an error, else the first that is not blank.
std::string first_error_line(const std::string& err) {
  static const util::Regex error_re("error", util::kIgnoreCase);
  std::string first;
  for (const std::string& line : util::splitlines(err)) {
    const std::string_view text = util::strip(line);
    if (text.empty()) continue;
    if (error_re.search(text)) return util::slice(text, 0, 300);
    if (first.empty()) first = util::slice(text, 0, 300);
  }
  return first;
}

ToolRunRecord record_of(const std::vector<std::string>& argv, const std::optional<RunResult>& result, double seconds,
                        bool from_cache) {
  ToolRunRecord record;
  record.tool = util::path_name(argv[0]);
  record.verdict = !result               ? "skipped (budget)"
                   : !result->started    ? "not started"
                   : result->timed_out   ? "timed out"
                   : result->succeeded() ? "passed"
                                         : "failed";
  if (result) record.first_error = first_error_line(result->err);
  record.seconds = seconds;
  record.cached = from_cache;
  return record;
}

}  // namespace

std::optional<RunResult> ToolSession::run(const std::vector<std::string>& argv, const RunOptions& options) {
  Done how;
  std::optional<RunResult> result = answer(argv, options, how);
  if (observer_ && !argv.empty() && !is_version_query(argv))
    observer_(record_of(argv, result, how.seconds, how.from_cache));
  return result;
}

std::optional<RunResult> ToolSession::answer(const std::vector<std::string>& argv, const RunOptions& options,
                                             Done& how) {
  if (!cache_ || argv.empty() || is_version_query(argv)) return run_in_session(argv, options, how);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto it = done_.find(key_of(argv, options.cwd)); it != done_.end()) {
      how = it->second;
      return how.result;
    }
  }
  RunOptions ask;
  ask.timeout = options.timeout;
  ask.capture_stdout = true;
  Done asked;
  const std::optional<RunResult> version = run_in_session({argv[0], "--version"}, ask, asked);
  if (!version) return std::nullopt;  // counted as skipped: this check is given up
  if (!version->succeeded()) return run_in_session(argv, options, how);

  const std::string key = cache_key(argv, options, version->out);
  if (std::optional<CachedRun> hit = cache_->find(key)) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++cache_hits_;
    how = {std::move(hit->result), std::chrono::duration<double>(hit->duration).count(), true};
    return done_.emplace(key_of(argv, options.cwd), how).first->second.result;
  }
  const auto start = Clock::now();
  std::optional<RunResult> result = run_in_session(argv, options, how);
  if (result && result->started)
    cache_->store(key, {*result, std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)});
  return result;
}

std::optional<RunResult> ToolSession::run_in_session(const std::vector<std::string>& argv, const RunOptions& options,
                                                     Done& how) {
  const Key key = key_of(argv, options.cwd);
  RunOptions limited = options;
  limited.memory_limit = limits_.memory_bytes;
  bool cut_to_budget;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto it = done_.find(key); it != done_.end()) {
      how = it->second;
      return how.result;
    }
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
  how = {std::move(result), std::chrono::duration<double>(took).count(), false};
  return done_.emplace(key, how).first->second.result;
}

std::size_t ToolSession::runs_skipped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return skipped_;
}

std::size_t ToolSession::cache_hits() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cache_hits_;
}

}  // namespace quarrix::probes
