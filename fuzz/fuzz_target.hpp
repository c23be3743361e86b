#pragma once
// One fuzz target = one function of the input bytes. QUARRIX_FUZZ_TARGET(name)
// defines it and, in a libFuzzer build, the LLVMFuzzerTestOneInput that calls
// it; in the replay build (QUARRIX_FUZZ_REPLAY) it registers the function so
// the test suite can feed it the saved crashing inputs.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include <unistd.h>

namespace quarrix::fuzz {

using TargetFunction = void (*)(std::string_view input);

inline std::map<std::string, TargetFunction>& targets() {
  static std::map<std::string, TargetFunction> registry;
  return registry;
}

inline bool register_target(const char* name, TargetFunction fn) {
  targets().emplace(name, fn);
  return true;
}

// Splits `input` at its first NUL: the head and the rest (empty when none).
inline std::pair<std::string_view, std::string_view> split_at_nul(std::string_view input) {
  const auto nul = input.find('\0');
  if (nul == std::string_view::npos) return {input, {}};
  return {input.substr(0, nul), input.substr(nul + 1)};
}

// A directory of this process for targets whose entry point reads a file.
inline const std::filesystem::path& scratch_dir() {
  static const std::filesystem::path dir = [] {
    auto path = std::filesystem::temp_directory_path() / ("quarrix-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    return path;
  }();
  return dir;
}

// Writes `bytes` to <scratch>/<name> and returns the scratch directory.
inline std::string write_scratch(const char* name, std::string_view bytes) {
  std::ofstream(scratch_dir() / name, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return scratch_dir().string();
}

}  // namespace quarrix::fuzz

#ifdef QUARRIX_FUZZ_REPLAY
#define QUARRIX_FUZZ_ENTRY(name) \
  [[maybe_unused]] static const bool quarrix_fuzz_registered_##name = \
      ::quarrix::fuzz::register_target(#name, &quarrix_fuzz_##name);
#else
#define QUARRIX_FUZZ_ENTRY(name) \
  extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { \
    quarrix_fuzz_##name(std::string_view(reinterpret_cast<const char*>(data), size)); \
    return 0; \
  }
#endif

#define QUARRIX_FUZZ_TARGET(name) \
  static void quarrix_fuzz_##name(std::string_view input); \
  QUARRIX_FUZZ_ENTRY(name) \
  static void quarrix_fuzz_##name(std::string_view input)
