#include <quarrix/aggregate/repo_row.hpp>

#include <quarrix/aggregate/entry_error.hpp>

#include <gtest/gtest.h>

#include "aggregate/entries.hpp"
#include "support/temp_repo.hpp"

namespace {

using quarrix::Json;
using quarrix::aggregate::RowContext;
using quarrix::testing::make_entries;
using quarrix::testing::make_entry;
using quarrix::testing::TempRepo;

constexpr const char* kUrl = "https://example.org/acme/fifo-cores.git/";

bool reject_all(std::string_view, const std::optional<std::string>&, const std::optional<std::string>&) { return true; }
bool accept_all(std::string_view, const std::optional<std::string>&, const std::optional<std::string>&) {
  return false;
}

// Rows whose validator accepts every text, unless a test gives its own.
Json aggregate_repo_entry(const Json& entries, const Json& roles, const std::string& repo_path, std::string_view ns,
                          std::string_view url, std::string_view tag, const Json* verdicts = nullptr,
                          RowContext context = {quarrix::tags::kTagCapDefault, accept_all}) {
  context.description_verdicts = verdicts;
  return quarrix::aggregate::aggregate_repo_entry(entries, roles, repo_path, {ns, url, tag}, context);
}
Json aggregate_repo_entry(const Json& entries, const Json& roles, quarrix::repo::DefineCarrierIndex& carriers,
                          std::string_view ns, std::string_view url, std::string_view tag) {
  return quarrix::aggregate::aggregate_repo_entry(entries, roles, carriers, {ns, url, tag},
                                                  {quarrix::tags::kTagCapDefault, accept_all});
}

using RepoRow = ::testing::Test;

TEST_F(RepoRow, NoEntriesNoRow) {
  TempRepo repo;
  EXPECT_EQ(aggregate_repo_entry(Json::array(), Json::object(), repo.path(), "acme", kUrl, "v1"), Json::array());
}

TEST_F(RepoRow, WholeRow) {
  TempRepo repo;
  repo.write("LICENSE", "MIT License\n\nPermission is hereby granted, free of charge, to any person\n");
  repo.write("README.md", "# FIFO cores\n[![ci](x)](y)\n\nSynchronous and asynchronous FIFOs\nfor FPGAs.\n\nMore.\n");
  repo.write("rtl/fifo_top.v", "module fifo_top; wire [`W:0] w; endmodule\n");
  repo.write("rtl/fifo_mem.v", "module fifo_mem; endmodule\n");
  repo.write("rtl/defs.vh", "`define W 8\n");
  repo.write("rtl/pll_xilinx.v", "module pll; endmodule\n");
  repo.write("rtl/pll_intel.v", "module pll; endmodule\n");

  Json entries = make_entries({
      {"fifo_top",
       {"rtl/fifo_mem.v", "rtl/defs.vh", "rtl/pll_xilinx.v", "rtl/fifo_top.v"},
       "verilog",
       {"fifo", "queue"},
       "Top FIFO.",
       "header"},
      {"fifo_mem", {"rtl/fifo_mem.v"}, "verilog", {"memory", "fifo"}},
  });
  entries[0]["vendor_deps"] = {"unisim"};
  entries[1]["vendor_deps"] = {"altera_mf", "unisim"};
  entries[1]["verified"] = true;
  entries[0]["external_uses"] = Json::array({{{"library", "ieee"}, {"package", "fixed_pkg"}}});
  entries[1]["provides_packages"] = {"fifo_pkg"};
  const Json roles = {{"fifo_top", "top"}, {"fifo_mem", "primitive"}};

  const Json rows = aggregate_repo_entry(entries, roles, repo.path(), "acme", kUrl, "v1");
  const Json expected = Json::parse(R"([{
    "name": "fifo-cores", "namespace": "acme",
    "source": {"type": "git", "url": "https://example.org/acme/fifo-cores.git/", "tag": "v1", "ip_yml_path": "."},
    "quarrix_compat": {"language": "verilog", "library": "work",
                       "files": ["rtl/defs.vh", "rtl/fifo_mem.v", "rtl/fifo_top.v"]},
    "description": "Synchronous and asynchronous FIFOs for FPGAs.", "desc_source": "readme",
    "license": "MIT", "dep_count": 3, "vhdl_standard": "verilog", "vendor_deps": ["altera_mf", "unisim"],
    "verified": true, "badges": [], "test_info": {}, "tags": ["fifo", "memory", "queue"], "role": "repo",
    "top_modules": ["fifo_top"], "components": ["fifo_mem"], "total_entities": 2, "license_class": "permissive",
    "external_uses": [{"library": "ieee", "package": "fixed_pkg"}], "provides_packages": ["fifo_pkg"],
    "hdl": {"vendor_variants": {"intel": ["rtl/pll_intel.v"], "xilinx": ["rtl/pll_xilinx.v"]}}
  }])");
  EXPECT_EQ(rows.dump(2), expected.dump(2));
}

