#include <sys/stat.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "quarrix/license/license.hpp"
#include "quarrix/util/regex.hpp"
#include "support/temp_repo.hpp"

using namespace quarrix::license;
namespace fs = std::filesystem;

namespace {
struct Repo : quarrix::testing::TempRepo {
  fs::path root = at("");
  std::string detect() const { return detect_license(path()); }
};
}  // namespace

TEST(DetectLicense, TableOrderAndLineRule) {
  const std::pair<const char*, const char*> cases[] = {
      {"MIT License\n", "MIT"},
      {"mit license", "MIT"},
      {"GNU GENERAL PUBLIC LICENSE Version 2 ... MIT License", "MIT"},
      {"Apache License, Version 2.0", "Apache-2.0"},
      {"GNU GENERAL PUBLIC LICENSE\n Version 3", "GPL-3.0-only"},       // the title block joins its lines
      {"a\nb\n\nc\nd\ne\nGNU GENERAL PUBLIC LICENSE\n Version 3", ""},  // below the title block: one line
      {"GNU GENERAL PUBLIC LICENSE  Version 3, 29 June 2007", "GPL-3.0-only"},
      {"GNU LESSER GENERAL PUBLIC LICENSE Version 2.1, February 1999", "LGPL-2.1-only"},
      {"GNU LESSER GENERAL PUBLIC LICENSE Version 2, June 1991", "LGPL-2.0-only"},
      {"GNU LESSER GENERAL PUBLIC LICENSE Version 2", "LGPL-2.0-only"},
      {"CERN Open Hardware Licence Version 2 - Weakly Reciprocal", "CERN-OHL-W-2.0"},
      {"SolderPad Hardware License v0.51", "SHL-0.51"},
      {"Solderpad Hardware Licence Version 2.1", "SHL-2.1"},
      {"Creative Commons Attribution-ShareAlike 4.0", "CC-BY-SA-4.0"},
      {"Creative Commons Attribution 4.0 International", "CC-BY-4.0"},
      {"All rights reserved.", ""},
  };
  for (const auto& [text, id] : cases) {
    Repo repo;
    repo.write("LICENSE", text);
    EXPECT_EQ(repo.detect(), id) << text;
  }
}

// The table's patterns are searched piece by piece along each line; the answer
// must be the engine's own search of the whole pattern over the whole text.
TEST(DetectLicense, PiecewiseSearchAnswersAsTheWholePattern) {
  std::vector<quarrix::util::Regex> whole;
  for (const auto& [pattern, id] : spdx_patterns()) whole.emplace_back(pattern, quarrix::util::kIgnoreCase);
  const char* words[] = {"Creative Commons",
                         "attribution",
                         "ShareAlike",
                         "4.0",
                         "Apache License",
                         "2.0",
                         "GNU LESSER GENERAL PUBLIC LICENSE",
                         "GNU GENERAL PUBLIC LICENSE",
                         "Version 2",
                         "Version 2.1",
                         "Version 3",
                         "SolderPad Hardware Licence",
                         "V0.51",
                         "CERN Open Hardware Licence",
                         "Weakly",
                         "Mozilla Public License",
                         "version",
                         "0.51",
                         ".",
                         "\n",
                         " ",
                         "\t",
                         "x"};
  std::mt19937 rng(7);
  Repo repo;
  for (int round = 0; round < 5000; ++round) {
    // Five lines first that no pattern matches, so that the title block decides nothing.
    std::string text = "-\n-\n-\n-\n-\n";
    for (int k = static_cast<int>(rng() % 14); k > 0; --k) text += words[rng() % std::size(words)];
    std::string expected;
    for (std::size_t i = 0; i < whole.size() && expected.empty(); ++i)
      if (whole[i].search(text)) expected = spdx_patterns()[i].second;
    repo.write("LICENSE", text);
    ASSERT_EQ(repo.detect(), expected) << text;
  }
}

