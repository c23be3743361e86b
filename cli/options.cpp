#include "options.hpp"

#include <algorithm>
#include <array>
#include <string_view>

namespace quarrix::cli {

namespace {

constexpr std::array<std::string_view, 4> kGranularities = {"top", "repo", "subproject", "all"};
constexpr std::array<std::string_view, 2> kFormats = {"json", "jsonl"};

template <std::size_t N>
std::string choice(const std::string& option, const std::string& value, const std::array<std::string_view, N>& allowed) {
  if (std::find(allowed.begin(), allowed.end(), value) != allowed.end()) return value;
  std::string message = "invalid value '" + value + "' for " + option + " (choose from ";
  for (std::size_t i = 0; i < N; ++i) message += (i ? ", " : "") + std::string(allowed[i]);
  throw UsageError(message + ")");
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
      options.granularity = choice(name, value(), kGranularities);
    } else if (name == "--bucket-map") {
      options.bucket_map_file = value();
    } else if (name == "--verdicts") {
      options.verdicts_dir = value();
    } else if (name == "--previous") {
      options.previous_file = value();
    } else if (name == "--exclude") {
      options.excludes.push_back(value());
      if (options.excludes.back().empty()) throw UsageError("--exclude needs a non-empty pattern");
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
  if (options.granularity == "subproject" && !options.bucket_map_file)
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
  --llm, --no-llm        allow or forbid language-model descriptions
                         (default: allowed when GROQ_API_KEY, GEMINI_API_KEY or
                         ANTHROPIC_API_KEY is set)
  --format FORMAT        json (default: one array) | jsonl (one row per line)
  -o, --output FILE      write the rows to FILE instead of standard output
  -q, --quiet            no progress and no summary on standard error
  --version              print the version and exit
  -h, --help             print this help and exit

Rows go to standard output (or FILE); progress, the summary and errors go to
standard error. Exit status: 0 success, 1 scan failure, 2 usage error.

Environment: QUARRIX_TOOL_TIMEOUT (seconds per GHDL/Verilator/Icarus run,
default 120), QUARRIX_TAG_CAP, QUARRIX_LLM_PROVIDERS, QUARRIX_LLM_PACE.
)";
}

}  // namespace quarrix::cli
