// The scan's shared reads, listing and indexes must not change a row: each row
// of a generated repository is recomputed here the plain way (fresh reads, a
// one-off walk per compile list, pairwise comparison of compile lists).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "quarrix/aggregate/roles.hpp"
#include "quarrix/describe/chain.hpp"
#include "quarrix/describe/verdicts.hpp"
#include "quarrix/pipeline/scan_repo.hpp"
#include "quarrix/repo/declarations.hpp"
#include "quarrix/repo/define_carriers.hpp"
#include "quarrix/repo/filters.hpp"
#include "quarrix/resolver/dependency_resolver.hpp"
#include "quarrix/util/file.hpp"
#include "quarrix/util/path.hpp"
#include "support/temp_repo.hpp"

using namespace quarrix;

namespace {

pipeline::ScanProbes fixed_probes() {
  pipeline::ScanProbes p;
  p.detect_library_name = [](const std::string&) { return Json("work"); };
  p.detect_vhdl_standard = [](const pipeline::PathList&, const Json&) { return Json::array({"2008", false}); };
  p.detect_vendor_deps = [](const pipeline::PathList&) { return Json::array(); };
  p.detect_test_infrastructure = [](const std::string&) { return Json::object(); };
  p.compute_badges = [](const Json&, const Json&) { return Json::array(); };
  p.verify_verilog = [](const pipeline::PathList&) { return Json(false); };
  return p;
}

// A generated repository of `units` design units, or "" when python3 is missing.
std::string generate(const quarrix::testing::TempRepo& dir, int units) {
  const std::string repo = dir.path() + "/repo";
  const std::string command = "python3 '" QUARRIX_FIXTURES_DIR "/../../bench/generate_repo.py' --units " +
                              std::to_string(units) + " --out '" + repo + "' > /dev/null 2>&1";
  return std::system(command.c_str()) == 0 ? repo : std::string();
}

std::vector<std::string> strings(const Json& list) { return list.get<std::vector<std::string>>(); }

TEST(ScanIdentity, RowsMatchAnIndependentRecomputation) {
  quarrix::testing::TempRepo dir;
  const std::string repo = generate(dir, 300);
  if (repo.empty()) GTEST_SKIP() << "python3 is not available";

  // Curator verdicts among many of other namespaces: two locked texts, one rejected.
  Json verdicts = Json::object();
  for (int i = 0; i < 500; ++i)
    verdicts["other/unit_" + std::to_string(i)] = {{"verdict", "good"}, {"locked_text", "x"}};
  verdicts["acme/cmn_fifo_0"] = {{"verdict", "good"}, {"locked_text", "Curated FIFO text."}};
  verdicts["acme/cmn_uart_1"] = {{"verdict", "good"}, {"locked_text", "Curated UART text."}};
  verdicts["acme/cmn_spi_2"] = {{"verdict", "bad"}, {"locked_text", "Rejected."}};

  pipeline::ScanOptions options;
  options.use_llm = false;
  options.granularity = "entity";  // every entry
  options.description_verdicts = verdicts;
  const Json rows =
      pipeline::scan_repo(repo, {"acme", "https://example.invalid/r.git", "v1", "0"}, fixed_probes(), options, {});

  std::vector<std::string> excludes = repo::default_vendor_sim_excludes();
  const resolver::DependencyResolver resolver(pipeline::source_roots(repo), false, excludes);
  auto units = resolver.entity_map();
  std::sort(units.begin(), units.end(), [](const auto& a, const auto& b) { return a.first < b.first; });

  // The entries the scan keeps, in its order, from fresh reads.
  std::vector<std::pair<std::string, std::string>> kept;
  for (const auto& [name, path] : units) {
    const std::string rel = util::relative_to_root(path, repo);
    if (repo::is_skipped_path(rel) || repo::name_skip_reason(name)) continue;
    const auto text = util::read_text_file(path);
    const auto kind = text ? repo::classify_declaration_text(name, util::path_suffix_lower(path), *text) : std::nullopt;
    if (kind && !repo::is_installable_kind(*kind)) continue;
    kept.emplace_back(name, path);
  }
  ASSERT_EQ(rows.size(), kept.size());
  ASSERT_GT(rows.size(), 150u);

  std::set<std::string> sources;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Json& row = rows[i];
    const auto& [name, path] = kept[i];
    ASSERT_EQ(row["name"], name);

    std::vector<std::string> files;
    for (const auto& f : resolver.compilation_order(name)) files.push_back(util::relative_to_root(f, repo));
    std::vector<std::string> expected = repo::collect_define_carriers(repo, files);
    const std::set<std::string> carriers(expected.begin(), expected.end());
    for (const auto& f : files)
      if (!carriers.count(f)) expected.push_back(f);
    EXPECT_EQ(strings(row["quarrix_compat"]["files"]), expected) << name;

    const std::string language = row["quarrix_compat"]["language"].get<std::string>();
    const auto locked = describe::verdict_locked_text(&verdicts, "acme", name);
    const auto description =
        describe::generate_description({name, path, "acme", language}, {}, {}, false, {std::nullopt, locked});
    EXPECT_EQ(row["description"], description.first) << name;
    EXPECT_EQ(row["desc_source"], description.second) << name;
    sources.insert(description.second);
  }
  // The generator exercises the header and ports tiers and the filler.
  EXPECT_EQ(sources, (std::set<std::string>{"auto", "header", "ports", "verdict"}));

