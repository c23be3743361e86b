#include "quarrix/probes/tool_session.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "digest128.hpp"
#include "first_error.hpp"
#include "quarrix/probes/sandbox.hpp"
#include "quarrix/probes/tool_cache.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/path.hpp"
#include "tool_inputs.hpp"
#include "verilog_includes.hpp"

namespace quarrix::probes {

namespace {

using Clock = std::chrono::steady_clock;

// How a tool is asked its version. Icarus has no --version (it rejects the
// option and exits 1); -V prints its version and exits 0.
std::string version_option(const std::string& tool) {
  return util::path_name(tool).starts_with("iverilog") ? "-V" : "--version";
}

bool is_version_query(const std::vector<std::string>& argv) {
  return argv.size() == 2 && argv[1] == version_option(argv[0]);
}

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
      sandbox_(sandbox_program()),
      inputs_(std::make_unique<detail::InputDigests>()),
      verilog_files_(std::make_unique<detail::VerilogFileFacts>()) {}

ToolSession::~ToolSession() = default;

std::string ToolSession::command_text(const ToolSteps& steps, const std::string& cwd) {
  // Arguments joined by NUL, which no argument can hold; the scratch
  // directory's path, fresh for every run, becomes a NUL too. A step after
  // the first begins with a record separator (one step reads as it always has).
  std::string text;
  for (const auto& argv : steps) {
    if (&argv != &steps.front()) text.append("\x1e").push_back('\0');
    for (const auto& arg : argv) {
      std::size_t from = 0;
      for (std::size_t at; !cwd.empty() && (at = arg.find(cwd, from)) != std::string::npos; from = at + cwd.size())
        text.append(arg, from, at - from).push_back('\0');
      text.append(arg, from).push_back('\0');
    }
  }
  return text;
}

ToolSession::Key ToolSession::key_of(const ToolSteps& steps, const std::string& cwd) {
  const detail::Digest128 digest = detail::digest128(command_text(steps, cwd));
  return {digest.first, digest.second};
}

std::string ToolSession::cache_key(const ToolSteps& steps, const RunOptions& options, const std::string& version,
                                   const std::string& inputs, const std::vector<std::string>& checkout) {
  // A run cut by the memory limit or the timeout may pass with more of
  // either, captured streams are part of the answer, and a sandboxed tool
  // finds less than one that may read anywhere. Where the checkout lies is
  // not: its answers are stored with the checkout's path masked.
  std::string text = "tool run 3";
  text.push_back('\0');
  text += version;
  text.push_back('\0');
  text += file_stamp(steps.front()[0]);
  text.push_back('\0');
  text += detail::without_checkout(command_text(steps, options.cwd), checkout);
  text += std::to_string(limits_.memory_bytes) + ' ' + std::to_string(options.timeout.count()) + ' ' +
          (options.capture_stdout ? '1' : '0') + (options.capture_stderr ? '1' : '0') + (sandbox_ ? " sandboxed" : "");
  text.push_back('\0');
  text += inputs;
  return detail::digest128(text).bytes();
}

namespace {

const char* verdict_of(const RunResult* result) {
  return !result               ? "skipped (budget)"
         : !result->started    ? "not started"
         : result->timed_out   ? "timed out"
         : result->succeeded() ? "passed"
                               : "failed";
}

ToolRunRecord record_of(const std::vector<std::string>& argv, const RunResult* result, const std::string& first_error,
                        const std::optional<FailureCause>& cause, double seconds, bool from_cache) {
  ToolRunRecord record;
  record.tool = util::path_name(argv[0]);
  record.verdict = verdict_of(result);
  record.first_error = first_error;
  record.cause = result ? cause : failure_cause(record.verdict, "");
  record.seconds = seconds;
  record.cached = from_cache;
  return record;
}

std::string parent_of(const std::string& path) { return util::path_string(std::filesystem::path(path).parent_path()); }

// What the sandbox lets a run see: the repository, else (a check made outside
// any scan) the directories of what it names and reads.
// The path through which `path` names the repository `root`, when that is not
// `root` itself (a scan of a link to the repository): the tool must find the
// files under the name it is given.
std::optional<std::string> alias_of(const std::string& path, const std::string& root) {
  if (!util::is_absolute_path(path) || util::lies_within(path, root)) return std::nullopt;
  for (std::filesystem::path p = std::filesystem::path(path).parent_path(); p.has_relative_path(); p = p.parent_path())
    if (util::resolved_path(p) == root) return util::path_string(p);
  return std::nullopt;
}

// The repository's directory under the names argv gives it: the confinement
// root, then the links to it that argv goes through; none outside a scan.
std::vector<std::string> checkout_names(const std::vector<std::string>& argv, const RunOptions& options) {
  const auto root = util::read_confinement_root();
  if (!root || root->empty()) return {};
  std::vector<std::string> names{*root};
  std::vector<std::string> named(argv.begin() + (argv.empty() ? 0 : 1), argv.end());
  named.insert(named.end(), options.module_dirs.begin(), options.module_dirs.end());
  for (const std::string& path : named) {
    const auto alias = alias_of(path, *root);
    if (alias && std::find(names.begin(), names.end(), *alias) == names.end()) names.push_back(*alias);
  }
  return names;
}

SandboxView view_of(const std::vector<std::string>& argv, const RunOptions& options) {
  SandboxView view;
  view.writable = options.cwd;
  if (const auto roots = util::read_confinement_roots()) {
    if (roots->front().empty()) return view;
    view.readable = checkout_names(argv, options);
    // The repositories the scan depends on are read as the repository is.
    for (std::size_t d = 1; d < roots->size(); ++d)
      if (!(*roots)[d].empty()) view.readable.push_back((*roots)[d]);
    return view;
  }
  // The sandbox makes its own /dev: binding it read-only over that would
  // leave Icarus no /dev/null to write to.
  for (std::size_t i = 1; i < argv.size(); ++i)
    if (util::is_absolute_path(argv[i]) && !util::lies_within(argv[i], "/dev"))
      view.readable.push_back(parent_of(argv[i]));
  for (const std::string& dir : options.module_dirs) view.readable.push_back(dir);
  for (const std::string& path : options.reads) view.readable.push_back(parent_of(path));
  std::sort(view.readable.begin(), view.readable.end());
  view.readable.erase(std::unique(view.readable.begin(), view.readable.end()), view.readable.end());
  return view;
}

// The tool and every argument of every step: what the steps name together.
std::vector<std::string> named_by(const ToolSteps& steps) {
  std::vector<std::string> all = steps.front();
  for (std::size_t i = 1; i < steps.size(); ++i) all.insert(all.end(), steps[i].begin() + 1, steps[i].end());
  return all;
}

constexpr const char* kRefusedOutside =
    "not run: no sandbox, and the check may read a file outside the repository (an include or a link leads there)";

}  // namespace

std::shared_ptr<const RunResult> ToolSession::run(const std::vector<std::string>& argv, const RunOptions& options) {
  return run_steps({argv}, options);
}

std::shared_ptr<const RunResult> ToolSession::run_steps(const ToolSteps& steps, const RunOptions& options) {
  if (steps.empty()) return run({}, options);  // not started, as an empty argv
  const std::vector<std::string>& argv = steps.front();
  const Done* done = answer(steps, options);
  if (observer_ && !argv.empty() && !is_version_query(argv)) {
    observer_(done
                  ? record_of(argv, done->result.get(), done->first_error, done->cause, done->seconds, done->from_cache)
                  : record_of(argv, nullptr, "", std::nullopt, 0, false));
  }
  return done ? done->result : nullptr;
}

const ToolSession::Done* ToolSession::remembered(const Key& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = done_.find(key);
  return it == done_.end() ? nullptr : &it->second;
}

const ToolSession::Done* ToolSession::remember(const Key& key, RunResult result, double seconds, bool from_cache) {
  // Worked out here, on the asking thread, whose confinement is the repository
  // (and the repositories it depends on).
  const std::optional<std::vector<std::string>> roots = util::read_confinement_roots();
  std::string first_error = detail::first_error_line(result.err, roots);
  std::optional<FailureCause> cause = failure_cause(verdict_of(&result), result.err);
  if (cause && roots && detail::names_path_outside_of(cause->name, *roots)) cause->name.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  const Done done{std::make_shared<const RunResult>(std::move(result)), std::move(first_error), std::move(cause),
                  seconds, from_cache};
  return &done_.try_emplace(key, done).first->second;
}

const ToolSession::Done* ToolSession::answer(const ToolSteps& steps, const RunOptions& options) {
  const Key key = key_of(steps, options.cwd);
  if (const Done* done = remembered(key)) return done;
  if (std::any_of(steps.begin(), steps.end(), [](const auto& step) { return step.empty(); }))
    return remember(key, RunResult{}, 0, false);
  if (steps.size() == 1 && is_version_query(steps.front())) {
    auto ran = run_on_budget(steps, options);
    return ran ? remember(key, std::move(ran->first), ran->second, false) : nullptr;
  }

  const std::vector<std::string> argv = named_by(steps);
  const bool cacheable = cache_ && options.reads_complete;
  const std::vector<std::string> checkout = checkout_names(argv, options);
  detail::CommandInputs inputs;
  if (cacheable || !sandbox_) inputs = inputs_->of_command(argv, options.reads, options.module_dirs, checkout);
  if (!sandbox_ && inputs.leads_outside) {
    RunResult refused;
    refused.err = kRefusedOutside;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++refused_outside_;
    }
    return remember(key, std::move(refused), 0, false);
  }

