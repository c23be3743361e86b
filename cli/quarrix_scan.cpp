// quarrix-scan: the catalog rows of a cloned HDL repository, from the command line.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "bucket_map.hpp"
#include "git_defaults.hpp"
#include "interrupt.hpp"
#include "options.hpp"
#include "output_file.hpp"
#include "previous.hpp"
#include "progress.hpp"
#include "quarrix/describe/verdicts.hpp"
#include "quarrix/llm/chain.hpp"
#include "quarrix/llm/stats.hpp"
#include "quarrix/pipeline/scan.hpp"
#include "quarrix/probes/missing_tools.hpp"
#include "quarrix/probes/sandbox.hpp"
#include "quarrix/probes/tool_cache.hpp"
#include "quarrix/probes/tool_run.hpp"
#include "quarrix/util/env.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/json.hpp"
#include "quarrix/util/path.hpp"
#include "quarrix/util/terminal_text.hpp"
#include "quarrix/util/text.hpp"
#include "report.hpp"
#include "row_writer.hpp"
#include "say.hpp"

namespace fs = std::filesystem;
using namespace quarrix;

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// One line: messages of the core or the OS may hold line breaks.
std::string one_line(std::string_view text) {
  std::string out;
  for (const auto& part : util::split_whitespace(text)) out += (out.empty() ? "" : " ") + part;
  return out;
}

bool provider_key_set(const llm::ChainSettings& settings) {
  for (const auto& [provider, key] : settings.api_keys)
    if (!util::strip(key).empty()) return true;
  return false;
}

// What the scan will lack, said before it starts: a missing tool leaves rows
// unverified, and --llm without a key describes nothing by language model.
void note_what_is_missing(const cli::Options& options, const pipeline::ScanContext& context) {
  if (options.verify) {
    if (const std::string note = probes::missing_tools_note(); !note.empty()) cli::say("note: " + note);
    const bool any_tool =
        probes::find_on_path("ghdl") || probes::find_on_path("verilator") || probes::find_on_path("iverilog");
    if (any_tool && !probes::sandbox_program())
      cli::say(
          "note: no sandbox for the HDL tools (bwrap missing from PATH or unusable here): checks that would read "
          "outside the repository are not run");
  }
  if (options.use_llm == true && !provider_key_set(context.settings.llm)) {
    std::vector<std::string> keys;
    for (const auto& provider : llm::kProviders) keys.emplace_back(provider.env_key);
    cli::say("note: --llm, but none of " + util::join(keys, ", ") + " is set: no language-model descriptions");
  }
}

// A --with value: DIR, or DIR=NAMESPACE when DIR alone names no directory.
pipeline::ScanDependency dependency_of(const std::string& value, const std::string& repo) {
  std::string dir = value, ns;
  if (const std::size_t eq = value.rfind('='); !util::is_directory(value) && eq != std::string::npos) {
    dir = value.substr(0, eq);
    ns = value.substr(eq + 1);
    if (ns.empty()) throw cli::UsageError("--with '" + value + "': empty namespace");
  }
  if (!util::is_directory(dir)) throw cli::UsageError("--with '" + dir + "' is not a directory");
  const std::optional<std::string> resolved = util::resolved_path(dir);
  const std::optional<std::string> resolved_repo = util::resolved_path(repo);
  if (!resolved || !resolved_repo) throw cli::UsageError("cannot resolve --with '" + dir + "'");
  if (util::lies_within(*resolved, *resolved_repo) || util::lies_within(*resolved_repo, *resolved))
    throw cli::UsageError("--with '" + dir + "' overlaps REPO: a dependency is another checkout");
  if (ns.empty()) ns = util::path_name(*resolved);
  return {*resolved, ns};
}

// Everything the scan needs, checked before any work starts.
struct Prepared {
  std::string repo;
  pipeline::ScanIdentity identity;
  pipeline::ScanOptions scan_options;
  pipeline::ScanContext context;
};

