// The plain form of compile orders against the walk.

#include <cstdint>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include <gtest/gtest.h>

#include <quarrix/resolver/dependency_resolver.hpp>

#include "support/temp_repo.hpp"

namespace {

using quarrix::resolver::DependencyResolver;
using quarrix::testing::TempRepo;

// The orders of the dependencies in turn, each file once, then the own file.
void composed(const DependencyResolver& r, std::uint32_t unit, std::unordered_set<std::uint32_t>& seen,
              std::vector<std::uint32_t>& out) {
  const auto node = r.unit_node(unit);
  for (const std::uint32_t dep : node.deps) {
    const auto d = r.unit_node(dep);
    if (!seen.contains(d.file)) composed(r, dep, seen, out);
  }
  if (seen.insert(node.file).second) out.push_back(node.file);
}

std::string name(int i) { return "m" + std::to_string(i); }

TEST(PlainLists, ComposedOrdersAreTheWalksOnRandomDesigns) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    TempRepo repo;
    std::mt19937 rng(seed);
    const int n = 60;
    // Unit i uses up to three units above it; a few files hold two units,
    // include a header, or close a cycle: those and all that reach them are not plain.
    std::vector<bool> expect_plain(n, true);
    std::vector<std::vector<int>> uses(n);
    std::vector<unsigned> kind(n);
    for (int i = 0; i < n; ++i) {
      for (int k = 0; k < 3 && i + 1 < n; ++k)
        uses[i].push_back(i + 1 + static_cast<int>(rng() % static_cast<unsigned>(std::min(n - i - 1, 12))));
      kind[i] = rng() % 10;
      if (kind[i] == 0 && i + 1 < n) {  // the next one uses this one back: a cycle
        uses[i].push_back(i + 1);
        uses[i + 1].push_back(i);
        expect_plain[i] = expect_plain[i + 1] = false;
      }
      if (kind[i] == 1 || kind[i] == 2) expect_plain[i] = false;
    }
    for (int i = 0; i < n; ++i) {
      std::string text = kind[i] == 1 ? "`include \"defs.vh\"\n" : "";
      text += "module " + name(i) + ";";
      for (const int u : uses[i]) text += " " + name(u) + " u" + std::to_string(u) + "();";
      text += " endmodule\n";
      if (kind[i] == 2) text += "module " + name(i) + "_also; endmodule\n";
      repo.write("rtl/" + name(i) + ".v", text);
    }
    repo.write("rtl/defs.vh", "`define W 8\n");
    const DependencyResolver r({repo.path()});
    // Propagate "not plain" to every unit that reaches one.
    for (bool changed = true; changed;) {
      changed = false;
      for (int i = 0; i < n; ++i)
        for (const int u : uses[i])
          if (expect_plain[i] && !expect_plain[u]) expect_plain[i] = false, changed = true;
    }
    for (int i = 0; i < n; ++i) {
      const auto unit = r.unit_index(name(i));
      ASSERT_TRUE(unit) << name(i);
      const auto node = r.unit_node(*unit);
      EXPECT_EQ(node.plain, expect_plain[i]) << "seed " << seed << " " << name(i);
      if (!node.plain) continue;
      std::unordered_set<std::uint32_t> seen;
      std::vector<std::uint32_t> out;
      composed(r, *unit, seen, out);
      EXPECT_EQ(out, r.compilation_order_files(name(i))) << "seed " << seed << " " << name(i);
    }
  }
}

}  // namespace