std::string fixture(const std::string& name) {
  std::ifstream in(std::string(QUARRIX_FIXTURES_DIR) + "/license/" + name);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// SolderPad texts say they are based on the Apache License 2.0: they are tried
// first, and the licence's own title writes the version as a word.
TEST(DetectLicense, SolderPadBeforeApache) {
  const std::pair<std::string, const char*> cases[] = {
      {fixture("shl-0.51.txt"), "SHL-0.51"},
      {"SOLDERPAD HARDWARE LICENSE version 0.51", "SHL-0.51"},
      {"Solderpad Hardware License, Version\n  0.51", "SHL-0.51"},
      {"Solderpad Hardware License v0.51", "SHL-0.51"},
      {"Solderpad Hardware License, Version 2.1\nbased on the Apache License Version 2.0", "SHL-2.1"},
      {"Apache License\nVersion 2.0, January 2004 ... Apache License, Version 2.0", "Apache-2.0"},
  };
  for (const auto& [text, id] : cases) {
    Repo repo;
    repo.write("LICENSE", text);
    EXPECT_EQ(repo.detect(), id) << text;
  }
}

// Without any of the names spelled exactly, an entry equal to one of them
// ignoring ASCII case is read: names in their order, then code-point order.
TEST(DetectLicense, NamesIgnoringCase) {
  {
    Repo repo;
    repo.write("Copying", "MIT License");
    repo.write("license.md", fixture("isc.txt"));
    EXPECT_EQ(repo.detect(), "ISC");
  }
  {
    Repo repo;
    repo.write("License.txt", "ISC License");
    repo.write("LICENSE.TXT", "MIT License");
    EXPECT_EQ(repo.detect(), "MIT");
  }
  {
    Repo repo;  // an exact name that exists keeps the exact rule
    fs::create_directory(repo.at("LICENSE"));
    repo.write("License.txt", "MIT License");
    EXPECT_EQ(repo.detect(), "");
  }
  {
    Repo repo;  // a directory in the fallback is passed over like an unreadable file
    fs::create_directory(repo.at("Licence"));
    repo.write("copying", "MIT License");
    EXPECT_EQ(repo.detect(), "MIT");
  }
}

// Standard bodies without a title, whatever the line breaks.
TEST(DetectLicense, UntitledBsdAndIscBodies) {
  const std::pair<std::string, const char*> cases[] = {
      {fixture("bsd-2-clause.txt"), "BSD-2-Clause"},
      {fixture("bsd-2-clause-views.txt"), "BSD-2-Clause-Views"},
      {fixture("bsd-3-clause.txt"), "BSD-3-Clause"},
      {fixture("isc.txt"), "ISC"},
      {"Permission to use, copy, modify, and distribute this software for any\npurpose", "ISC"},
      {"REDISTRIBUTION AND USE IN SOURCE\n\tAND BINARY FORMS ... may not endorse or promote products derived",
       "BSD-3-Clause"},
      {"Redistribution and use in source form only", ""},
  };
  for (const auto& [text, id] : cases) {
    Repo repo;
    repo.write("COPYING", text);
    EXPECT_EQ(repo.detect(), id) << text;
  }
}

// What a source declares for itself: the first SPDX line of its first 64.
TEST(UnitLicense, FirstSpdxTagWithinTheHead) {
  const std::pair<std::string, const char*> cases[] = {
      {"// SPDX-License-Identifier: Apache-2.0 WITH SHL-2.1\nmodule m; endmodule\n", "Apache-2.0 WITH SHL-2.1"},
      {"/* SPDX-License-Identifier:  MIT OR BSD-3-Clause  */\n", "MIT OR BSD-3-Clause"},
      {"<!-- SPDX-License-Identifier: CERN-OHL-S-2.0 -->", "CERN-OHL-S-2.0"},
      {"-- SPDX-License-Identifier: GPL-2.0-only\n-- SPDX-License-Identifier: MIT\n", "GPL-2.0-only"},
      {std::string(63, '\n') + "// SPDX-License-Identifier: ISC", "ISC"},
      {std::string(64, '\n') + "// SPDX-License-Identifier: ISC", ""},
      {"// SPDX-License-Identifier: " + std::string(200, 'x'), nullptr},
      {"// SPDX-License-Identifier:", ""},
      {"// License: MIT", ""},
  };
  for (const auto& [text, expected] : cases) {
    Repo repo;
    repo.write("a.v", text);
    const std::string got = unit_license(repo.at("a.v"));
    if (expected)
      EXPECT_EQ(got, expected) << text;
    else
      EXPECT_EQ(got, std::string(120, 'x'));
  }
  EXPECT_EQ(unit_license("/nonexistent/a.v"), "");
}

TEST(DetectLicense, FileChoice) {
  {
    Repo repo;
    EXPECT_EQ(repo.detect(), "");
  }
  {
    Repo repo;  // only the first existing readable name is examined
    repo.write("LICENSE", "proprietary");
    repo.write("COPYING", "MIT License");
    EXPECT_EQ(repo.detect(), "");
  }
  {
    Repo repo;  // a directory and a FIFO are skipped, never opened
    fs::create_directory(repo.root / "LICENSE");
    ASSERT_EQ(mkfifo((repo.root / "LICENSE.md").c_str(), 0600), 0);
    repo.write("COPYING.md", "ISC License");
    EXPECT_EQ(repo.detect(), "ISC");
  }
  {
    Repo repo;  // undecodable bytes do not fail the read
    repo.write("LICENCE", "\xff\xfe The Unlicense");
    EXPECT_EQ(repo.detect(), "Unlicense");
  }
}

TEST(ClassifyLicense, SimpleAndCompoundExpressions) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "unknown"},
      {"MIT", "permissive"},
      {"MPL-2.0", "weak-copyleft"},
      {"EUPL-1.2", "strong-copyleft"},
      {"MIT OR GPL-3.0-only", "permissive"},
      {"MIT AND GPL-3.0-only", "strong-copyleft"},
      {"MIT AND Foo", "permissive"},
      {"Foo OR Bar", "unknown"},
      {"LGPL-2.1-only AND MIT OR GPL-2.0-only", "weak-copyleft"},
      {"(MIT OR Apache-2.0)", "unknown"},
      {"MIT or Apache-2.0", "unknown"},
      {"GPL-2.0", "unknown"},
      {"GPL-2.0+", "unknown"},
      {" MIT", "unknown"},
      {"mit", "unknown"},
      {"GPL-2.0-only WITH Classpath-exception-2.0", "unknown"},
  };
  for (const auto& [id, cls] : cases) EXPECT_EQ(classify_license(id), cls) << id;
}

TEST(ClassifyLicense, EveryDetectableIdentifierHasAClass) {
  for (const auto& [pattern, id] : spdx_patterns()) EXPECT_NE(classify_license(id), "unknown") << id;
}