TEST_F(RepoRow, PlainRepositoryHasNoOptionalKeys) {
  TempRepo repo;
  const Json entries =
      make_entries({{"a", {"a.vhd", "pkg.vhd"}, "vhdl-2008"}, {"b", {"pkg.vhd", "b.vhd"}, "vhdl-2008"}});
  const Json row = aggregate_repo_entry(entries, {{"a", "top"}, {"b", "top"}}, repo.path(), "acme", "fifo", "t")[0];
  EXPECT_EQ(row["name"], "fifo");
  EXPECT_EQ(row["quarrix_compat"]["files"], Json({"a.vhd", "pkg.vhd", "b.vhd"}));
  EXPECT_EQ(row["dep_count"], 3);
  EXPECT_EQ(row["license"], "");
  EXPECT_EQ(row["license_class"], "unknown");
  EXPECT_EQ(row.size(), 19u);
  EXPECT_FALSE(row.contains("external_uses") || row.contains("provides_packages") || row.contains("hdl"));
}

TEST_F(RepoRow, RepositoryName) {
  TempRepo repo;
  const Json entries = make_entries({{"a", {"a.v"}}});
  for (const auto& [url, name] :
       std::vector<std::pair<std::string, std::string>>{{"https://h/o/fifo-cores.git/", "fifo-cores"},
                                                        {"git@h:o/r.git", "r"},
                                                        {"plain", "plain"},
                                                        {"https://h/o/r.git.git", "r.git"},
                                                        {"https://h/o/r//", "r"}})
    EXPECT_EQ(aggregate_repo_entry(entries, Json::object(), repo.path(), "acme", url, "t")[0]["name"], name) << url;
}

TEST_F(RepoRow, DescriptionPrecedence) {
  TempRepo with_readme;
  with_readme.write("README.md", "A readme paragraph.\n");
  TempRepo without_readme;
  const Json verdicts = {{"acme/cores", {{"verdict", "good"}, {"locked_text", "Curated text."}}}};
  const Json tops = make_entries({{"t", {"t.v"}, "verilog", {}, "Top text.", "ports"}});
  const Json empty_top = make_entries({{"t", {"t.v"}, "verilog", {}, "", "llm"}});
  const Json roles = {{"t", "top"}};
  struct Case {
    const TempRepo& repo;
    const Json& entries;
    const Json& roles;
    const Json* verdicts;
    bool (*validator)(std::string_view, const std::optional<std::string>&, const std::optional<std::string>&);
    const char* description;
    const char* source;
  } cases[] = {
      {with_readme, tops, roles, &verdicts, accept_all, "Curated text.", "verdict"},
      {with_readme, tops, roles, nullptr, accept_all, "A readme paragraph.", "readme"},
      {with_readme, tops, roles, nullptr, reject_all, "Top text.", "ports"},
      {without_readme, tops, roles, nullptr, accept_all, "Top text.", "ports"},
      {without_readme, tops, Json::object(), nullptr, accept_all, "acme IP library", "auto"},
      {without_readme, empty_top, roles, nullptr, accept_all, "acme IP library", "auto"},
  };
  for (const auto& c : cases) {
    const Json row = aggregate_repo_entry(c.entries, c.roles, c.repo.path(), "acme", "https://h/acme/cores", "t",
                                          c.verdicts, {quarrix::tags::kTagCapDefault, c.validator})[0];
    EXPECT_EQ(row["description"], c.description);
    EXPECT_EQ(row["desc_source"], c.source);
  }
}

