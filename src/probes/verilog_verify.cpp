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
// them; older releases do not know the option. Asked once per executable
// (through `session`, whose budget it costs); nullopt: no budget left to ask.
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
  bool needs = false;
  if (const auto m = version_re.search(run->out)) needs = util::parse_int(m->group(1)).value_or(0) >= 5;
  std::lock_guard<std::mutex> lock(mutex);
  known[verilator] = needs;
  return needs;
}

// The command without its include flags and sources; nullopt when there is no
// tool. With no budget left to ask Verilator's version, the command without
// the option: the session refuses it too, and the check is reported skipped.
std::optional<std::vector<std::string>> lint_command(const std::vector<std::string>& sources, ToolSession& session) {
  if (const auto verilator = find_on_path("verilator")) {
    const std::optional<bool> needs_timing = verilator_needs_timing_option(*verilator, session);
    std::vector<std::string> argv{*verilator, "--lint-only", "-Wno-fatal"};
    if (needs_timing.value_or(false)) argv.push_back("--no-timing");
    return argv;
  }
  if (const auto iverilog = find_on_path("iverilog")) {
    std::vector<std::string> argv{*iverilog, "-o", "/dev/null"};
    for (const auto& source : sources) {
      const std::string suffix = util::path_suffix_lower(source);
      if (hdl::is_systemverilog_suffix(suffix)) {
        argv.push_back("-g2012");
        break;
      }
    }
    return argv;
  }
  return std::nullopt;
}

}  // namespace

bool verify_verilog(const std::vector<std::string>& files, ToolSession& session) {
  const std::vector<std::string> sources = detail::sources_with_suffix(files, hdl::kVerilogSuffixes);
  if (sources.empty()) return false;
  auto argv = lint_command(sources, session);  // the language of headers counts too
  if (!argv) return false;
  detail::VerilogCommandInputs inputs = detail::verilog_command_inputs(sources, session.verilog_files());
  for (const std::string& dir : inputs.include_dirs) argv->push_back("-I" + dir);
  argv->insert(argv->end(), inputs.sources.begin(), inputs.sources.end());

  RunOptions options;
  options.timeout = session.limits().run_timeout;
  options.scratch_cwd = true;     // empty: the tools also look for modules there
  options.capture_stderr = true;  // its first error line goes into the scan's report
  options.reads = std::move(inputs.reads);
  options.module_dirs = std::move(inputs.include_dirs);  // Verilator also finds modules there
  options.reads_complete = inputs.reads_complete;
  const std::shared_ptr<const RunResult> run = session.run(*argv, options);
  return run && run->succeeded();
}

bool verify_verilog(const std::vector<std::string>& files) {
  ToolSession session;
  return verify_verilog(files, session);
}

}  // namespace quarrix::probes
