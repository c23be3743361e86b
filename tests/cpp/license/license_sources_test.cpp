// Licences as repositories state them outside a titled LICENSE file, and the
// canonical texts however they are wrapped.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "quarrix/license/license.hpp"
#include "support/temp_repo.hpp"

using namespace quarrix::license;
namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Each paragraph refilled to `width` columns, as another copy of the text may be.
std::string rewrapped(const std::string& text, std::size_t width) {
  std::string out, line;
  std::istringstream lines(text);
  const auto flush = [&] {
    if (!line.empty()) out += line + "\n";
    line.clear();
  };
  for (std::string raw; std::getline(lines, raw);) {
    std::istringstream words(raw);
    std::string word;
    bool blank = true;
    while (words >> word) {
      blank = false;
      if (!line.empty() && line.size() + 1 + word.size() > width) flush();
      line += (line.empty() ? "" : " ") + word;
    }
    if (blank) {
      flush();
      out += "\n";
    }
  }
  flush();
  return out;
}

std::string detect_with(const std::vector<std::pair<std::string, std::string>>& files) {
  quarrix::testing::TempRepo repo;
  for (const auto& [name, text] : files) repo.write(name, text);
  return detect_license(repo.path());
}

constexpr const char* kGpl2Notice =
    "<one line to give the program's name and a brief idea of what it does.>\n"
    "Copyright (C) <year>  <name of author>\n\n"
    "This program is free software; you can redistribute it and/or modify\n"
    "it under the terms of the GNU General Public License as published by\n"
    "the Free Software Foundation; either version 2 of the License, or\n"
    "(at your option) any later version.\n";

}  // namespace

TEST(LicenseOfText, CanonicalTextsAsDebianInstallsThemAndRewrapped) {
  const fs::path dir = "/usr/share/common-licenses";
  if (!fs::is_directory(dir)) GTEST_SKIP() << "no " << dir;
  const std::pair<const char*, const char*> texts[] = {
      {"Apache-2.0", "Apache-2.0"},  {"BSD", "BSD-3-Clause"},     {"CC0-1.0", "CC0-1.0"},
      {"GPL-2", "GPL-2.0-only"},     {"GPL-3", "GPL-3.0-only"},   {"LGPL-2", "LGPL-2.0-only"},
      {"LGPL-2.1", "LGPL-2.1-only"}, {"LGPL-3", "LGPL-3.0-only"}, {"MPL-2.0", "MPL-2.0"},
  };
  for (const auto& [file, id] : texts) {
    const std::string text = slurp(dir / file);
    ASSERT_FALSE(text.empty()) << file;
    EXPECT_EQ(license_of_text(text), id) << file;
    for (std::size_t width : {30, 100}) EXPECT_EQ(license_of_text(rewrapped(text, width)), id) << file << width;
  }
}

TEST(LicenseOfText, NoticesAllowingLaterVersions) {
  const std::pair<std::string, const char*> cases[] = {
      {kGpl2Notice, "GPL-2.0-or-later"},
      {"This library is free software; you can redistribute it and/or modify it under the terms of the GNU Lesser "
       "General Public License as published by the Free Software Foundation; either\nversion 2.1 of the License, or "
       "(at your option) any later version.",
       "LGPL-2.1-or-later"},
      {"a\nb\nc\nd\ne\nThis program is free software: you can redistribute it and/or modify it under the terms of the "
       "GNU General Public License as published by the Free Software Foundation, either version 3 of the License, or\n"
       "(at your option) any later version.",
       "GPL-3.0-or-later"},
      // A notice without the choice keeps its one version.
      {"Distributed under the terms of the GNU Affero General Public License,\nversion 3.", "AGPL-3.0-only"},
      {"a\nb\nc\nd\ne\nlicensed under the terms of the GNU Library General Public License version 2", "LGPL-2.0-only"},
      // A licence's title decides, whatever its appendix shows.
      {"GNU GENERAL PUBLIC LICENSE\nVersion 3, 29 June 2007\n\nHow to Apply\n" + std::string(kGpl2Notice),
       "GPL-3.0-only"},
      {"Apache License\nVersion 2.0, January 2004\nhttp://www.apache.org/licenses/\nTERMS AND CONDITIONS\n1. "
       "Definitions.\n\nbundled: MIT License\nPermission is hereby granted, free of charge",
       "Apache-2.0"},
  };
  for (const auto& [text, id] : cases) EXPECT_EQ(license_of_text(text), id) << text;
}

TEST(LicenseOfText, TitlesAddedToTheTable) {
  const std::pair<const char*, const char*> cases[] = {
      {"GNU AFFERO GENERAL PUBLIC LICENSE\n  Version 3, 19 November 2007", "AGPL-3.0-only"},
      {"GNU LIBRARY GENERAL PUBLIC LICENSE\n  Version 2, June 1991", "LGPL-2.0-only"},
      {"European Union Public Licence\nv. 1.2", "EUPL-1.2"},
      {"Boost Software License - Version 1.0 - August 17th, 2003", "BSL-1.0"},
      {"zlib License\n\n(C) 1995-2017 Jean-loup Gailly and Mark Adler", "Zlib"},
  };
  for (const auto& [text, id] : cases) EXPECT_EQ(license_of_text(text), id) << text;
}

