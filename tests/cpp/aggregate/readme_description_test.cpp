#include <quarrix/aggregate/readme_description.hpp>

#include <filesystem>

#include <gtest/gtest.h>

#include "support/temp_repo.hpp"

namespace {

using quarrix::aggregate::extract_readme_description;
using quarrix::testing::TempRepo;

std::optional<std::string> describe_readme(const char* text) {
  TempRepo repo;
  repo.write("README.md", text);
  return extract_readme_description(repo.path());
}

TEST(ReadmeDescription, FirstProseParagraph) {
  struct Case {
    const char* readme;
    std::optional<std::string> expected;
  } cases[] = {
      {"# Title\n[![build](b.svg)](ci)\n\nFirst line\nsecond line.\n\nThird line.\n", "First line second line."},
      {"Prose one\n## Heading\nprose two\n", "Prose one prose two"},
      {"My Core\n=======\n\nBody.\n", "My Core"},
      {"COPYRIGHT 2020 me\nLicense: MIT\nspdx-x\nReal text.\n", "Real text."},
      {"See the docs for details\nSeeing is believing\n", "Seeing is believing"},
      {"Visit us\nFor more information read on\nhttps://x.org\nGitHub mirror\nText.\n", "Text."},
      {"Get it https://x.org now ok\nGet it at https://x.org now ok\n", "Get it at https://x.org now ok"},
      {"--\n---\nok\n", "ok"},                 // no letter or digit: not prose
      {"```\ncode line\n```\n", "code line"},  // only the fence lines are skipped
      {"~~~\n![img](i.png)\n", std::nullopt},
      {"The core is described below, see:\n", "The core is described below,"},
      {"Use \\[brackets\\] and \\_x\\_.\r\nMore\r\n\r\nNot this", "Use [brackets] and _x_. More"},
      {"", std::nullopt},
      {"\n\n# only a heading\n", std::nullopt},
      // Markup with no words of its own, and contact lines.
      {"<p align=\"center\">\n  <img src=\"logo.png\" width=\"300\">\n</a>\nA <b>fast</b> FIFO.\n",
       "A <b>fast</b> FIFO."},
      {"Maintainer: Jo Doe <jo@example.org>\nAUTHORS : the team\ncontact:x\nAuthored by hand.\n", "Authored by hand."},
      {"Contact us for support.\n", "Contact us for support."},
  };
  for (const auto& c : cases) EXPECT_EQ(describe_readme(c.readme), c.expected) << c.readme;
}

TEST(ReadmeDescription, FileChoice) {
  TempRepo none;
  EXPECT_EQ(extract_readme_description(none.path()), std::nullopt);

  TempRepo both;
  both.write("README.md", "From md.\n");
  both.write("README", "From plain.\n");
  EXPECT_EQ(extract_readme_description(both.path()), "From md.");

  TempRepo unreadable;  // a directory named README.md is passed over
  std::filesystem::create_directories(unreadable.at("README.md"));
  unreadable.write("README.rst", "From rst.\n");
  EXPECT_EQ(extract_readme_description(unreadable.path()), "From rst.");

  TempRepo bad_bytes;
  bad_bytes.write("README", "caf\xff desc\n");
  EXPECT_EQ(extract_readme_description(bad_bytes.path()), "caf\xef\xbf\xbd desc");
}

}  // namespace
