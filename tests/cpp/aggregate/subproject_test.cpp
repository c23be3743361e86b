#include <quarrix/aggregate/bucket_row.hpp>
#include <quarrix/aggregate/subproject.hpp>
#include <quarrix/util/errors.hpp>

#include <stdexcept>

#include <gtest/gtest.h>

#include "aggregate/entries.hpp"
#include "support/temp_repo.hpp"

namespace {

using quarrix::Json;
using quarrix::aggregate::aggregate_one_bucket;
using quarrix::aggregate::aggregate_subproject_entries;
using quarrix::testing::make_entries;
using quarrix::testing::TempRepo;

Json bucket_map(const char* buckets_json) { return Json{{"version", 1}, {"buckets", Json::parse(buckets_json)}}; }

std::vector<std::string> row_names(const Json& rows) {
  std::vector<std::string> names;
  for (const Json& row : rows) names.push_back(row["name"]);
  return names;
}

// The names routed into each bucket, bucket by bucket.
std::vector<Json> routed(const std::vector<std::string>& names, const char* buckets_json) {
  TempRepo repo;
  Json entries = Json::array();
  for (const std::string& name : names) entries.push_back(quarrix::testing::make_entry({name, {name + ".v"}}));
  std::vector<Json> out;
  for (const Json& row :
       aggregate_subproject_entries(entries, Json::object(), repo.path(), {"acme", "u", "t"}, bucket_map(buckets_json)))
    out.push_back(Json{{row["name"], row["components"]}});
  return out;
}

TEST(SubprojectRouting, LongestPrefixWins) {
  struct Case {
    std::vector<std::string> names;
    const char* buckets;
    std::vector<Json> expected;
  } cases[] = {
      {{"eth_mac_rx", "eth_phy"},
       R"({"A": {"prefixes": ["eth_"]}, "B": {"prefixes": ["eth_mac_"]}})",
       {Json{{"A", {"eth_phy"}}}, Json{{"B", {"eth_mac_rx"}}}}},
      {{"eth_mac_rx", "eth_phy"},
       R"({"B": {"prefixes": ["eth_mac_"]}, "A": {"prefixes": ["eth_"]}})",
       {Json{{"B", {"eth_mac_rx"}}}, Json{{"A", {"eth_phy"}}}}},
      // The same prefix twice: the earlier bucket takes the entities.
      {{"uart_tx"},
       R"({"first": {"prefixes": ["uart"]}, "second": {"prefixes": ["uart"]}})",
       {Json{{"first", {"uart_tx"}}}}},
      // An exact name; the catch-all empty prefix; empty buckets give no row.
      {{"spi", "misc_x", "ETH_MAC"},
       R"({"none": {"prefixes": ["zzz"]}, "rest": {"prefixes": [""]}, "spi": {"prefixes": ["spi"]}})",
       {Json{{"rest", {"misc_x", "ETH_MAC"}}}, Json{{"spi", {"spi"}}}}},
      // Lengths in characters, not bytes; a prefix longer than a name never matches it.
      {{"\u00e9a_x", "\u00e9b", "ab"},
       R"({"e": {"prefixes": ["\u00e9", "ab_long_prefix"]}, "ea": {"prefixes": ["\u00e9a"]}, "a": {"prefixes": ["a"]}})",
       {Json{{"e", {"\u00e9b"}}}, Json{{"ea", {"\u00e9a_x"}}}, Json{{"a", {"ab"}}}}},
  };
  for (const auto& c : cases) EXPECT_EQ(routed(c.names, c.buckets), c.expected) << c.buckets;
}

TEST(SubprojectRouting, Errors) {
  TempRepo repo;
  const auto message = [&](const Json& entries, const Json& map) {
    try {
      aggregate_subproject_entries(entries, Json::object(), repo.path(), {"acme", "u", "t"}, map);
    } catch (const quarrix::ValueError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  const Json one = make_entries({{"axi_dma", {"a.v"}}});
  const std::string no_buckets = "subproject granularity requires a non-empty 'buckets' map; got bucket_map keys=";
  EXPECT_EQ(message(one, Json{{"version", 1}, {"bucket", Json::object()}}), no_buckets + "['bucket', 'version']");
  EXPECT_EQ(message(one, Json::object()), no_buckets + "[]");
  EXPECT_EQ(message(one, Json{{"buckets", nullptr}, {"it's", 1}}), no_buckets + "['buckets', \"it's\"]");
  EXPECT_EQ(message(one, Json{{"buckets", Json::object()}}), no_buckets + "['buckets']");
  // No entries: nothing to route, the map is not examined.
  EXPECT_EQ(aggregate_subproject_entries(Json::array(), Json::object(), repo.path(), {"a", "u", "t"}, Json::object()),
            Json::array());

  const Json map = bucket_map(R"({"net": {"prefixes": ["eth_"]}})");
  const std::string residue = "unassigned by bucket_map. Update the bucket map so residue is zero. Unassigned: ";
  EXPECT_EQ(message(one, map), "subproject granularity: 1 entry " + residue + "axi_dma");
  EXPECT_EQ(message(make_entries({{"uart_tx", {"u.v"}}, {"eth_a", {"e.v"}}, {"axi_dma", {"a.v"}}}), map),
            "subproject granularity: 2 entries " + residue + "axi_dma, uart_tx");
  EXPECT_EQ(message(make_entries({{"x", {"1.v"}}, {"x", {"2.v"}}}), map),
            "subproject granularity: 2 entries " + residue + "x");
}

TEST(SubprojectRows, ShareTheLicenceAndKeepTheirSlice) {
  TempRepo repo;
  repo.write("LICENSE", "MIT License\n");
  repo.write("rtl/defs.vh", "`define X 1\n");
  const Json entries = make_entries({{"eth_mac", {"rtl/eth_mac.v"}},
                                     {"pcie_ep", {"rtl/pll_xilinx.v", "rtl/pcie_ep.v", "rtl/defs.vh"}},
                                     {"eth_phy", {"rtl/eth_phy.v", "rtl/eth_mac.v"}}});
  const Json roles = {{"eth_mac", "primitive"}, {"pcie_ep", "top"}, {"eth_phy", "top"}};
  const Json map = bucket_map(R"({
      "net-cores": {"description": "  Ethernet MAC and PHY cores.  ", "prefixes": ["eth_"]},
      "pcie-cores": {"prefixes": ["pcie_"], "description": null}})");
  const Json rows = aggregate_subproject_entries(entries, roles, repo.path(), {"acme", "u", "t"}, map);
  ASSERT_EQ(row_names(rows), (std::vector<std::string>{"net-cores", "pcie-cores"}));
  for (const Json& row : rows) {
    EXPECT_EQ(row["license"], "MIT");
    EXPECT_EQ(row["license_class"], "permissive");
    EXPECT_EQ(row["role"], "subproject");
    EXPECT_FALSE(row.contains("hdl"));
  }
  EXPECT_EQ(rows[0]["description"], "Ethernet MAC and PHY cores.");
  EXPECT_EQ(rows[0]["desc_source"], "curator");
  EXPECT_EQ(rows[0]["top_modules"], Json({"eth_phy"}));
  EXPECT_EQ(rows[0]["components"], Json({"eth_mac"}));
  EXPECT_EQ(rows[0]["quarrix_compat"]["files"], Json({"rtl/eth_mac.v", "rtl/eth_phy.v"}));
  // No carrier reordering and no vendor-variant removal in bucket rows.
  EXPECT_EQ(rows[1]["quarrix_compat"]["files"], Json({"rtl/pll_xilinx.v", "rtl/pcie_ep.v", "rtl/defs.vh"}));
  EXPECT_EQ(rows[1]["dep_count"], 3);
}

TEST(BucketRow, DescriptionPrecedence) {
  const Json verdicts = {{"acme/net", {{"verdict", "good"}, {"locked_text", "Locked."}}}};
  const Json top = make_entries({{"t", {"t.v"}, "verilog", {}, "", "llm"}});
  const Json roles = {{"t", "top"}};
  struct Case {
    const Json* verdicts;
    const char* bucket_description;
    const Json& roles;
    const char* description;
    const char* source;
  } cases[] = {
      {&verdicts, "Curated.", roles, "Locked.", "verdict"},
      {nullptr, " Curated. ", roles, "Curated.", "curator"},
      {nullptr, "   ", roles, "", "llm"},  // a top entity's description is taken even when empty
      {nullptr, "", Json::object(), "acme net", "auto"},
  };
  for (const auto& c : cases) {
    const Json row = aggregate_one_bucket(top, c.roles, {"acme", "u", "t"}, {"net", c.bucket_description}, "",
                                          {.description_verdicts = c.verdicts});
    EXPECT_EQ(row["description"], c.description);
    EXPECT_EQ(row["desc_source"], c.source);
    EXPECT_EQ(row["license_class"], "unknown");
  }
}

TEST(BucketRow, KeyOrder) {
  Json entries = make_entries({{"a", {"x.v", "a.v"}, "verilog", {"t2", "t1"}}, {"b", {"a.v", "b.v"}, "vhdl-2008"}});
  entries[1]["provides_packages"] = {"p"};
  const Json row = aggregate_one_bucket(entries, {{"a", "top"}}, {"acme", "git://r", "v2"}, {"grp", ""}, "ISC");
  const Json expected = Json::parse(R"({
    "name": "grp", "namespace": "acme",
    "source": {"type": "git", "url": "git://r", "tag": "v2", "ip_yml_path": "."},
    "quarrix_compat": {"language": "verilog", "library": "work", "files": ["x.v", "a.v", "b.v"]},
    "description": "", "desc_source": "header", "license": "ISC", "dep_count": 3, "vhdl_standard": "verilog",
    "vendor_deps": [], "verified": false, "badges": [], "test_info": {}, "tags": ["t1", "t2"], "role": "subproject",
    "top_modules": ["a"], "components": ["b"], "total_entities": 2, "license_class": "permissive",
    "provides_packages": ["p"]})");
  EXPECT_EQ(row.dump(2), expected.dump(2));
}

}  // namespace
