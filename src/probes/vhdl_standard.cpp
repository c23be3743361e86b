#include "quarrix/probes/vhdl_standard.hpp"

#include <memory>
#include <string_view>

#include "quarrix/hdl/language.hpp"
#include "quarrix/probes/tool_run.hpp"
#include "quarrix/util/regex.hpp"
#include "source_files.hpp"
#include "vhdl_libraries.hpp"

namespace quarrix::probes {

namespace {

// A basic VHDL identifier, as GHDL accepts it for --work.
const util::Regex& library_identifier() {
  static const util::Regex re("[A-Za-z](?:_?[A-Za-z0-9])*");
  return re;
}

bool needs_synopsys(const RunResult& run) {
  constexpr std::string_view kMessage = "needs the -fsynopsys option";
  return run.err.find(kMessage) != std::string::npos || run.out.find(kMessage) != std::string::npos;
}

}  // namespace

std::pair<std::string, bool> detect_vhdl_standard(const std::vector<std::string>& files, const std::string& library,
                                                  ToolSession& session) {
  const std::pair<std::string, bool> unknown{"unknown", false};
  const std::vector<std::string> sources = detail::sources_with_suffix(files, hdl::kVhdlSuffixes);
  if (sources.empty()) return unknown;
  const auto ghdl = find_on_path("ghdl");
  if (!ghdl) return unknown;
  const std::string work = library_identifier().fullmatch(library) ? library : "work";
  // Runs of consecutive sources of one library, in list order: each library
  // is analysed by a run of its own into the one directory where the runs
  // after it find it.
  std::vector<std::pair<std::string, std::vector<std::string>>> groups;
  const std::vector<std::string> libraries = detail::vhdl_libraries(sources, work);
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const std::string& lib = library_identifier().fullmatch(libraries[i]) ? libraries[i] : work;
    if (groups.empty() || groups.back().first != lib) groups.emplace_back(lib, std::vector<std::string>{});
    groups.back().second.push_back(sources[i]);
  }

  // Strict first; then, as synthesis tools do, relaxed (shared-variable RAMs
  // and the like), which still names the standard that passed.
  struct Attempt {
    const char* flag;
    const char* standard;
    bool relaxed;
  };
  constexpr Attempt kAttempts[] = {{"--std=08", "vhdl-2008", false},
                                   {"--std=93", "vhdl-93", false},
                                   {"--std=08", "vhdl-2008", true},
                                   {"--std=93", "vhdl-93", true}};
  // The Synopsys arithmetic packages (std_logic_unsigned and the like) are
  // no part of any standard, but GHDL has them: once a run says a source uses
  // them, that attempt and the ones after it are made with them, and with
  // explicit operators preferred, as their users' tools do (their "=" on
  // std_logic_vector is otherwise ambiguous with the implicit one). Clean
  // sources keep the strict answer; these cost one run more.
  bool synopsys = false;
  for (const auto& [flag, standard, relaxed] : kAttempts) {
    for (;;) {
      // The libraries go into the run's own scratch directory.
      ToolSteps steps;
      for (const auto& [lib, files] : groups) {
        std::vector<std::string>& argv =
            steps.emplace_back(std::vector<std::string>{*ghdl, "-a", flag, "--workdir=.", "--work=" + lib});
        if (relaxed) argv.push_back("-frelaxed");
        if (synopsys) argv.insert(argv.end(), {"-fsynopsys", "-fexplicit"});
        argv.insert(argv.end(), files.begin(), files.end());
      }
      RunOptions options;
      options.timeout = session.limits().run_timeout;
      options.scratch_cwd = true;
      options.capture_stderr = true;  // its first error line goes into the scan's report
      const std::shared_ptr<const RunResult> run = session.run_steps(steps, options);
      if (!run) return unknown;  // out of budget
      if (run->succeeded()) return {standard, true};
      if (run->timed_out || !run->started) return unknown;  // the next standard would fare no better
      if (synopsys || !needs_synopsys(*run)) break;
      synopsys = true;
    }
  }
  return unknown;
}

std::pair<std::string, bool> detect_vhdl_standard(const std::vector<std::string>& files, const std::string& library) {
  ToolSession session;
  return detect_vhdl_standard(files, library, session);
}

}  // namespace quarrix::probes
