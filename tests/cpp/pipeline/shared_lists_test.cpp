// Rows made from the shared compile lists (per-file vendor dependencies, no
// tool) must be the rows made from every unit's full list, through our
// resolver or a host's, collected or handed over one by one.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "quarrix/pipeline/scan.hpp"
#include "quarrix/pipeline/scan_repo.hpp"
#include "quarrix/resolver/dependency_resolver.hpp"
#include "quarrix/util/path.hpp"
#include "support/temp_repo.hpp"

using namespace quarrix;

namespace {

// A vendor library per file whose name says so.
std::vector<std::string> vendor_of(const std::string& path) {
  const std::string name = util::path_name(path);
  if (name.find("_x") == std::string::npos) return {};
  return {"lib_" + name.substr(0, 2), "unisim"};
}

// Probes asked with whole lists only.
pipeline::ScanProbes list_probes() {
  pipeline::ScanProbes p;
  p.detect_library_name = [](const std::string&) { return Json("work"); };
  p.detect_vhdl_standard = [](const pipeline::PathList&, const Json&) { return Json::array({"unknown", false}); };
  p.detect_vendor_deps = [](const pipeline::PathList& files) {
    std::set<std::string> all;
    for (const auto& f : files)
      for (auto& v : vendor_of(f)) all.insert(v);
    return Json(std::vector<std::string>(all.begin(), all.end()));
  };
  p.detect_test_infrastructure = [](const std::string&) { return Json::object(); };
  p.compute_badges = [](const Json&, const Json&) { return Json::array(); };
  p.verify_verilog = [](const pipeline::PathList&) { return Json(false); };
  return p;
}

pipeline::ScanProbes per_file_probes() {
  pipeline::ScanProbes p = list_probes();
  p.detect_vendor_deps_in_file = [](const std::string& file) { return Json(vendor_of(file)); };
  p.can_run_checks = [] { return false; };
  return p;
}

// Our resolver behind the host interface: no shared form, and a use graph
// only when asked for.
class HostResolver final : public pipeline::Resolver {
 public:
  HostResolver(resolver::DependencyResolver r, bool graph) : r_(std::move(r)), graph_(graph) {}
  std::vector<std::pair<std::string, std::string>> entity_map() const override { return r_.entity_map(); }
  std::vector<std::string> compilation_order(const std::string& name) const override {
    return r_.compilation_order(name);
  }
  std::vector<std::pair<std::string, std::string>> unresolved_use_clauses() const override {
    return r_.unresolved_use_clauses();
  }
  std::vector<std::pair<std::string, std::string>> package_map() const override { return r_.package_map(); }
  std::optional<resolver::UseGraph> use_graph() const override {
    return graph_ ? std::optional(r_.use_graph()) : std::nullopt;
  }

