#include "options.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "quarrix/util/text.hpp"

namespace quarrix::cli {

namespace {

constexpr std::array<std::string_view, 2> kFormats = {"json", "jsonl"};

template <std::size_t N>
std::string choice(const std::string& option, const std::string& value,
                   const std::array<std::string_view, N>& allowed) {
  if (std::find(allowed.begin(), allowed.end(), value) != allowed.end()) return value;
  std::string message = "invalid value '" + value + "' for " + option + " (choose from ";
  for (std::size_t i = 0; i < N; ++i) message += (i ? ", " : "") + std::string(allowed[i]);
  throw UsageError(message + ")");
}

// Seconds, 0 or more (0: no tool runs, every check counts as skipped).
std::chrono::milliseconds tool_budget(const std::string& value) {
  const auto seconds = util::parse_float(value);
  if (!seconds || !std::isfinite(*seconds) || *seconds < 0)
    throw UsageError("invalid value '" + value + "' for --tool-budget (seconds, 0 or more)");
  return std::chrono::milliseconds(static_cast<long long>(std::ceil(std::min(*seconds, 1e9) * 1000)));
}

// A whole number of concurrent tool checks, 1 to 256.
unsigned jobs_count(const std::string& value) {
  const bool digits = !value.empty() && value.size() <= 3 &&
                      std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
  const unsigned n = digits ? static_cast<unsigned>(std::stoul(value)) : 0;
  if (n < 1 || n > 256) throw UsageError("invalid value '" + value + "' for --jobs (a whole number from 1 to 256)");
  return n;
}

// A whole number of MiB, or of the unit its suffix names: K, M, G or T
// (binary, either case), e.g. 512M or 2G.
std::uint64_t tool_memory(const std::string& value) {
  const std::string invalid = "invalid value '" + value + "' for --tool-memory (MiB, or a size such as 512M or 2G)";
  std::size_t digits = 0;
  while (digits < value.size() && std::isdigit(static_cast<unsigned char>(value[digits]))) ++digits;
  if (digits == 0 || digits > 19 || value.size() > digits + 1) throw UsageError(invalid);
  int shift = 20;
  if (value.size() > digits) {
    switch (std::toupper(static_cast<unsigned char>(value[digits]))) {
      case 'K': shift = 10; break;
      case 'M': shift = 20; break;
      case 'G': shift = 30; break;
      case 'T': shift = 40; break;
      default: throw UsageError(invalid);
    }
  }
  const std::uint64_t amount = std::stoull(value.substr(0, digits));
  if (amount == 0) throw UsageError("--tool-memory must be more than 0");
  if (amount > (std::uint64_t{1} << (62 - shift))) throw UsageError("--tool-memory '" + value + "' is too large");
  return amount << shift;
}

}  // namespace

Options parse_options(const std::vector<std::string>& args) {
  Options options;
  std::vector<std::string> positional;
  bool only_positional = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (only_positional || arg == "-" || arg.rfind("-", 0) != 0) {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      only_positional = true;
      continue;
    }
    const std::size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    std::optional<std::string> inline_value;
    if (eq != std::string::npos) inline_value = arg.substr(eq + 1);

    auto flag = [&]() {
      if (inline_value) throw UsageError("option " + name + " takes no value");
    };
    auto value = [&]() -> std::string {
      if (inline_value) return *inline_value;
      if (i + 1 >= args.size()) throw UsageError("option " + name + " needs a value");
      return args[++i];
    };

    if (name == "--help" || name == "-h") {
      flag();
      options.action = Action::kHelp;
      return options;
    } else if (name == "--version") {
      flag();
      options.action = Action::kVersion;
      return options;
    } else if (name == "--namespace") {
      options.ns = value();
      if (options.ns->empty()) throw UsageError("--namespace must not be empty");
    } else if (name == "--url") {
      options.url = value();
    } else if (name == "--tag") {
      options.tag = value();
    } else if (name == "--commit") {
      options.commit = value();
    } else if (name == "--granularity") {
      options.granularity = choice(name, value(), pipeline::kGranularities);
    } else if (name == "--bucket-map") {
      options.bucket_map_file = value();
    } else if (name == "--verdicts") {
      options.verdicts_dir = value();
    } else if (name == "--previous") {
      options.previous_file = value();
    } else if (name == "--exclude") {
      options.excludes.push_back(value());
      if (options.excludes.back().empty()) throw UsageError("--exclude needs a non-empty pattern");
    } else if (name == "--with") {
      options.dependencies.push_back(value());
      if (options.dependencies.back().empty()) throw UsageError("--with needs a directory");
    } else if (name == "--llm") {
      flag();
      options.use_llm = true;
    } else if (name == "--no-llm") {
      flag();
      options.use_llm = false;
    } else if (name == "--format") {
      options.format = choice(name, value(), kFormats);
    } else if (name == "--output" || name == "-o") {
      options.output_file = value();
      if (options.output_file->empty()) throw UsageError("--output needs a file name");
    } else if (name == "--report") {
      options.report_file = value();
      if (options.report_file->empty()) throw UsageError("--report needs a file name");
    } else if (name == "--no-verify") {
      flag();
      options.verify = false;
    } else if (name == "--jobs" || name == "-j") {
      options.jobs = jobs_count(value());
    } else if (name == "--cache-dir") {
      options.cache_dir = value();
      if (options.cache_dir->empty()) throw UsageError("--cache-dir needs a directory");
    } else if (name == "--no-cache") {
      flag();
      options.cache = false;
    } else if (name == "--tool-budget") {
      options.tool_limits.budget = tool_budget(value());
    } else if (name == "--tool-memory") {
      options.tool_limits.memory_bytes = tool_memory(value());
    } else if (name == "--quiet" || name == "-q") {
      flag();
      options.quiet = true;
    } else {
      throw UsageError("unknown option '" + name + "'");
    }
  }
  if (positional.empty()) throw UsageError("missing REPO (the directory of a cloned repository)");
  if (positional.size() > 1) throw UsageError("unexpected argument '" + positional[1] + "' (only one REPO is scanned)");
  options.repo = positional[0];
  if (options.repo.empty()) throw UsageError("REPO must not be empty");
  if (pipeline::needs_bucket_map(options.granularity) && !options.bucket_map_file)
    throw UsageError("--granularity subproject needs --bucket-map FILE");
  return options;
}

