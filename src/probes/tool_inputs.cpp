#include "tool_inputs.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>
#include <string_view>

#include "quarrix/util/file.hpp"
#include "quarrix/util/path.hpp"

namespace quarrix::probes::detail {

namespace {

void append(std::string& text, std::string_view part) { text.append(part).push_back('\0'); }

// A file's identity and version from its metadata, for what is not read.
std::string stamp(const struct stat& st) {
  return std::to_string(st.st_mode) + ' ' + std::to_string(st.st_dev) + ':' + std::to_string(st.st_ino) + ' ' +
         std::to_string(st.st_size) + ' ' + std::to_string(st.st_mtim.tv_sec) + '.' +
         std::to_string(st.st_mtim.tv_nsec);
}

bool outside_confinement(const std::string& path) {
  const std::optional<std::vector<std::string>> roots = util::read_confinement_roots();
  if (!roots) return false;
  const std::optional<std::string> real = util::resolved_path(path);
  return real && std::none_of(roots->begin(), roots->end(),
                              [&](const std::string& root) { return util::lies_within(*real, root); });
}

// The files a tool takes for a missing module: Verilator looks in its -I
// directories for NAME.v and NAME.sv.
bool is_module_file_name(const std::string& name) {
  return name.ends_with(".v") || name.ends_with(".sv") || name.ends_with(".V") || name.ends_with(".SV");
}

// A directory that holds more module files than this is digested by its own
// metadata instead: any change to an entry changes the directory's mtime.
constexpr std::size_t kMaxDirEntries = 20000;

// Whether a name of the checkout found before `at` ends there, rather than
// being the beginning of a longer name ("/src/repo" in "/src/repo2"). Any
// character a directory's name seldom holds ends it: a path a tool quotes
// in brackets or before a comma is masked too, and never replayed elsewhere.
bool ends_a_name(std::string_view text, std::size_t at) {
  if (at == text.size()) return true;
  const unsigned char c = static_cast<unsigned char>(text[at]);
  return c < 0x80 && !std::isalnum(c) &&
         std::string_view("._-+~@#%=").find(static_cast<char>(c)) == std::string_view::npos;
}

}  // namespace

std::string without_checkout(std::string_view text, const std::vector<std::string>& checkout) {
  std::vector<std::string_view> names;
  for (const std::string& name : checkout)
    if (!name.empty()) names.push_back(name);
  // The longest first: a link's name may begin with the directory's own.
  std::sort(names.begin(), names.end(), [](std::string_view a, std::string_view b) { return a.size() > b.size(); });
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const auto name = std::find_if(names.begin(), names.end(), [&](std::string_view n) {
      return text.substr(at).starts_with(n) && ends_a_name(text, at + n.size());
    });
    if (name != names.end()) {
      out += kCheckoutMark;
      at += name->size();
    } else {
      out.push_back(text[at++]);
    }
  }
  return out;
}

std::string with_checkout(std::string_view text, const std::string& checkout) {
  std::string out;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find(kCheckoutMark, from)) != std::string_view::npos;
       from = at + kCheckoutMark.size())
    out.append(text, from, at - from).append(checkout);
  return out.append(text.substr(from));
}

InputDigests::State InputDigests::of_file(const std::string& path) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto it = files_.find(path); it != files_.end()) return it->second;
  }
  State state;
  struct stat st {};
  if (const std::optional<std::string> bytes = util::read_file_bytes(path)) {
    state.digest = digest128(*bytes);
  } else if (::stat(path.c_str(), &st) == 0) {
    // Outside the repository, too large, or not a regular file: known by
    // where it leads and its metadata, never read.
    state.outside = outside_confinement(path);
    state.digest = digest128("unread " + util::resolved_path(path).value_or(path) + ' ' + stamp(st));
  }  // else absent (or a dangling link): a digest no content can have
  std::lock_guard<std::mutex> lock(mutex_);
  return files_.emplace(path, state).first->second;
}

InputDigests::State InputDigests::of_module_dir(const std::string& dir) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto it = dirs_.find(dir); it != dirs_.end()) return it->second;
  }
  State state;
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::string text = "dir";
    state.outside = outside_confinement(dir);
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      std::string name = util::path_string(it->path().filename());
      if (is_module_file_name(name)) names.push_back(std::move(name));
      if (names.size() > kMaxDirEntries) break;
    }
    if (ec || names.size() > kMaxDirEntries || state.outside) {
      text += " unlisted " + stamp(st);
    } else {
      std::sort(names.begin(), names.end());
      for (const std::string& name : names) {
        const State file = of_file(util::join_path(dir, name));
        state.outside = state.outside || file.outside;
        append(text, name);
        text += file.digest.bytes();
      }
    }
    state.digest = digest128(text);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return dirs_.emplace(dir, state).first->second;
}

CommandInputs InputDigests::of_command(const std::vector<std::string>& argv, const std::vector<std::string>& reads,
                                       const std::vector<std::string>& module_dirs,
                                       const std::vector<std::string>& checkout) {
  CommandInputs inputs;
  std::string text;
  const auto add = [&](std::string_view what, const std::string& path, const State& state) {
    append(text, std::string(what) + ' ' + without_checkout(path, checkout));
    text += state.digest.bytes();
    inputs.leads_outside = inputs.leads_outside || state.outside;
  };
  for (std::size_t i = 1; i < argv.size(); ++i) {
    const std::string& arg = argv[i];
    if (arg.starts_with("-") || !util::exists(arg)) continue;
    add("file", arg, of_file(arg));
  }
  for (const std::string& path : reads) add("reads", path, of_file(path));
  for (const std::string& dir : module_dirs) add("modules", dir, of_module_dir(dir));
  inputs.digest = digest128(text);
  return inputs;
}

}  // namespace quarrix::probes::detail
