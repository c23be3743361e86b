#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include <quarrix/describe/verdicts.hpp>

namespace {

namespace fs = std::filesystem;
using quarrix::Json;
using quarrix::describe::load_description_verdicts;
using quarrix::describe::verdict_locked_text;

class VerdictsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("quarrix-verdicts-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  void write(const std::string& bytes) {
    std::ofstream(dir_ / "descriptions_verdicts.json", std::ios::binary) << bytes;
  }
  Json load() { return load_description_verdicts(dir_.string()); }

  fs::path dir_;
};

TEST_F(VerdictsFile, Shapes) {
  struct Case {
    const char* content;
    Json expected;
  };
  const Json good = {{"acme/uart", {{"verdict", "good"}, {"locked_text", "UART"}}}};
  const Case cases[] = {
      {R"({"version": 1, "entries": {"acme/uart": {"verdict": "good", "locked_text": "UART"}}})", good},
      {R"({"acme/uart": {"verdict": "good", "locked_text": "UART"}})", good},
      // "entries" that is not an object: the whole object is the (flat) map.
      {R"({"entries": [1], "acme/x": {}})", Json::parse(R"({"entries": [1], "acme/x": {}})")},
      {R"([{"acme/uart": {}}])", Json::object()},
      {R"("text")", Json::object()},
      {"null", Json::object()},
      {"{not json", Json::object()},
      {"", Json::object()},
      {"\xEF\xBB\xBF{}", Json::object()},
      {"{\"acme/\xFF\": {}}", Json::object()},  // not UTF-8
      {R"({"a": 1, "a": 2})", Json::parse(R"({"a": 2})")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    write(c.content);
    EXPECT_EQ(load(), c.expected);
  }
}

TEST_F(VerdictsFile, MissingOrNotAFile) {
  EXPECT_EQ(load(), Json::object());
  fs::create_directory(dir_ / "descriptions_verdicts.json");
  EXPECT_EQ(load(), Json::object());
  EXPECT_EQ(load_description_verdicts((dir_ / "absent").string()), Json::object());
}

// "" names the working directory, as an empty path does for the host.
TEST_F(VerdictsFile, EmptyDirectoryIsTheWorkingDirectory) {
  write(R"({"acme/uart": {}})");
  const fs::path previous = fs::current_path();
  fs::current_path(dir_);
  const Json loaded = load_description_verdicts("");
  fs::current_path(previous);
  EXPECT_EQ(loaded, Json::parse(R"({"acme/uart": {}})"));
}

TEST(VerdictLockedText, Records) {
  const Json verdicts = Json::parse(R"({
    "acme/good": {"verdict": "good", "locked_text": "  SPI master  "},
    "acme/blank": {"verdict": "good", "locked_text": "   "},
    "acme/capital": {"verdict": "Good", "locked_text": "x"},
    "acme/improvable": {"verdict": "improvable", "locked_text": "x"},
    "acme/no-verdict": {"locked_text": "x"},
    "acme/number": {"verdict": "good", "locked_text": 3},
    "acme/no-text": {"verdict": "good"},
    "acme/list": ["good"]
  })");
  struct Case {
    const char* name;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"good", "  SPI master  "},   {"blank", std::nullopt},      {"capital", std::nullopt},
      {"improvable", std::nullopt}, {"no-verdict", std::nullopt}, {"number", std::nullopt},
      {"no-text", std::nullopt},    {"list", std::nullopt},       {"GOOD", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(verdict_locked_text(&verdicts, "acme", c.name), c.expected);
  }
  EXPECT_EQ(verdict_locked_text(&verdicts, "Acme", "good"), std::nullopt);
  EXPECT_EQ(verdict_locked_text(&verdicts, "acme ", "good"), std::nullopt);
}

TEST(VerdictLockedText, NoRegistry) {
  const Json empty = Json::object();
  const Json array = Json::array({1});
  EXPECT_EQ(verdict_locked_text(nullptr, "acme", "good"), std::nullopt);
  EXPECT_EQ(verdict_locked_text(&empty, "acme", "good"), std::nullopt);
  EXPECT_EQ(verdict_locked_text(&array, "acme", "good"), std::nullopt);
}

}  // namespace
