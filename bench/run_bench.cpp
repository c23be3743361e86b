// Scan benchmark: generates synthetic repositories of growing size and scans
// each through scan_repo with the language-model tier off and fixed probes,
// one size per child process so that each peak RSS belongs to one scan.
//
//   run_bench [--sizes 250,1000,4000,16000] [--work DIR] [--granularity top] [--repeat 3]
//
// Each size is scanned --repeat times; the table shows the fastest scan (the
// one least disturbed by whatever else the machine runs) and the highest peak
// RSS of all of them.
//
// Repositories are generated with generate_repo.py (python3) into
// DIR/repo_<units> unless they already exist there.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <quarrix/hdl/language.hpp>
#include <quarrix/pipeline/scan_repo.hpp>
#include <quarrix/util/json.hpp>

namespace fs = std::filesystem;
using quarrix::Json;

namespace {

struct Size {
  long long units = 0;
  long long files = 0;  // HDL files
  long long bytes = 0;  // bytes of HDL source
};

struct Result {
  double seconds = 0;
  double cpu_seconds = 0;
  long peak_rss_kib = 0;
  long long rows = 0;
  bool ok = false;
};

quarrix::pipeline::ScanProbes fixed_probes() {
  quarrix::pipeline::ScanProbes probes;
  probes.detect_library_name = [](const std::string&) { return Json("work"); };
  probes.detect_vhdl_standard = [](const quarrix::pipeline::PathList&, const Json&) {
    return Json::array({"2008", false});
  };
  probes.detect_vendor_deps = [](const quarrix::pipeline::PathList&) { return Json::array(); };
  probes.detect_test_infrastructure = [](const std::string&) { return Json::object(); };
  probes.compute_badges = [](const Json&, const Json&) { return Json::array(); };
  probes.verify_verilog = [](const quarrix::pipeline::PathList&) { return Json(false); };
  return probes;
}

std::string shell_quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Generates the repository unless present; its unit count comes from the
// generator's summary kept beside it.
bool ensure_repo(const fs::path& repo, long long units) {
  const fs::path summary = repo.string() + ".json";
  if (fs::exists(repo) && fs::exists(summary)) return true;
  fs::remove_all(repo);
  const std::string command = "python3 " + shell_quote(QUARRIX_BENCH_DIR "/generate_repo.py") + " --units " +
                              std::to_string(units) + " --out " + shell_quote(repo.string()) + " > " +
                              shell_quote(summary.string());
  return std::system(command.c_str()) == 0;
}

Size measure(const fs::path& repo) {
  Size size;
  std::ifstream summary(repo.string() + ".json");
  size.units = Json::parse(summary).at("units").get<long long>();
  for (const auto& entry : fs::recursive_directory_iterator(repo)) {
    if (!entry.is_regular_file()) continue;
    if (quarrix::hdl::hdl_suffix_index(entry.path().filename().string()) == quarrix::hdl::kHdlSuffixes.size()) continue;
    ++size.files;
    size.bytes += static_cast<long long>(entry.file_size());
  }
  return size;
}

double cpu_seconds(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs one scan in a child process and reads back its figures.
Result scan_in_child(const fs::path& repo, const std::string& granularity) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid < 0) return {};
  if (pid == 0) {
    close(fds[0]);
    quarrix::pipeline::ScanOptions options;
    options.use_llm = false;
    options.granularity = granularity;
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    const Json rows = quarrix::pipeline::scan_repo(
        repo.string(), {"bench", "https://example.invalid/bench.git", "v1", "0000000"}, fixed_probes(), options, {});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = cpu_seconds(usage) - cpu_seconds(before);
    const std::string line = std::to_string(seconds) + " " + std::to_string(cpu) + " " +
                             std::to_string(usage.ru_maxrss) + " " + std::to_string(rows.size()) + "\n";
    if (write(fds[1], line.data(), line.size()) != static_cast<ssize_t>(line.size())) _exit(2);
    _exit(0);
  }
  close(fds[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  Result result;
  std::istringstream in(text);
  result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
              static_cast<bool>(in >> result.seconds >> result.cpu_seconds >> result.peak_rss_kib >> result.rows);
  return result;
}

std::vector<long long> parse_sizes(const std::string& text) {
  std::vector<long long> sizes;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, ',');) sizes.push_back(std::stoll(item));
  return sizes;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<long long> sizes = {250, 1000, 4000, 16000};
  fs::path work = fs::temp_directory_path() / "quarrix-bench";
  std::string granularity = "top";
  int repeat = 3;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 < argc && arg == "--sizes") {
      sizes = parse_sizes(argv[++i]);
    } else if (i + 1 < argc && arg == "--work") {
      work = argv[++i];
    } else if (i + 1 < argc && arg == "--granularity") {
      granularity = argv[++i];
    } else if (i + 1 < argc && arg == "--repeat" && std::atoi(argv[i + 1]) > 0) {
      repeat = std::atoi(argv[++i]);
    } else {
      std::cerr << "usage: run_bench [--sizes N,N,...] [--work DIR] [--granularity top|all|repo] [--repeat N]\n";
      return 2;
    }
  }
  fs::create_directories(work);

  std::printf("%8s %7s %8s %9s %8s %9s %8s %11s %8s %s\n", "units", "files", "MiB", "wall s", "cpu s", "units/s",
              "MiB/s", "peakRSS MiB", "rows", "RSS budget MiB");
  std::vector<std::pair<long long, double>> times;
  bool all_ok = true;
  for (long long units : sizes) {
    const fs::path repo = work / ("repo_" + std::to_string(units));
    if (!ensure_repo(repo, units)) {
      std::cerr << "generating " << repo << " failed\n";
      return 1;
    }
    const Size size = measure(repo);
    Result r;
    for (int run = 0; run < repeat; ++run) {
      const Result one = scan_in_child(repo, granularity);
      if (!one.ok) {
        std::cerr << "scan of " << repo << " failed\n";
        return 1;
      }
      const long peak = std::max(r.peak_rss_kib, one.peak_rss_kib);
      if (run == 0 || one.seconds < r.seconds) r = one;
      r.peak_rss_kib = peak;
    }
    const double mib = static_cast<double>(size.bytes) / (1 << 20);
    const double rss_mib = static_cast<double>(r.peak_rss_kib) / 1024;
    const double budget = 3 * mib + 64;
    std::printf("%8lld %7lld %8.2f %9.3f %8.3f %9.0f %8.2f %11.1f %8lld %8.1f%s\n", size.units, size.files, mib,
                r.seconds, r.cpu_seconds, static_cast<double>(size.units) / r.seconds, mib / r.seconds, rss_mib, r.rows,
                budget, rss_mib < budget ? "" : "  (over)");
    all_ok = all_ok && rss_mib < budget;
    times.emplace_back(units, r.seconds);
  }

  // The targets: linear growth, 4000 units in under 1.5 s, RSS within budget.
  double t4000 = 0, t16000 = 0;
  for (const auto& [units, seconds] : times) {
    if (units == 4000) t4000 = seconds;
    if (units == 16000) t16000 = seconds;
  }
  if (t4000 > 0) std::printf("time(4000) = %.3f s (target < 1.5 s): %s\n", t4000, t4000 < 1.5 ? "met" : "MISSED");
  if (t4000 > 0 && t16000 > 0)
    std::printf("time(16000) / time(4000) = %.2f (target <= 4.5): %s\n", t16000 / t4000,
                t16000 / t4000 <= 4.5 ? "met" : "MISSED");
  std::printf("peak RSS within 3 x source + 64 MiB: %s\n", all_ok ? "met" : "MISSED");
  return 0;
}