std::string usage_text() {
  return R"(usage: quarrix-scan REPO [options]

Scans a cloned HDL repository and prints its catalog rows as JSON.

options:
  --namespace NAME       index namespace (default: the name of REPO's directory)
  --url URL              repository URL (default: its origin remote, when REPO is a git checkout)
  --tag TAG              tag or branch (default: the tag of HEAD, else its branch)
  --commit SHA           commit (default: HEAD's)
  --granularity KIND     top (default) | repo | subproject | all
  --bucket-map FILE      subproject buckets, YAML or JSON (needed by --granularity subproject)
  --verdicts INDEX_DIR   directory holding descriptions_verdicts.json
  --previous FILE        earlier descriptions: a JSON map name -> description, or an
                         earlier output of quarrix-scan (json or jsonl)
  --exclude PATTERN      leave out sources matching this shell-style pattern (repeatable)
  --with DIR[=NAMESPACE] a checkout of a repository REPO depends on (repeatable): its
                         units, packages and headers resolve what REPO's own do not,
                         and a check compiles them first; they are never rows
                         (default namespace: the name of DIR)
  --llm, --no-llm        allow or forbid language-model descriptions
                         (default: allowed when GROQ_API_KEY, GEMINI_API_KEY or
                         ANTHROPIC_API_KEY is set)
  --no-verify            run no GHDL/Verilator/Icarus check: rows stay unverified,
                         VHDL standards "unknown"
  -j, --jobs N           tool checks run at once (default: the number of CPUs);
                         the rows do not depend on it
  --tool-budget SECONDS  wall time for all tool checks of the scan together
                         (default 600); checks left when it is spent stay unverified
  --tool-memory SIZE     address space of each tool run: MiB, or with a suffix
                         K, M, G or T, e.g. 512M (default 2G); a run that needs
                         more fails and its check stays unverified
  --cache-dir DIR        keep tool results between scans in DIR/tools.sqlite
                         (default: $XDG_CACHE_HOME/quarrix, else ~/.cache/quarrix)
  --no-cache             run every tool check afresh and keep no result
  --format FORMAT        json (default: one array) | jsonl (one row per line)
  -o, --output FILE      write the rows to FILE instead of standard output
  --report FILE          write a JSON report to FILE: every unit found, kept or
                         skipped and by which rule, its compile list and the
                         tool runs that checked it
  -q, --quiet            no progress, notes or summary on standard error
  --version              print the version and exit
  -h, --help             print this help and exit

Rows go to standard output (or FILE); notes, progress, the summary and errors
go to standard error. Exit status: 0 success, 1 scan failure, 2 usage error,
130/143/129 interrupted by SIGINT/SIGTERM/SIGHUP (nothing written).

Environment: QUARRIX_TOOL_TIMEOUT (seconds per GHDL/Verilator/Icarus run,
default 120), QUARRIX_TAG_CAP, QUARRIX_LLM_PROVIDERS, QUARRIX_LLM_PACE.
)";
}

}  // namespace quarrix::cli
