#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <stdexcept>

#include "quarrix/pipeline/scan_repo.hpp"
#include "quarrix/repo/filters.hpp"
#include "quarrix/util/errors.hpp"
#include "support/temp_repo.hpp"

using namespace quarrix;
using quarrix::testing::TempRepo;

namespace {

// A resolver with scripted answers; unit names map to repository-relative files.
class ScriptedResolver : public pipeline::Resolver {
 public:
  std::string root;
  std::vector<std::pair<std::string, std::string>> units;  // name -> rel path
  std::map<std::string, std::vector<std::string>> orders;  // name -> rel paths (absolute kept)
  std::map<std::string, int> failures;                     // 1: unknown unit, 2: cycle
  std::vector<std::pair<std::string, std::string>> unresolved;
  std::vector<std::pair<std::string, std::string>> packages;

  std::string abs(const std::string& rel) const { return rel[0] == '/' ? rel : root + "/" + rel; }
  std::vector<std::pair<std::string, std::string>> entity_map() const override {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& [n, p] : units) out.emplace_back(n, abs(p));
    return out;
  }
  std::vector<std::string> compilation_order(const std::string& name) const override {
    if (auto f = failures.find(name); f != failures.end()) {
      if (f->second == 1) throw pipeline::UnknownUnitError(name);
      throw pipeline::DependencyCycleError(name);
    }
    std::vector<std::string> out;
    for (const auto& p : orders.at(name)) out.push_back(abs(p));
    return out;
  }
  std::vector<std::pair<std::string, std::string>> unresolved_use_clauses() const override { return unresolved; }
  std::vector<std::pair<std::string, std::string>> package_map() const override {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& [n, p] : packages) out.emplace_back(n, abs(p));
    return out;
  }
};

struct ProbeLog {
  std::vector<std::string> calls;
};

pipeline::ScanProbes fixed_probes(ProbeLog& log, Json standard = Json::array({"vhdl-93", true})) {
  pipeline::ScanProbes p;
  p.detect_library_name = [&log](const std::string&) {
    log.calls.push_back("library");
    return Json("mylib");
  };
  p.detect_vhdl_standard = [&log, standard](const pipeline::PathList& files, const Json& lib) {
    log.calls.push_back("standard:" + std::to_string(files.size()) + ":" + lib.get<std::string>());
    return standard;
  };
  p.detect_vendor_deps = [&log](const pipeline::PathList&) {
    log.calls.push_back("vendor");
    return Json::array({"unisim"});
  };
  p.detect_test_infrastructure = [&log](const std::string&) {
    log.calls.push_back("tests");
    return Json{{"cocotb", true}};
  };
  p.compute_badges = [&log](const Json& verified, const Json&) {
    log.calls.push_back("badges");
    return verified == true ? Json::array({"verified"}) : Json::array();
  };
  p.verify_verilog = [&log](const pipeline::PathList&) {
    log.calls.push_back("verilog");
    return Json(false);
  };
  return p;
}

std::vector<std::string> keys(const Json& object) {
  std::vector<std::string> out;
  for (const auto& [k, v] : object.items()) out.push_back(k);
  return out;
}

Json by_name(const Json& rows, const std::string& name) {
  for (const auto& r : rows)
    if (r["name"] == name) return r;
  ADD_FAILURE() << "no row " << name;
  return Json();
}

struct Fixture {
  TempRepo repo;
  std::shared_ptr<ScriptedResolver> resolver = std::make_shared<ScriptedResolver>();
  std::vector<std::string> factory_roots, factory_excludes;