  // Roles and components from what each kept unit reaches, walked one by one
  // (quadratic, as a plain recomputation may be).
  std::vector<std::set<std::string>> reaches;
  for (const auto& [name, path] : kept) {
    std::set<std::string> reached;
    std::vector<std::uint32_t> stack{*resolver.unit_index(name)};
    std::set<std::uint32_t> seen(stack.begin(), stack.end());
    while (!stack.empty()) {
      const auto node = resolver.unit_node(stack.back());
      stack.pop_back();
      for (const std::uint32_t dep : node.deps)
        if (seen.insert(dep).second) stack.push_back(dep);
    }
    for (const auto& [other, other_path] : kept)
      if (other != name && seen.count(*resolver.unit_index(other))) reached.insert(other);
    reaches.push_back(std::move(reached));
  }
  std::size_t tops_with_components = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Json& row = rows[i];
    const bool depended = std::any_of(reaches.begin(), reaches.end(),
                                      [&](const auto& reached) { return reached.count(kept[i].first) > 0; });
    const std::size_t files = row["quarrix_compat"]["files"].size();
    EXPECT_EQ(row["role"], !depended ? "top" : files > 1 ? "component" : "primitive") << row["name"];
    if (row["role"] != "top") {
      EXPECT_FALSE(row.contains("components"));
      continue;
    }
    std::vector<std::string> expected;
    for (std::size_t c = 0; c < rows.size(); ++c)
      if (reaches[i].count(kept[c].first) && rows[c]["role"] != "top") expected.push_back(kept[c].first);
    EXPECT_EQ(strings(row["components"]), expected) << row["name"];
    tops_with_components += !expected.empty();
  }
  EXPECT_GT(tops_with_components, 5u);

  // "top" keeps the same rows, in order, without the primitives.
  options.granularity = "top";
  const Json tops =
      pipeline::scan_repo(repo, {"acme", "https://example.invalid/r.git", "v1", "0"}, fixed_probes(), options, {});
  Json expected_tops = Json::array();
  for (const Json& row : rows)
    if (row["role"] != "primitive") expected_tops.push_back(row);
  EXPECT_EQ(tops, expected_tops);
}

TEST(ComputeRoles, RepeatedNameKeepsFirstPositionAndLastVerdict) {
  const Json entries = Json::parse(R"([
    {"name": "b", "quarrix_compat": {"files": ["b.v"]}, "dep_count": 1},
    {"name": "a", "quarrix_compat": {"files": ["b.v", "a.v"]}, "dep_count": 2},
    {"name": "b", "quarrix_compat": {"files": ["c.v", "b.v"]}, "dep_count": 2},
    {"name": "c", "quarrix_compat": {"files": ["c.v"]}, "dep_count": 1}
  ])");
  // b is used by a; its later entry (two files) makes it a component.
  EXPECT_EQ(aggregate::compute_roles(entries).dump(), R"({"b":"component","a":"top","c":"primitive"})");
}

}  // namespace