 private:
  resolver::DependencyResolver r_;
  bool graph_;
};

void write_design(const quarrix::testing::TempRepo& repo) {
  // A diamond of plain units, a chain under it, a vendor file, define
  // carriers in two directories, a unit of a two-unit file, a header, a
  // cycle, a skipped test bench and VHDL packages and architectures.
  repo.write("rtl/soc.v", "module soc_core; left l(); right r(); endmodule\n");
  repo.write("rtl/a/left.v", "module left; base b(); c0 c(); endmodule\n");
  repo.write("rtl/b/right.v", "module right; base b(); io_x i(); endmodule\n");
  repo.write("rtl/a/base.v", "module base; wire [`WIDTH:0] w; endmodule\n");
  for (int i = 0; i < 30; ++i)
    repo.write("rtl/chain/c" + std::to_string(i) + ".v",
               "module c" + std::to_string(i) + ";" +
                   (i + 1 < 30 ? " c" + std::to_string(i + 1) + " n();" : " wire [`DEPTH:0] d;") + " endmodule\n");
  repo.write("rtl/b/io_x.v", "module io_x; endmodule\n");
  repo.write("rtl/a/defs.vh", "`define WIDTH 8\n");
  repo.write("rtl/chain/more.vh", "`define DEPTH 4\n");
  repo.write("rtl/two.v", "module pair_a; base b(); endmodule\nmodule pair_b; endmodule\n");
  repo.write("rtl/user2.v", "module user2; pair_b p(); left l(); endmodule\n");
  repo.write("rtl/inc.v", "`include \"hdr.vh\"\nmodule inc_user; c5 c(); endmodule\n");
  repo.write("rtl/hdr.vh", "localparam X = 1;\n");
  repo.write("rtl/ping.v", "module ping; pong p(); endmodule\n");
  repo.write("rtl/pong.v", "module pong; ping p(); base b(); endmodule\n");
  repo.write("rtl/tb/top_tb.v", "module soc_tb; soc_core t(); endmodule\n");
  repo.write("rtl/pkg.vhd", "package types_pkg is\nend package;\n");
  repo.write("rtl/ent.vhd", "use work.types_pkg.all;\nentity ent is end entity;\n");
  repo.write("rtl/ent_rtl.vhd", "architecture rtl of ent is\nbegin\n  u: entity work.vleaf;\nend architecture;\n");
  repo.write("rtl/vleaf.vhd", "entity vleaf is end entity;\narchitecture rtl of vleaf is begin end;\n");
}

enum class Through { own, host, host_without_graph };

Json scan(const std::string& repo, const pipeline::ScanProbes& probes, const std::string& granularity,
          Through through) {
  pipeline::ScanOptions options;
  options.use_llm = false;
  options.granularity = granularity;
  if (through != Through::own)
    options.resolver_factory = [through](const std::vector<std::string>& roots, bool gitignore,
                                         const std::vector<std::string>& excludes) {
      return std::make_unique<HostResolver>(resolver::DependencyResolver(roots, gitignore, excludes),
                                            through == Through::host);
    };
  return pipeline::scan_repo(repo, {"acme", "https://example.invalid/r.git", "v1", "0"}, probes, options, {});
}

TEST(SharedLists, RowsEqualThoseOfFullListsAndOfAHostResolver) {
  quarrix::testing::TempRepo repo;
  write_design(repo);
  for (const char* granularity : {"all", "top", "repo"}) {
    const Json full = scan(repo.path(), list_probes(), granularity, Through::own);
    ASSERT_FALSE(full.empty());
    EXPECT_EQ(scan(repo.path(), per_file_probes(), granularity, Through::own).dump(1), full.dump(1)) << granularity;
    EXPECT_EQ(scan(repo.path(), per_file_probes(), granularity, Through::host).dump(1), full.dump(1)) << granularity;
  }
  const Json all = scan(repo.path(), per_file_probes(), "all", Through::own);
  const auto row_in = [](const Json& rows, const std::string& name) {
    for (const Json& r : rows)
      if (r["name"] == name) return r;
    return Json();
  };
  const auto row = [&](const std::string& name) { return row_in(all, name); };
  // The carriers of the lists' common directory, then the lists' own order.
  std::vector<std::string> files{"rtl/a/defs.vh", "rtl/chain/more.vh", "rtl/a/base.v"};
  for (int i = 29; i >= 0; --i) files.push_back("rtl/chain/c" + std::to_string(i) + ".v");
  for (const char* f : {"rtl/a/left.v", "rtl/b/io_x.v", "rtl/b/right.v", "rtl/soc.v"}) files.emplace_back(f);
  EXPECT_EQ(row("soc_core")["quarrix_compat"]["files"], Json(files));
  EXPECT_EQ(row("c29")["quarrix_compat"]["files"], Json({"rtl/chain/more.vh", "rtl/chain/c29.v"}));
  EXPECT_EQ(row("soc_core")["vendor_deps"], Json({"lib_io", "unisim"}));
  EXPECT_EQ(row("soc_core")["role"], "top");
  EXPECT_EQ(row("io_x")["role"], "primitive");
  EXPECT_EQ(row("c29")["role"], "component");
  EXPECT_EQ(row("c1")["role"], "component");
  // Of a file of two units, the one another unit uses is depended on; a top's
  // components are what it reaches, in scan order.
  EXPECT_EQ(row("pair_a")["role"], "top");
  EXPECT_NE(row("pair_b")["role"], "top");
  std::vector<std::string> below_left{"base", "left"};
  for (int i = 0; i < 30; ++i) below_left.push_back("c" + std::to_string(i));
  const auto sorted = [](std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return Json(names);
  };
  auto of_user2 = below_left, of_soc = below_left;
  of_user2.emplace_back("pair_b");
  of_soc.insert(of_soc.end(), {"io_x", "right"});
  EXPECT_EQ(row("user2")["components"], sorted(of_user2));
  EXPECT_EQ(row("soc_core")["components"], sorted(of_soc));
  // A host resolver that cannot tell who uses whom: the first unit of a file stands for it.
  const Json by_files = scan(repo.path(), per_file_probes(), "all", Through::host_without_graph);
  EXPECT_NE(row_in(by_files, "pair_a")["role"], "top");
  EXPECT_EQ(row_in(by_files, "pair_b")["role"], "top");
}

TEST(SharedLists, RowsHandedOverOneByOneAreTheCollectedRows) {
  quarrix::testing::TempRepo repo;
  write_design(repo);
  pipeline::ScanOptions options;
  options.use_llm = false;
  options.granularity = "all";
  Json handed = Json::array();
  pipeline::Scan(repo.path(), {"acme", "u", "v1", "0"}, per_file_probes(), options, {}).run([&](Json&& row) {
    handed.push_back(std::move(row));
  });
  EXPECT_EQ(handed, pipeline::scan_repo(repo.path(), {"acme", "u", "v1", "0"}, per_file_probes(), options, {}));
}

}  // namespace
