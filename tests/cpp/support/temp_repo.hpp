#pragma once
// A throw-away directory tree for tests that read repositories from disk.

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

namespace quarrix::testing {

class TempRepo {
 public:
  TempRepo() {
    std::random_device rd;
    root_ = std::filesystem::temp_directory_path() / ("quarrix-test-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(root_);
  }
  ~TempRepo() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  TempRepo(const TempRepo&) = delete;
  TempRepo& operator=(const TempRepo&) = delete;

  std::string path() const { return root_.string(); }
  std::filesystem::path at(std::string_view rel) const { return root_ / std::string(rel); }

  // Writes `text` to the root-relative file `rel`, creating its directories.
  void write(std::string_view rel, std::string_view text) const {
    const auto file = at(rel);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
  }

 private:
  std::filesystem::path root_;
};

}  // namespace quarrix::testing