  Fixture() {
    resolver->root = repo.path();
    repo.write("rtl/top.v", "module top_core(input a); mid m(); endmodule\n");
    repo.write("rtl/mid.v", "module mid; leaf l(); endmodule\n");
    repo.write("rtl/leaf.v", "module leaf; endmodule\n");
    repo.write("rtl/alu.vhd", "library ieee;\nENTITY Alu IS end;\n");
    repo.write("rtl/alu_pkg.vhd", "package alu_types is end;\n");
    repo.write("rtl/bus.sv", "interface bus_if; endinterface\n");
    repo.write("rtl/tb/bench.v", "module bench; endmodule\n");
    repo.write("rtl/mydocs/kept.v", "module kept; endmodule\n");
    repo.write("LICENSE", "Apache License\nVersion 2.0, January 2004\nApache License, Version 2.0\n");
    resolver->units = {{"top_core", "rtl/top.v"},     {"mid", "rtl/mid.v"},     {"leaf", "rtl/leaf.v"},
                       {"Alu", "rtl/alu.vhd"},        {"bus_if", "rtl/bus.sv"}, {"bench", "rtl/tb/bench.v"},
                       {"kept", "rtl/mydocs/kept.v"}, {"fifo_tb", "rtl/top.v"}, {"alu_types", "rtl/alu_pkg.vhd"},
                       {"ghost", "rtl/ghost.v"},      {"looped", "rtl/loop.v"}};
    resolver->orders = {{"top_core", {"rtl/leaf.v", "rtl/mid.v", "rtl/top.v"}},
                        {"mid", {"rtl/leaf.v", "rtl/mid.v"}},
                        {"leaf", {"rtl/leaf.v"}},
                        {"Alu", {"/opt/shared/pkg.vhd", "rtl/alu_pkg.vhd", "rtl/alu.vhd"}},
                        {"kept", {"rtl/mydocs/kept.v"}}};
    resolver->failures = {{"ghost", 1}, {"looped", 2}};
    resolver->unresolved = {{"ext", "fancy"}};
    resolver->packages = {{"alu_types", "rtl/alu_pkg.vhd"}, {"zz_pkg", "rtl/alu_pkg.vhd"}, {"far", "/opt/x.vhd"}};
  }

  Json scan(const pipeline::ScanProbes& probes, std::string granularity) {
    pipeline::ScanOptions options;
    options.use_llm = false;
    options.granularity = std::move(granularity);
    options.exclude_dirs = {"hdl/altera_examples"};
    options.resolver_factory = [this](const std::vector<std::string>& roots, bool gitignore,
                                      const std::vector<std::string>& excludes) -> std::unique_ptr<pipeline::Resolver> {
      EXPECT_FALSE(gitignore);
      factory_roots = roots;
      factory_excludes = excludes;
      return std::make_unique<ScriptedResolver>(*resolver);
    };
    return pipeline::scan_repo(repo.path(), {"acme", "https://git.example/acme.git", "v2", "deadbeef"}, probes, options,
                               {});
  }
};

}  // namespace

