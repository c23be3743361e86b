#include "quarrix/probes/library_name.hpp"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "support/temp_repo.hpp"

namespace {

using quarrix::testing::TempRepo;

struct Case {
  const char* what;
  std::vector<std::pair<const char*, const char*>> files;
  const char* library;
};

TEST(DetectLibraryName, FollowsTheUseClausesOfTheRepositorysOwnPackages) {
  const char* pkg = "package core_pkg is\n  constant W : natural := 8;\nend package;\n";
  const std::vector<Case> cases = {
      {"own package used through its library",
       {{"rtl/pkg.vhd", pkg}, {"rtl/a.vhd", "library Neo;\nuse NEO.Core_Pkg.all;\nentity a is end;\n"}},
       "neo"},
      {"own package used through work", {{"rtl/pkg.vhd", pkg}, {"rtl/a.vhd", "use work.core_pkg.all;\n"}}, "work"},
      {"only standard libraries",
       {{"a.vhd", "library ieee;\nuse ieee.std_logic_1164.all;\nuse std.textio.all;\n"}},
       "work"},
      {"foreign package is not ours", {{"a.vhd", "library osvvm;\nuse osvvm.RandomPkg.all;\n"}}, "work"},
      {"use clause in a comment",
       {{"pkg.vhdl", pkg}, {"a.vhd", "-- use neo.core_pkg.all;\n/* use neo.core_pkg.all; */\n"}},
       "work"},
      {"package body is not a declaration",
       {{"b.vhd", "package body core_pkg is end;\n"}, {"a.vhd", "use neo.core_pkg.all;\n"}},
       "work"},
      {"most used library wins",
       {{"pkg.vhd", pkg},
        {"a.vhd", "use lib_a.core_pkg.all;\n"},
        {"b.vhd", "use lib_b.core_pkg.all;\nuse lib_b.core_pkg.W;\n"}},
       "lib_b"},
      {"no VHDL at all", {{"a.v", "module a; endmodule\n"}}, "work"},
      {"Verilog text is not read", {{"pkg.vhd", pkg}, {"a.v", "// use neo.core_pkg.all;\n"}}, "work"},
  };
  for (const auto& c : cases) {
    TempRepo repo;
    for (const auto& [rel, text] : c.files) repo.write(rel, text);
    EXPECT_EQ(quarrix::probes::detect_library_name(repo.path()), c.library) << c.what;
  }
}

TEST(DetectLibraryName, MissingRepositoryIsWork) {
  EXPECT_EQ(quarrix::probes::detect_library_name("/nonexistent/repo"), "work");
}

}  // namespace
