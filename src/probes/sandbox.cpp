#include "quarrix/probes/sandbox.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <mutex>

#include "quarrix/probes/tool_run.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/path.hpp"

namespace quarrix::probes {

namespace {

// Where a Debian-like system keeps what programs need to run: /usr, and the
// top-level directories that are links into it or, on older systems, their
// own. /etc is left out (it holds the machine's configuration and secrets)
// but for the loader's cache and the alternatives' links.
constexpr const char* kSystemTrees[] = {"/usr", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32"};
constexpr const char* kSystemFiles[] = {"/etc/ld.so.cache", "/etc/alternatives"};

bool lies_in_system_tree(const std::string& resolved) {
  for (const char* tree : kSystemTrees)
    if (util::lies_within(resolved, tree)) return true;
  return false;
}

void add_system(std::vector<std::string>& out) {
  for (const char* tree : kSystemTrees) {
    struct stat st {};
    if (::lstat(tree, &st) != 0) continue;
    if (S_ISLNK(st.st_mode)) {
      std::error_code ec;
      const std::filesystem::path target = std::filesystem::read_symlink(tree, ec);
      if (!ec) out.insert(out.end(), {"--symlink", target.string(), tree});
    } else if (S_ISDIR(st.st_mode)) {
      out.insert(out.end(), {"--ro-bind", tree, tree});
    }
  }
  for (const char* file : kSystemFiles) out.insert(out.end(), {"--ro-bind-try", file, file});
}

// A tool installed outside the system's trees brings its installation: the
// directory above the one its executable is in (bin/ and its lib/, share/).
std::optional<std::string> tool_installation(const std::string& program) {
  const std::optional<std::string> real = util::resolved_path(program);
  if (!real || lies_in_system_tree(*real)) return std::nullopt;
  const std::filesystem::path bin = std::filesystem::path(*real).parent_path();
  const std::filesystem::path prefix = bin.parent_path();
  return util::path_string(prefix == prefix.root_path() ? bin : prefix);
}

}  // namespace

std::vector<std::string> sandboxed_argv(const std::string& bwrap, const std::vector<std::string>& argv,
                                        const SandboxView& view) {
  std::vector<std::string> out{
      bwrap,   "--unshare-all", "--die-with-parent", "--new-session", "--cap-drop", "ALL", "--proc", "/proc",
      "--dev", "/dev",          "--tmpfs",           "/tmp"};
  add_system(out);
  if (!argv.empty())
    if (const auto installation = tool_installation(argv[0]))
      out.insert(out.end(), {"--ro-bind", *installation, *installation});
  for (const std::string& path : view.readable) out.insert(out.end(), {"--ro-bind-try", path, path});
  if (!view.writable.empty()) out.insert(out.end(), {"--bind", view.writable, view.writable});
  out.insert(out.end(), {"--chdir", view.writable.empty() ? std::string("/") : view.writable, "--"});
  out.insert(out.end(), argv.begin(), argv.end());
  return out;
}

std::optional<std::string> sandbox_program() {
  static std::mutex mutex;
  static std::map<std::string, bool> works;  // by program, as PATH may change between scans
  const std::optional<std::string> bwrap = find_on_path("bwrap");
  const std::optional<std::string> probe = find_on_path("true");
  if (!bwrap || !probe) return std::nullopt;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (const auto it = works.find(*bwrap); it != works.end()) return it->second ? bwrap : std::nullopt;
  }
  RunOptions options;
  options.timeout = std::chrono::seconds(10);
  const bool ok = run_tool(sandboxed_argv(*bwrap, {*probe}, {}), options).succeeded();
  std::lock_guard<std::mutex> lock(mutex);
  works[*bwrap] = ok;
  return ok ? bwrap : std::nullopt;
}

}  // namespace quarrix::probes