Prepared prepare(const cli::Options& options) {
  Prepared p;
  std::error_code ec;
  const fs::path absolute = fs::absolute(options.repo, ec);
  if (ec) throw cli::UsageError("cannot resolve REPO '" + options.repo + "'");
  p.repo = util::normalize_path(absolute.lexically_normal().string());
  if (!util::exists(p.repo)) throw cli::UsageError("REPO '" + options.repo + "' does not exist");
  if (!util::is_directory(p.repo)) throw cli::UsageError("REPO '" + options.repo + "' is not a directory");

  pipeline::ScanIdentity& id = p.identity;
  id.ns = options.ns.value_or(util::path_name(p.repo));
  if (id.ns.empty()) throw cli::UsageError("cannot take a namespace from '" + p.repo + "'; give --namespace");
  const bool all_given = options.url && options.tag && options.commit;
  const cli::GitInfo git = all_given ? cli::GitInfo{} : cli::read_git_info(p.repo);
  id.url = options.url.value_or(git.url);
  id.tag = options.tag.value_or(git.tag);
  id.commit = options.commit.value_or(git.commit);

  if (id.url.empty() && pipeline::gives_repo_row(options.granularity) && !options.quiet)
    cli::say("note: no --url and no git remote: the repository row gets an empty name");

  // The environment is read here, once; --tool-budget and --tool-memory set
  // the tool limits, the environment the time of each run.
  p.context = pipeline::ScanContext::from_environment();
  p.context.settings.tools.budget = options.tool_limits.budget;
  p.context.settings.tools.memory_bytes = options.tool_limits.memory_bytes;

  pipeline::ScanOptions& so = p.scan_options;
  so.use_llm = options.use_llm.value_or(provider_key_set(p.context.settings.llm));
  so.granularity = options.granularity;
  so.exclude_dirs = options.excludes;
  for (const std::string& value : options.dependencies) so.dependencies.push_back(dependency_of(value, p.repo));
  if (options.bucket_map_file) so.bucket_map = cli::load_bucket_map(*options.bucket_map_file);
  if (options.previous_file) so.previous_descriptions = cli::load_previous_descriptions(*options.previous_file);
  if (options.verdicts_dir) {
    if (!util::is_directory(*options.verdicts_dir))
      throw cli::UsageError("--verdicts '" + *options.verdicts_dir + "' is not a directory");
    const std::string registry = util::join_path(*options.verdicts_dir, describe::kVerdictsFileName);
    if (!util::is_regular_file(registry) && !options.quiet)
      cli::say("note: no " + std::string(describe::kVerdictsFileName) + " in " + *options.verdicts_dir);
    so.description_verdicts = describe::load_description_verdicts(*options.verdicts_dir);
  }
  // A file that cannot be written is found before the scan, not after it.
  const auto check_target = [&](const char* option, const std::optional<std::string>& file) {
    if (!file) return;
    const fs::path parent = fs::absolute(*file, ec).parent_path();
    if (ec || !util::is_directory(parent.string()))
      throw cli::UsageError(std::string(option) + " '" + *file + "': no such directory");
    if (util::is_directory(*file)) throw cli::UsageError(std::string(option) + " '" + *file + "' is a directory");
  };
  check_target("--output", options.output_file);
  check_target("--report", options.report_file);
  return p;
}

// Entities found, kept and skipped, rows and seconds, and what the tools did not do.
std::string summary_line(const pipeline::ScanCounts& counts, std::size_t rows, double seconds,
                         const probes::ToolSession* tools, std::size_t skipped_ahead,
                         const std::map<std::string, std::size_t>& causes) {
  const auto count = [](std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + ' ' + (n == 1 ? one : many);
  };
  char elapsed[32];
  std::snprintf(elapsed, sizeof elapsed, "%.1f s", seconds);
  std::string line = count(counts.units, "entity", "entities") + ", " + std::to_string(counts.kept) + " kept, " +
                     std::to_string(counts.skipped) + " skipped; " + count(rows, "row", "rows") + " in " + elapsed;
  if (const std::size_t skipped = tools ? tools->runs_skipped() - skipped_ahead : 0)
    line += "; " + count(skipped, "tool check", "tool checks") + " skipped (--tool-budget spent)";
  if (const std::size_t refused = tools ? tools->refused_outside() : 0)
    line += "; " + count(refused, "tool check", "tool checks") + " not run (it would read outside the repository)";
  if (const std::size_t hits = tools ? tools->cache_hits() : 0)
    line += "; " + count(hits, "tool result", "tool results") + " from the cache";
  std::string by_cause;
  for (const auto& [kind, n] : causes)  // the budget's are told above
    if (kind != "budget") by_cause += (by_cause.empty() ? "" : ", ") + std::to_string(n) + " " + kind;
  if (!by_cause.empty()) line += "; tool runs failed: " + by_cause;
  return line;
}