  std::string stored_key;
  if (cacheable) {
    const std::optional<RunResult> version = version_of(argv[0], options);
    if (!version) {  // this check is given up
      std::lock_guard<std::mutex> lock(mutex_);
      ++skipped_;
      return nullptr;
    }
    if (version->succeeded()) {
      stored_key = cache_key(steps, options, version->out, inputs.digest.bytes(), checkout);
      if (std::optional<CachedRun> hit = cached(stored_key, checkout))
        return remember(key, std::move(hit->result), std::chrono::duration<double>(hit->duration).count(), true);
    }
  }
  auto ran = run_on_budget(steps, options);
  if (!ran) return nullptr;
  // A run killed because the program is stopping says nothing of the sources.
  if (!stored_key.empty() && ran->first.started && !tools_stopped()) {
    CachedRun stored{ran->first,
                     std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::duration<double>(ran->second))};
    stored.result.out = detail::without_checkout(stored.result.out, checkout);
    stored.result.err = detail::without_checkout(stored.result.err, checkout);
    cache_->store(stored_key, stored);
  }
  return remember(key, std::move(ran->first), ran->second, false);
}

std::optional<CachedRun> ToolSession::cached(const std::string& stored_key, const std::vector<std::string>& checkout) {
  std::optional<CachedRun> hit = cache_->find(stored_key);
  if (!hit) return std::nullopt;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++cache_hits_;
  }
  // Made in another checkout, perhaps: it speaks of this one, by the name argv gives it.
  if (!checkout.empty()) {
    hit->result.out = detail::with_checkout(hit->result.out, checkout.back());
    hit->result.err = detail::with_checkout(hit->result.err, checkout.back());
  }
  return hit;
}