TEST(DetectLicense, BesideOrWithoutALicenceFile) {
  // Files of a choice of licences, and a licence file by another name.
  EXPECT_EQ(detect_with({{"LICENSE.rst", "Released under the terms of Mozilla Public License, v. 2.0"}}), "MPL-2.0");
  EXPECT_EQ(detect_with({{"LICENSE-MIT", "MIT License\n"}, {"LICENSE-APACHE", "Apache License\nVersion 2.0\n"}}),
            "Apache-2.0 OR MIT");
  // The README's SPDX line, before anything else beside an unmatched LICENSE.
  EXPECT_EQ(detect_with({{"LICENSE", "see README"}, {"README.md", "# Core\nSPDX-License-Identifier: ISC\n"}}), "ISC");
  // README licence sections, Markdown and reStructuredText.
  EXPECT_EQ(
      detect_with({{"README.md", "# Core\nA FIFO.\n## License\nThis work is under the MIT license.\n## Ports\n"}}),
      "MIT");
  EXPECT_EQ(detect_with({{"README.rst", "Core\n====\n\nLicence\n-------\n\nApache 2.0, see license/index.html\n"}}),
            "Apache-2.0");
  EXPECT_EQ(detect_with({{"README.md", "## Licensing\n\nCC BY-SA 4.0\n"}}), "CC-BY-SA-4.0");
  EXPECT_EQ(detect_with({{"README.md", "## License\n\n" + std::string(kGpl2Notice)}}), "GPL-2.0-or-later");
  // No section, or a section that names nothing: nothing.
  EXPECT_EQ(detect_with({{"README.md", "# Core\nWe submit it with MIT-style care.\n"}}), "");
  EXPECT_EQ(detect_with({{"README.md", "## License\nAsk the authors.\n"}}), "");
  // LICENSES/: one licence is the repository's; several leave each file its own.
  EXPECT_EQ(detect_with({{"LICENSES/CERN-OHL-S-2.0.txt", "(licence text)"}}), "CERN-OHL-S-2.0");
  EXPECT_EQ(detect_with({{"LICENSES/MIT.txt", "MIT License"},
                         {"LICENSES/Apache-2.0.txt", "Apache License 2.0"},
                         {"README.md", "## License\nMIT\n"}}),
            "");
}

TEST(UnitLicense, VendorNoticesAndOwnSpdxLines) {
  quarrix::testing::TempRepo repo;
  repo.write("xilinx.v",
             "// (c) Copyright 2012 Xilinx, Inc. All rights reserved.\n//\n// This file contains confidential and\n"
             "// proprietary information of Xilinx, Inc.\n// SPDX-License-Identifier: MIT\nmodule x; endmodule\n");
  repo.write("intel.v",
             "// Copyright (C) 2020  Intel Corporation. All rights reserved.\n// Your use of Intel Corporation's "
             "design tools, logic functions\n// and other software and tools\nmodule y; endmodule\n");
  repo.write("lattice.v",
             "-- Other use of this code, including the selling or duplication\n-- of any portion is strictly "
             "prohibited.\nentity z is end;\n");
  repo.write("open.v", "// SPDX-License-Identifier: Apache-2.0 WITH SHL-2.1\n// Copyright lowRISC contributors.\n");
  repo.write("plain.v", "// Not confidential, nor proprietary.\nmodule p; endmodule\n");
  // A vendor that holds the copyright and grants nothing, against one merely named.
  repo.write("unisim.v", "// Copyright (c) 1995/2004 Xilinx, Inc.\n// All Right Reserved.\nmodule FD; endmodule\n");
  repo.write("port.v", "// Copyright (c) 2020 A. Person. Ported from a Xilinx app note.\nmodule q; endmodule\n");
  // Notices of their own, through boxed comments and past a long description.
  repo.write("box.v",
             "////  This source file is free software; you can redistribute it   ////\n"
             "////  and/or modify it under the terms of the GNU Lesser General  ////\n"
             "////  Public License as published by the Free Software Foundation;////\n"
             "////  either version 2.1 of the License, or (at your option) any   ////\n"
             "////  later version.                                              ////\n");
  repo.write("mpl.vhd",
             "-- This Source Code Form is subject to the terms of the Mozilla Public\n"
             "-- License, v. 2.0. If a copy of the MPL was not distributed with this file,\n");
  repo.write("late.v", std::string(80, '\n') +
                           "// under the terms of the GNU General Public License as published by the Free Software\n"
                           "// Foundation, either version 3 of the License, or (at your option) any later version.\n");
  repo.write("boxed_spdx.vhd", "-- SPDX-License-Identifier: BSD-3-Clause                --\nentity e is end;\n");
  for (const char* name : {"xilinx.v", "intel.v", "lattice.v"}) EXPECT_EQ(unit_license(repo.at(name)), kProprietary);
  EXPECT_EQ(unit_license(repo.at("open.v")), "Apache-2.0 WITH SHL-2.1");
  EXPECT_EQ(unit_license(repo.at("plain.v")), "");
  EXPECT_EQ(unit_license(repo.at("unisim.v")), kProprietary);
  EXPECT_EQ(unit_license(repo.at("port.v")), "");
  EXPECT_EQ(unit_license(repo.at("box.v")), "LGPL-2.1-or-later");
  EXPECT_EQ(unit_license(repo.at("mpl.vhd")), "MPL-2.0");
  EXPECT_EQ(unit_license(repo.at("late.v")), "GPL-3.0-or-later");
  EXPECT_EQ(unit_license(repo.at("boxed_spdx.vhd")), "BSD-3-Clause");
}
