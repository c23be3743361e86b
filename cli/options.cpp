#include "options.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "quarrix/pipeline/memory_size.hpp"
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

// --tool-memory's size (memory_size.hpp), in the command line's words.
std::uint64_t tool_memory(const std::string& value) {
  using Fault = pipeline::MemorySize::Fault;
  const pipeline::MemorySize size = pipeline::parse_memory_size(value);
  switch (size.fault) {
    case Fault::kNone: return size.bytes;
    case Fault::kZero: throw UsageError("--tool-memory must be more than 0");
    case Fault::kTooLarge: throw UsageError("--tool-memory '" + value + "' is too large");
    case Fault::kInvalid: break;
  }
  throw UsageError("invalid value '" + value + "' for --tool-memory (MiB, or a size such as 512M or 2G)");
}

// The options, in the order --help lists them: the one table that both
// parsing and the help text read.
struct OptionRow {
  std::string_view spellings;  // space-separated: "-j --jobs"
  bool takes_value;
  std::string_view shown;  // the help's left column; empty: told with the option before
  std::string_view help;   // its lines
  void (*apply)(Options&, std::string_view name, const std::string& value);
};

// An option's value that must not be empty.
std::string non_empty(const std::string& value, const char* message) {
  if (value.empty()) throw UsageError(message);
  return value;
}

const std::array kOptions = {
    OptionRow{"--namespace", true, "--namespace NAME", "index namespace (default: the name of REPO's directory)",
              [](Options& o, std::string_view, const std::string& v) {
                o.ns = non_empty(v, "--namespace must not be empty");
              }},
    OptionRow{"--url", true, "--url URL", "repository URL (default: its origin remote, when REPO is a git checkout)",
              [](Options& o, std::string_view, const std::string& v) { o.url = v; }},
    OptionRow{"--tag", true, "--tag TAG", "tag or branch (default: the tag of HEAD, else its branch)",
              [](Options& o, std::string_view, const std::string& v) { o.tag = v; }},
    OptionRow{"--commit", true, "--commit SHA", "commit (default: HEAD's)",
              [](Options& o, std::string_view, const std::string& v) { o.commit = v; }},
    OptionRow{"--granularity", true, "--granularity KIND", "top (default) | repo | subproject | all",
              [](Options& o, std::string_view name, const std::string& v) {
                o.granularity = choice(std::string(name), v, pipeline::kGranularities);
              }},
    OptionRow{"--bucket-map", true, "--bucket-map FILE",
              "subproject buckets, YAML or JSON (needed by --granularity subproject)",
              [](Options& o, std::string_view, const std::string& v) { o.bucket_map_file = v; }},
    OptionRow{"--verdicts", true, "--verdicts INDEX_DIR", "directory holding descriptions_verdicts.json",
              [](Options& o, std::string_view, const std::string& v) { o.verdicts_dir = v; }},
    OptionRow{"--previous", true, "--previous FILE",
              "earlier descriptions: a JSON map name -> description, or an\n"
              "earlier output of quarrix-scan (json or jsonl)",
              [](Options& o, std::string_view, const std::string& v) { o.previous_file = v; }},
    OptionRow{"--exclude", true, "--exclude PATTERN",
              "leave out sources matching this shell-style pattern (repeatable)",
              [](Options& o, std::string_view, const std::string& v) {
                o.excludes.push_back(non_empty(v, "--exclude needs a non-empty pattern"));
              }},
    OptionRow{"--with", true, "--with DIR[=NAMESPACE]",
              "a checkout of a repository REPO depends on (repeatable): its\n"
              "units, packages and headers resolve what REPO's own do not,\n"
              "and a check compiles them first; they are never rows\n"
              "(default namespace: the name of DIR)",
              [](Options& o, std::string_view, const std::string& v) {
                o.dependencies.push_back(non_empty(v, "--with needs a directory"));
              }},
    OptionRow{"--llm", false, "--llm, --no-llm",
              "allow or forbid language-model descriptions\n"
              "(default: allowed when GROQ_API_KEY, GEMINI_API_KEY or\n"
              "ANTHROPIC_API_KEY is set)",
              [](Options& o, std::string_view, const std::string&) { o.use_llm = true; }},
    OptionRow{"--no-llm", false, "", "", [](Options& o, std::string_view, const std::string&) { o.use_llm = false; }},
    OptionRow{"--no-verify", false, "--no-verify",
              "run no GHDL/Verilator/Icarus check: rows stay unverified,\n"
              "VHDL standards \"unknown\"",
              [](Options& o, std::string_view, const std::string&) { o.verify = false; }},
    OptionRow{"-j --jobs", true, "-j, --jobs N",
              "tool checks run at once (default: the number of CPUs);\n"
              "the rows do not depend on it",
              [](Options& o, std::string_view, const std::string& v) { o.jobs = jobs_count(v); }},
    OptionRow{"--tool-budget", true, "--tool-budget SECONDS",
              "wall time for all tool checks of the scan together\n"
              "(default 600); checks left when it is spent stay unverified",
              [](Options& o, std::string_view, const std::string& v) { o.tool_limits.budget = tool_budget(v); }},
    OptionRow{"--tool-memory", true, "--tool-memory SIZE",
              "address space of each tool run: MiB, or with a suffix\n"
              "K, M, G or T, e.g. 512M (default 2G); a run that needs\n"
              "more fails and its check stays unverified",
              [](Options& o, std::string_view, const std::string& v) { o.tool_limits.memory_bytes = tool_memory(v); }},
    OptionRow{"--cache-dir", true, "--cache-dir DIR",
              "keep tool results between scans in DIR/tools.sqlite\n"
              "(default: $XDG_CACHE_HOME/quarrix, else ~/.cache/quarrix)",
              [](Options& o, std::string_view, const std::string& v) {
                o.cache_dir = non_empty(v, "--cache-dir needs a directory");
              }},
    OptionRow{"--no-cache", false, "--no-cache", "run every tool check afresh and keep no result",
              [](Options& o, std::string_view, const std::string&) { o.cache = false; }},
    OptionRow{"--format", true, "--format FORMAT", "json (default: one array) | jsonl (one row per line)",
              [](Options& o, std::string_view name, const std::string& v) {
                o.format = choice(std::string(name), v, kFormats);
              }},
    OptionRow{"-o --output", true, "-o, --output FILE", "write the rows to FILE instead of standard output",
              [](Options& o, std::string_view, const std::string& v) {
                o.output_file = non_empty(v, "--output needs a file name");
              }},
    OptionRow{"--report", true, "--report FILE",
              "write a JSON report to FILE: every unit found, kept or\n"
              "skipped and by which rule, its compile list and the\n"
              "tool runs that checked it",
              [](Options& o, std::string_view, const std::string& v) {
                o.report_file = non_empty(v, "--report needs a file name");
              }},
    OptionRow{"-q --quiet", false, "-q, --quiet", "no progress, notes or summary on standard error",
              [](Options& o, std::string_view, const std::string&) { o.quiet = true; }},
    OptionRow{"--version", false, "--version", "print the version and exit",
              [](Options& o, std::string_view, const std::string&) { o.action = Action::kVersion; }},
    OptionRow{"-h --help", false, "-h, --help", "print this help and exit",
              [](Options& o, std::string_view, const std::string&) { o.action = Action::kHelp; }},
};

