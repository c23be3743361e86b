#include "quarrix/probes/verilog_verify.hpp"

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "quarrix/hdl/language.hpp"
#include "quarrix/probes/tool_run.hpp"
#include "quarrix/util/path.hpp"
#include "quarrix/util/regex.hpp"
#include "quarrix/util/text.hpp"
#include "source_files.hpp"
#include "verilog_includes.hpp"

namespace quarrix::probes {

namespace {

// Verilator 5 refuses delays and event controls unless told how to treat
// them; older releases do not know the option. A build from a source tree
// without release tags names no release (" rev vUNKNOWN-built..."): every
// release before 5 named its number, so such a build is a current one.
// Asked once per executable (through `session`, whose budget it costs);
// nullopt: no budget left to ask.
std::optional<bool> verilator_needs_timing_option(const std::string& verilator, ToolSession& session) {
  static std::mutex mutex;
  static std::map<std::string, bool> known;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (const auto it = known.find(verilator); it != known.end()) return it->second;
  }
  static const util::Regex version_re("Verilator\\s+(\\d+)\\.");
  RunOptions options;
  options.timeout = session.limits().run_timeout;
  options.capture_stdout = true;
  const std::shared_ptr<const RunResult> run = session.run({verilator, "--version"}, options);
  if (!run) return std::nullopt;
  bool needs = run->succeeded();
  if (const auto m = version_re.search(run->out)) needs = util::parse_int(m->group(1)).value_or(0) >= 5;
  std::lock_guard<std::mutex> lock(mutex);
  known[verilator] = needs;
  return needs;
}

// Verilator's command without its include flags and sources.
std::vector<std::string> verilator_command(const std::string& verilator, const std::optional<std::string>& top,
                                           ToolSession& session) {
  // With no budget left to ask the version, the command without the option:
  // the session refuses it too, and the check is reported skipped.
  const std::optional<bool> needs_timing = verilator_needs_timing_option(verilator, session);
  std::vector<std::string> argv{verilator, "--lint-only", "-Wno-fatal"};
  if (needs_timing.value_or(false)) argv.push_back("--no-timing");
  if (top) argv.insert(argv.end(), {"--top-module", *top});
  return argv;
}

std::vector<std::string> icarus_command(const std::string& iverilog, const std::vector<std::string>& sources,
                                        const std::optional<std::string>& top) {
  std::vector<std::string> argv{iverilog, "-o", "/dev/null"};
  const bool systemverilog = std::any_of(sources.begin(), sources.end(), [](const std::string& source) {
    return hdl::is_systemverilog_suffix(util::path_suffix_lower(source));  // the language of headers counts too
  });
  if (systemverilog) argv.push_back("-g2012");
  if (top) argv.insert(argv.end(), {"-s", *top});
  return argv;
}

}  // namespace

bool verify_verilog(const std::vector<std::string>& files, ToolSession& session,
                    const std::optional<std::string>& top) {
  const std::vector<std::string> sources = detail::sources_with_suffix(files, hdl::kVerilogSuffixes);
  if (sources.empty()) return false;
  const auto verilator = find_on_path("verilator");
  const auto iverilog = find_on_path("iverilog");
  if (!verilator && !iverilog) return false;
  detail::VerilogCommandInputs inputs = detail::verilog_command_inputs(sources, session.verilog_files());

  RunOptions options;
  options.timeout = session.limits().run_timeout;
  options.scratch_cwd = true;     // empty: the tools also look for modules there
  options.capture_stderr = true;  // its first error line goes into the scan's report
  options.reads = std::move(inputs.reads);
  options.module_dirs = inputs.include_dirs;  // Verilator also finds modules there
  options.reads_complete = inputs.reads_complete;
  // A unit declared under `ifdef branches (a test bench, an optional
  // block) exists only with their macros defined, as its users compile it.
  // The unit's own file comes last in its list.
  std::vector<std::string> defines;
  if (top) {
    const auto& guarded = session.verilog_files().of(sources.back()).guarded_modules;
    if (const auto it = guarded.find(*top); it != guarded.end()) defines = it->second;
  }
  const auto with_inputs = [&](std::vector<std::string> argv) {
    for (const std::string& name : defines) argv.push_back("-D" + name);
    for (const std::string& dir : inputs.include_dirs) argv.push_back("-I" + dir);
    argv.insert(argv.end(), inputs.sources.begin(), inputs.sources.end());
    return argv;
  };
  const auto lint = [&](std::vector<std::string> argv) { return session.run(with_inputs(std::move(argv)), options); };
  if (verilator) {
    const std::shared_ptr<const RunResult> run = lint(verilator_command(*verilator, top, session));
    if (run && run->succeeded()) return true;
    // Icarus accepts some sources Verilator rejects; a run that ran out of
    // time or budget, or could not start, would fare no better with it.
    if (!run || !run->started || run->timed_out) return false;
  }
  if (!iverilog) return false;
  // Icarus's preprocessor and compiler write to one stream at once: a
  // missing include and the syntax errors it leads to come interleaved, even
  // within a line, differently from run to run. The preprocessor runs alone
  // first, and the compile only when it passed.
  const std::vector<std::string> compile = with_inputs(icarus_command(*iverilog, sources, top));
  std::vector<std::string> preprocess = compile;
  preprocess.insert(preprocess.begin() + 1, "-E");
  const std::shared_ptr<const RunResult> run = session.run_steps({preprocess, compile}, options);
  return run && run->succeeded();
}

bool verify_verilog(const std::vector<std::string>& files) {
  ToolSession session;
  return verify_verilog(files, session);
}

}  // namespace quarrix::probes
