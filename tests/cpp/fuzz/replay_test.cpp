// Every input that once crashed or hung a fuzz target, replayed through the
// same target function (see fuzz/fuzz_target.hpp).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "../../../fuzz/fuzz_target.hpp"

namespace {

namespace fs = std::filesystem;

const fs::path kInputsDir = fs::path(QUARRIX_FIXTURES_DIR) / "fuzz";

std::string read_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

TEST(FuzzReplay, EverySavedInputNamesATarget) {
  ASSERT_FALSE(quarrix::fuzz::targets().empty());
  if (!fs::is_directory(kInputsDir)) return;
  for (const auto& dir : fs::directory_iterator(kInputsDir))
    EXPECT_TRUE(quarrix::fuzz::targets().count(dir.path().filename().string())) << dir.path();
}

TEST(FuzzReplay, SavedInputsRunCleanly) {
  for (const auto& [name, run] : quarrix::fuzz::targets()) {
    run({});
    const fs::path dir = kInputsDir / name;
    if (!fs::is_directory(dir)) continue;
    for (const auto& file : fs::directory_iterator(dir)) {
      SCOPED_TRACE(file.path().string());
      run(read_bytes(file.path()));
    }
  }
}

}  // namespace