cli::ProgressMode progress_mode(const cli::Options& options) {
  if (options.quiet) return cli::ProgressMode::kOff;
  return ::isatty(STDERR_FILENO) != 0 ? cli::ProgressMode::kTerminal : cli::ProgressMode::kLog;
}

// The built-in checks' session and where their answers are kept.
pipeline::ScanTools scan_tools(const cli::Options& options) {
  pipeline::ScanTools tools{options.verify, std::nullopt};
  if (options.verify && options.cache)
    tools.cache_file = options.cache_dir ? util::join_path(*options.cache_dir, probes::ToolCache::kFileName)
                                         : probes::ToolCache::default_path();
  return tools;
}

// One scan from the command line: what it shows while it runs, and what it
// reports and says when it is done.
class CommandScan {
 public:
  CommandScan(const cli::Options& options, const cli::InterruptWatch& interrupts)
      : options_(options),
        interrupts_(interrupts),
        prepared_(prepare_and_note(options)),
        progress_(progress_mode(options), [this] {
          const std::size_t n = tool_runs_;
          return std::to_string(n) + (n == 1 ? " tool run" : " tool runs");
        }) {}

  int run() {
    pipeline::Scan scan(prepared_.repo, prepared_.identity, scan_tools(options_), observed_options(),
                        prepared_.context);
    scan_ = &scan;
    if (probes::ToolSession* const tools = scan.tools()) observe(*tools);

    // Rows go out as the scan makes them; the progress line is gone by then.
    cli::RowWriter rows(options_.format, options_.output_file);
    try {
      scan.run([&](Json&& row) {
        if (rows.rows() == 0) progress_.clear();
        rows.row(row);
      });
    } catch (...) {
      progress_.clear();
      throw;
    }
    progress_.clear();
    interrupts_.check();
    rows.finish();
    if (options_.report_file) write_report(scan, rows.rows());
    if (!options_.quiet) say_summary(scan, rows.rows());
    return 0;
  }

 private:
  // The notes come before the progress line starts its clock.
  static Prepared prepare_and_note(const cli::Options& options) {
    Prepared p = prepare(options);
    if (!options.quiet) note_what_is_missing(options, p.context);
    return p;
  }

  // The scan's options with the progress line, the report and the stages observed.
  pipeline::ScanOptions observed_options() {
    pipeline::ScanOptions so = prepared_.scan_options;
    so.progress = [this](std::size_t index, std::size_t total, const std::string& name) {
      interrupts_.check();
      progress_.update(index, total, name);
    };
    if (options_.report_file) {
      so.on_unit = [this](const pipeline::UnitDecision& d) { report_.unit(d); };
      so.on_left_out = [this](const std::string& path, const std::string& reason) { report_.left_out(path, reason); };
    }
    so.jobs = options_.jobs;
    so.on_stage = [this](pipeline::ScanStage stage) { on_stage(stage); };
    return so;
  }

  // Checks run ahead are counted as they run; the units then find them
  // answered and report them one by one.
  void on_stage(pipeline::ScanStage stage) {
    if (stage == pipeline::ScanStage::kChecksAhead) {
      ran_ahead_ = ahead_running_ = true;
      progress_.stage("running the tool checks ahead, " + std::to_string(options_.jobs) + " at a time");
      return;
    }
    if (ran_ahead_) {
      progress_.stage("");
      interrupts_.check();
      skipped_ahead_ = scan_->tools()->runs_skipped();
    }
    ahead_running_ = false;
  }