TEST_F(RepoRow, LanguageRolesAndTagCap) {
  TempRepo repo;
  const Json entries = make_entries({{"a", {"a.v"}, "verilog", {"alpha", "beta", "gamma"}},
                                     {"b", {"b.sv"}, "systemverilog", {"delta", "epsilon", "zeta"}},
                                     {"c", {"c.sv"}, "systemverilog", {"eta"}},
                                     {"d", {"d.v"}, "verilog", {"theta"}}});
  const Json roles = {{"a", "component"}, {"b", "primitive"}, {"c", "component"}};  // "d" has no role
  Json row = aggregate_repo_entry(entries, roles, repo.path(), "acme", "u", "t", nullptr, {5, accept_all})[0];
  EXPECT_EQ(row["quarrix_compat"]["language"], "verilog");  // tie: the first met wins
  EXPECT_EQ(row["top_modules"], Json::array());
  EXPECT_EQ(row["components"], Json({"a", "b", "c", "d"}));
  EXPECT_EQ(row["tags"], Json({"alpha", "delta", "epsilon", "gamma", "theta"}));
  row = aggregate_repo_entry(entries, roles, repo.path(), "acme", "u", "t")[0];
  EXPECT_EQ(row["tags"].size(), 8u);
}

TEST_F(RepoRow, ScanIndexGivesTheSameRow) {
  TempRepo repo;
  repo.write("rtl/a.v", "module a; wire [`X:0] x; endmodule\n");
  repo.write("rtl/inc/defs.vh", "`define X 1\n");
  repo.write("rtl/TECH/xilinx/a.v", "module a; endmodule\n");
  const Json entries = make_entries({{"a", {"rtl/a.v"}}});
  quarrix::repo::RepoTree tree(repo.path());
  quarrix::repo::DefineCarrierIndex carriers(tree);
  EXPECT_EQ(carriers.collect({"rtl/a.v"}), std::vector<std::string>{"rtl/inc/defs.vh"});
  const Json shared = aggregate_repo_entry(entries, Json::object(), carriers, "acme", "u", "t");
  EXPECT_EQ(shared, aggregate_repo_entry(entries, Json::object(), repo.path(), "acme", "u", "t"));
  EXPECT_EQ(shared[0]["quarrix_compat"]["files"], Json({"rtl/inc/defs.vh", "rtl/a.v"}));
  EXPECT_EQ(shared[0]["hdl"], Json::parse(R"({"vendor_variants": {"xilinx": ["rtl/TECH/xilinx/a.v"]}})"));
}

TEST_F(RepoRow, MalformedEntries) {
  TempRepo repo;
  EXPECT_THROW(
      aggregate_repo_entry(Json::array({Json{{"namespace", "x"}}}), Json::object(), repo.path(), "a", "u", "t"),
      quarrix::aggregate::MalformedEntryError);
  Json bad = make_entries({{"a", {"a.v"}}});
  bad[0]["quarrix_compat"]["files"] = "a.v";
  EXPECT_THROW(aggregate_repo_entry(bad, Json::object(), repo.path(), "a", "u", "t"),
               quarrix::aggregate::MalformedEntryError);
}

}  // namespace