std::optional<RunResult> ToolSession::version_of(const std::string& tool, const RunOptions& options) {
  RunOptions ask;
  ask.timeout = options.timeout;
  ask.capture_stdout = true;
  const std::shared_ptr<const RunResult> version = run({tool, version_option(tool)}, ask);
  if (!version) return std::nullopt;
  return *version;
}

std::optional<std::pair<RunResult, double>> ToolSession::run_on_budget(const ToolSteps& steps,
                                                                       const RunOptions& options) {
  const bool check =
      !(steps.size() == 1 && is_version_query(steps.front()));  // checks are counted, not what they ask first
  RunOptions limited = options;
  limited.memory_limit = limits_.memory_bytes;
  std::optional<TempDir> scratch;
  const auto start = Clock::now();
  // A later step reads what the ones before it analysed, and GHDL reads a
  // library's units again from their sources: every step sees them all.
  const std::vector<std::string> all = named_by(steps);
  RunResult result;
  std::string out, err;  // of the steps before, which come first in the answer
  for (const std::vector<std::string>& argv : steps) {
    bool cut_to_budget;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(limits_.budget - spent_ - (Clock::now() - start));
      if (left <= std::chrono::milliseconds::zero()) {
        if (check) ++skipped_;
        spent_ += Clock::now() - start;
        return std::nullopt;
      }
      cut_to_budget = left < options.timeout;
      limited.timeout = cut_to_budget ? left : options.timeout;
    }
    if (options.scratch_cwd && !scratch) {
      try {
        limited.cwd = scratch.emplace().path();
      } catch (const std::system_error&) {
        return std::pair{RunResult{}, 0.0};  // nowhere to run: not started
      }
    }
    result = run_tool(sandbox_ ? sandboxed_argv(*sandbox_, argv, view_of(all, limited)) : argv, limited);
    if (result.timed_out && cut_to_budget) {
      std::lock_guard<std::mutex> lock(mutex_);
      spent_ += Clock::now() - start;
      if (check) ++skipped_;
      return std::nullopt;
    }
    out += result.out;
    err += result.err;
    if (!result.succeeded()) break;
  }
  if (steps.size() > 1) {
    result.out = std::move(out).substr(0, kCaptureLimit);
    result.err = std::move(err).substr(0, kCaptureLimit);
  }
  const auto took = Clock::now() - start;
  std::lock_guard<std::mutex> lock(mutex_);
  spent_ += took;
  return std::pair{std::move(result), std::chrono::duration<double>(took).count()};
}

std::size_t ToolSession::runs_skipped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return skipped_;
}

std::size_t ToolSession::cache_hits() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cache_hits_;
}

std::size_t ToolSession::refused_outside() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return refused_outside_;
}

}  // namespace quarrix::probes
