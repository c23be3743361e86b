#pragma once
// The command line of quarrix-scan.

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "quarrix/pipeline/granularity.hpp"
#include "quarrix/probes/tool_session.hpp"

namespace quarrix::cli {

// A command line or argument that cannot be used (exit status 2).
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum class Action { kScan, kHelp, kVersion };

struct Options {
  Action action = Action::kScan;
  std::string repo;
  std::optional<std::string> ns, url, tag, commit;  // unset: derived from the repository
  std::string granularity{pipeline::kDefaultGranularity};
  std::optional<std::string> bucket_map_file, verdicts_dir, previous_file, output_file, report_file;
  std::vector<std::string> excludes;
  std::vector<std::string> dependencies;  // --with values, DIR[=NAMESPACE], checked by the scan's setup
  std::optional<bool> use_llm;            // unset: on when a provider key is set
  std::string format = "json";
  bool quiet = false;
  bool verify = true;  // false: no GHDL/Verilator/Icarus run at all
  probes::ToolLimits tool_limits;
  bool cache = true;                                                  // false: --no-cache
  std::optional<std::string> cache_dir;                               // unset: the tool cache's default directory
  unsigned jobs = std::max(1u, std::thread::hardware_concurrency());  // tool checks at once
};

// Parses argv[1..argc). "--opt value" and "--opt=value" are both accepted; a
// repeated option keeps its last value (--exclude accumulates); "--" ends the
// options. --help and --version end parsing at once.
Options parse_options(const std::vector<std::string>& args);

std::string usage_text();

}  // namespace quarrix::cli