TEST(ScanRepo, EntriesFiltersAndKeyOrder) {
  Fixture f;
  ProbeLog log;
  const Json rows = f.scan(fixed_probes(log), "all");

  EXPECT_EQ(f.factory_roots, std::vector<std::string>{f.repo.path() + "/rtl"});
  std::vector<std::string> excludes = quarrix::repo::default_vendor_sim_excludes();
  excludes.push_back("hdl/altera_examples");
  EXPECT_EQ(f.factory_excludes, excludes);
  std::vector<std::string> names;
  for (const auto& r : rows) names.push_back(r["name"]);
  // Sorted by name; bench (tb/ path), bus_if (interface), fifo_tb (sim name) and alu_types (package) are gone.
  EXPECT_EQ(names, (std::vector<std::string>{"Alu", "ghost", "kept", "leaf", "looped", "mid", "top_core"}));

  const Json top = by_name(rows, "top_core");
  EXPECT_EQ(keys(top),
            (std::vector<std::string>{"name", "namespace", "source", "quarrix_compat", "description", "desc_source",
                                      "license", "dep_count", "vhdl_standard", "vendor_deps", "verified", "badges",
                                      "test_info", "tags", "role", "components", "license_class", "external_uses"}));
  EXPECT_EQ(top["source"].dump(),
            R"({"type":"git","url":"https://git.example/acme.git","tag":"v2","ip_yml_path":"."})");
  EXPECT_EQ(top["quarrix_compat"].dump(),
            R"({"language":"verilog","library":"mylib","files":["rtl/leaf.v","rtl/mid.v","rtl/top.v"]})");
  EXPECT_EQ(top["dep_count"], 3);
  EXPECT_EQ(top["vhdl_standard"], "verilog");
  EXPECT_EQ(top["verified"], false);  // verify_verilog replaces the VHDL probe's value
  EXPECT_EQ(top["badges"], Json::array());
  EXPECT_EQ(top["license"], "Apache-2.0");
  EXPECT_EQ(top["license_class"], "permissive");
  EXPECT_EQ(top["external_uses"].dump(), R"([{"library":"ext","package":"fancy"}])");
  EXPECT_EQ(top["role"], "top");
  EXPECT_EQ(top["components"], Json::array({"leaf", "mid"}));
  EXPECT_EQ(top["desc_source"], "auto");
  EXPECT_EQ(top["description"], "acme IP: top_core");
  EXPECT_EQ(top["tags"], Json::array({"core", "fpga", "unisim", "xilinx"}));

  EXPECT_EQ(by_name(rows, "mid")["role"], "component");
  EXPECT_EQ(by_name(rows, "leaf")["role"], "primitive");
  EXPECT_FALSE(by_name(rows, "leaf").contains("components"));

  // A VHDL entity keeps the probe's standard and verification; the outside path stays absolute.
  const Json alu = by_name(rows, "Alu");
  EXPECT_EQ(alu["quarrix_compat"]["language"], "vhdl-93");
  EXPECT_EQ(alu["quarrix_compat"]["files"], Json::array({"/opt/shared/pkg.vhd", "rtl/alu_pkg.vhd", "rtl/alu.vhd"}));
  EXPECT_EQ(alu["verified"], true);
  EXPECT_EQ(alu["badges"], Json::array({"verified"}));
  EXPECT_EQ(alu["provides_packages"], Json::array({"alu_types", "zz_pkg"}));
  EXPECT_EQ(keys(alu).back(), "provides_packages");

  // Compile-order failures give the unit's own file alone.
  EXPECT_EQ(by_name(rows, "ghost")["quarrix_compat"]["files"], Json::array({"rtl/ghost.v"}));
  EXPECT_EQ(by_name(rows, "looped")["quarrix_compat"]["files"], Json::array({"rtl/loop.v"}));
  EXPECT_EQ(by_name(rows, "ghost")["dep_count"], 1);

  // Probe order: two repository probes, then per entity vendor, standard, (verilog), badges.
  ASSERT_GE(log.calls.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(log.calls.begin(), log.calls.begin() + 6),
            (std::vector<std::string>{"library", "tests", "vendor", "standard:3:mylib", "badges", "vendor"}));
}

TEST(ScanRepo, AUnitAwareVerilogProbeIsToldTheUnit) {
  Fixture f;
  ProbeLog log;
  pipeline::ScanProbes probes = fixed_probes(log);
  std::vector<std::string> named;
  probes.verify_verilog_unit = [&named](const pipeline::PathList& files, const std::string& name) {
    named.push_back(name + ":" + std::to_string(files.size()));
    return Json(name == "top_core");
  };
  const Json rows = f.scan(probes, "all");
  EXPECT_EQ(by_name(rows, "top_core")["verified"], true);
  EXPECT_EQ(by_name(rows, "mid")["verified"], false);
  EXPECT_NE(std::find(named.begin(), named.end(), "top_core:3"), named.end());
  EXPECT_EQ(std::count(log.calls.begin(), log.calls.end(), "verilog"), 0);  // the list-only probe is not asked
}

TEST(ScanRepo, Granularity) {
  Fixture f;
  ProbeLog log;
  const Json top = f.scan(fixed_probes(log), "top");
  for (const auto& r : top) EXPECT_NE(r["role"], "primitive") << r["name"];
  EXPECT_EQ(top.size(), f.scan(fixed_probes(log), "all").size() - 1);  // only leaf is a primitive
  EXPECT_EQ(f.scan(fixed_probes(log), "ALL").size(), f.scan(fixed_probes(log), "all").size());
  const Json repo = f.scan(fixed_probes(log), "repo");
  ASSERT_EQ(repo.size(), 1u);
  EXPECT_EQ(repo[0]["role"], "repo");

  ProbeLog untouched;
  EXPECT_THROW(
      {
        try {
          f.scan(fixed_probes(untouched), "subproject");
        } catch (const ValueError& e) {
          EXPECT_EQ(std::string(e.what()), pipeline::kSubprojectNeedsBucketMap);
          throw;
        }
      },
      ValueError);
  EXPECT_TRUE(untouched.calls.empty());  // refused before any probe ran
}

TEST(ScanRepo, ProbeContractViolationsEndTheScan) {
  Fixture f;
  ProbeLog log;
  EXPECT_THROW(f.scan(fixed_probes(log, Json::array({"vhdl-93"})), "all"), ValueError);
  EXPECT_THROW(f.scan(fixed_probes(log, Json("vhdl-93")), "all"), std::runtime_error);
  auto probes = fixed_probes(log);
  probes.detect_library_name = [](const std::string&) -> Json { throw std::logic_error("tool crashed"); };
  EXPECT_THROW(f.scan(probes, "all"), std::logic_error);
}

TEST(ScanRepo, OwnResolverOnARealTree) {
  TempRepo repo;
  repo.write("hdl/uart.v", "// UART transmitter with a baud-rate divider.\nmodule uart_tx(input clk); endmodule\n");
  repo.write("rtl/top.v", "module soc_top(input clk); uart_tx u(.clk(clk)); endmodule\n");
  repo.write("rtl/unreadable.v", "module secret_core; endmodule\n");
  repo.write("rtl/top_tb.v", "module top_tb; soc_top dut(); endmodule\n");  // skipped by name
  repo.write("README.md", "x");
  ProbeLog log;
  pipeline::ScanOptions options;
  options.use_llm = false;
  options.granularity = "all";
  std::size_t kept = 0, skipped = 0;
  options.on_unit = [&](const pipeline::UnitDecision& d) { ++(d.skipped_by.empty() ? kept : skipped); };
  pipeline::ScanCounts counts;
  const Json rows = pipeline::scan_repo(repo.path(), {"ns", "u", "t", "c"}, fixed_probes(log), options, {}, &counts);
  // The counts agree with the unit decisions and, at "all", with the rows.
  EXPECT_EQ(counts.kept, kept);
  EXPECT_EQ(counts.skipped, skipped);
  EXPECT_EQ(counts.units, kept + skipped);
  EXPECT_GE(counts.skipped, 1u);
  EXPECT_EQ(counts.kept, rows.size());
  std::map<std::string, Json> named;
  for (const auto& r : rows) named[r["name"]] = r;
  ASSERT_TRUE(named.count("soc_top") && named.count("uart_tx"));
  EXPECT_EQ(named["soc_top"]["quarrix_compat"]["files"], Json::array({"hdl/uart.v", "rtl/top.v"}));
  EXPECT_EQ(named["soc_top"]["components"], Json::array({"uart_tx"}));  // primitives are components too
  EXPECT_EQ(named["uart_tx"]["role"], "primitive");
  EXPECT_EQ(named["uart_tx"]["desc_source"], "header");
  EXPECT_EQ(named["uart_tx"]["license"], "");
  EXPECT_EQ(named["uart_tx"]["license_class"], "unknown");
}