  void observe(probes::ToolSession& tools) {
    tools.observe([this](const probes::ToolRunRecord& run) {
      const std::lock_guard<std::mutex> lock(observed_);
      if (!run.cached && (ahead_running_ || !ran_ahead_)) ++tool_runs_;
      if (ahead_running_) return;
      if (run.cause) ++causes_[run.cause->kind];
      if (options_.report_file) report_.tool_run(run);
    });
  }

  void write_report(const pipeline::Scan& scan, std::size_t rows) {
    const pipeline::ScanCounts& counts = scan.counts();
    const probes::ToolSession* const tools = scan.tools();
    const Json summary = {{"entities", counts.units},
                          {"kept", counts.kept},
                          {"skipped", counts.skipped},
                          {"rows", rows},
                          {"seconds", progress_.elapsed_seconds()},
                          {"tool_checks_skipped", tools ? tools->runs_skipped() - skipped_ahead_ : 0},
                          {"failure_causes", causes_}};
    cli::write_output_file(*options_.report_file,
                           cli::render(report_.document(prepared_.repo, prepared_.identity.ns, summary), "json"));
  }

  void say_summary(const pipeline::Scan& scan, std::size_t rows) {
    if (probes::ToolCache* const cache = scan.cache())
      if (const auto problem = cache->problem())
        cli::say("tool cache " + cache->path() + " unusable (" + one_line(*problem) + "); continuing without it");
    cli::say(summary_line(scan.counts(), rows, progress_.elapsed_seconds(), scan.tools(), skipped_ahead_, causes_));
    const Json stats = llm::get_llm_stats();
    if (prepared_.scan_options.use_llm && !stats.empty())
      std::fputs((util::terminal_safe(llm::format_llm_summary()) + "\n").c_str(), stderr);
  }

  const cli::Options& options_;
  const cli::InterruptWatch& interrupts_;
  const Prepared prepared_;
  std::atomic<std::size_t> tool_runs_{0};  // read by the progress thread
  cli::Progress progress_;
  cli::ScanReport report_;
  std::atomic<bool> ahead_running_{false}, ran_ahead_{false};
  std::size_t skipped_ahead_ = 0;              // budget refusals of the checks run ahead, asked again by the units
  std::map<std::string, std::size_t> causes_;  // failed checks of the units, by cause
  std::mutex observed_;                        // checks run ahead are told from several threads
  pipeline::Scan* scan_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  cli::Options options;
  try {
    options = cli::parse_options(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const cli::UsageError& e) {
    cli::say(one_line(e.what()));
    std::fputs("Try 'quarrix-scan --help' for more information.\n", stderr);
    return kExitUsage;
  }
  if (options.action == cli::Action::kHelp) {
    std::fputs(cli::usage_text().c_str(), stdout);
    return 0;
  }
  if (options.action == cli::Action::kVersion) {
    std::printf("quarrix-scan %s\n", QUARRIX_VERSION);
    return 0;
  }
  // A file-size limit then fails the write (reported) instead of killing us.
  ::signal(SIGXFSZ, SIG_IGN);
  cli::InterruptWatch interrupts;  // before any thread starts
  try {
    return CommandScan(options, interrupts).run();
  } catch (const cli::UsageError& e) {
    cli::say(one_line(e.what()));
    return kExitUsage;
  } catch (const cli::Interrupted&) {
    return interrupts.report();
  } catch (const cli::OutputError& e) {
    if (interrupts.signal() != 0) return interrupts.report();
    cli::say(one_line(e.what()));
  } catch (const std::bad_alloc&) {
    cli::say("scan of " + options.repo + " failed: out of memory");
  } catch (const std::exception& e) {
    // A scan cut short by a signal may fail in any way on its way out.
    if (interrupts.signal() != 0) return interrupts.report();
    cli::say("scan of " + options.repo + " failed: " + one_line(e.what()));
  } catch (...) {
    if (interrupts.signal() != 0) return interrupts.report();
    cli::say("scan of " + options.repo + " failed: unknown error");
  }
  return kExitFailure;
}