const OptionRow* find_option(std::string_view name) {
  for (const OptionRow& row : kOptions)
    for (const std::string& spelling : util::split_whitespace(row.spellings))
      if (spelling == name) return &row;
  return nullptr;
}

// The help's lines of the table: the left column, then the text from column 25.
std::string options_help() {
  constexpr std::size_t kTextColumn = 25;
  std::string out;
  for (const OptionRow& row : kOptions) {
    if (row.shown.empty()) continue;
    std::string line = "  " + std::string(row.shown);
    line.append(line.size() < kTextColumn ? kTextColumn - line.size() : 1, ' ');
    std::string_view help = row.help;
    for (bool first = true; !help.empty() || first; first = false) {
      const std::size_t end = help.find('\n');
      if (!first) line = std::string(kTextColumn, ' ');
      out += line + std::string(help.substr(0, end)) + "\n";
      help = end == std::string_view::npos ? std::string_view() : help.substr(end + 1);
    }
  }
  return out;
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
    const OptionRow* row = find_option(name);
    if (!row) throw UsageError("unknown option '" + name + "'");
    std::string value;
    if (!row->takes_value) {
      if (eq != std::string::npos) throw UsageError("option " + name + " takes no value");
    } else if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
    } else {
      if (i + 1 >= args.size()) throw UsageError("option " + name + " needs a value");
      value = args[++i];
    }
    row->apply(options, name, value);
    if (options.action != Action::kScan) return options;  // --help and --version end parsing
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
)" + options_help() +
         R"(
Rows go to standard output (or FILE); notes, progress, the summary and errors
go to standard error. Exit status: 0 success, 1 scan failure, 2 usage error,
130/143/129 interrupted by SIGINT/SIGTERM/SIGHUP (nothing written).

Environment: QUARRIX_TOOL_TIMEOUT (seconds per GHDL/Verilator/Icarus run,
default 120), QUARRIX_TAG_CAP, QUARRIX_LLM_PROVIDERS, QUARRIX_LLM_PACE.
)";
}

}  // namespace quarrix::cli
