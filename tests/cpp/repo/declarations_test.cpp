// Inside a scan, a file's declarations are indexed once; the index must give
// for every name exactly what the plain per-name search gives.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "quarrix/repo/declarations.hpp"
#include "quarrix/util/text_cache.hpp"
#include "support/temp_repo.hpp"

using namespace quarrix;

namespace {

// Keywords in several spellings (one with KELVIN SIGN), names that differ only
// in case or by letters that fold onto ASCII, and tokens that are not
// declarations at all.
const std::vector<std::string> kTokens = {"module",
                                          "MODULE",
                                          "Module",
                                          "interface",
                                          "package",
                                          "pac\u212Aage",
                                          "class",
                                          "program",
                                          "entity",
                                          "ENTITY",
                                          "configuration",
                                          "submodule",
                                          "entity_x",
                                          "m",
                                          "M",
                                          "m2",
                                          "top_a",
                                          "TOP_A",
                                          "key",
                                          "\u212Aey",
                                          "spi",
                                          "\u017Fpi",
                                          "caf\u00e9",
                                          "caf",
                                          "x\u00e9",
                                          "\\esc",
                                          "(",
                                          ";",
                                          "//",
                                          "_",
                                          " ",
                                          " ",
                                          "  ",
                                          "\n",
                                          "\t",
                                          "\u00a0",
                                          "\u3000"};

const std::vector<std::string> kNames = {"m",       "M",         "m2",    "top_a",    "TOP_A",  "key",
                                         "KEY",     "spi",       "caf",   "x",        "module", "entity",
                                         "package", "caf\u00e9", "\\esc", "\u212Aey", "_"};

TEST(ClassifyTopDeclaration, IndexedFileAnswersAsThePerNameSearch) {
  quarrix::testing::TempRepo repo;
  std::mt19937 rng(20261208);
  std::uniform_int_distribution<std::size_t> pick(0, kTokens.size() - 1);
  const util::ScanTextCache cache;
  for (int round = 0; round < 300; ++round) {
    std::string text;
    for (int i = 0; i < 40; ++i) {
      text += kTokens[pick(rng)];
      if (rng() % 2) text += ' ';
    }
    for (const char* suffix : {".v", ".sv", ".vhd", ".VHDL"}) {
      const std::string path = repo.at("f" + std::to_string(round) + suffix).string();
      repo.write("f" + std::to_string(round) + suffix, text);
      std::string lower_suffix(suffix);
      for (char& c : lower_suffix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      for (const std::string& name : kNames)
        ASSERT_EQ(repo::classify_top_declaration(name, path), repo::classify_declaration_text(name, lower_suffix, text))
            << "name " << name << " in " << suffix << " text:\n"
            << text;
    }
  }
}

TEST(ClassifyTopDeclaration, FirstDeclarationWinsAndUnreadableFilesHaveNone) {
  quarrix::testing::TempRepo repo;
  repo.write("pkg.sv", "// package m is mentioned first\nmodule m;\nendmodule\nclass m; endclass\n");
  repo.write("e.vhd", "PACKAGE Foo is end;\nentity foo is end;\n");
  repo.write("notes.txt", "module m;\n");
  const util::ScanTextCache cache;
  EXPECT_EQ(repo::classify_top_declaration("m", repo.at("pkg.sv").string()), "package");
  EXPECT_EQ(repo::classify_top_declaration("foo", repo.at("e.vhd").string()), "package");
  EXPECT_EQ(repo::classify_top_declaration("m", repo.at("notes.txt").string()), std::nullopt);
  EXPECT_EQ(repo::classify_top_declaration("m", repo.at("missing.v").string()), std::nullopt);
}

}  // namespace
