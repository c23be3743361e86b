// Inputs on which a plain pattern search is quadratic or worse. Each must
// finish in well under a second per megabyte; a quadratic scan would take hours.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "quarrix/hdl/header_comment.hpp"
#include "quarrix/hdl/module_signature.hpp"
#include "quarrix/hdl/port_names.hpp"

namespace quarrix::hdl {
namespace {

std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

double seconds(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

constexpr double kBudget = 10.0;  // generous for a loaded machine

TEST(HostileInput, RepeatedOpeningsWithoutClosing) {
  const std::size_t n = 300'000;
  EXPECT_LT(seconds([&] { EXPECT_TRUE(extract_port_names(repeat("port(", n), ".vhd").empty()); }), kBudget);
  EXPECT_LT(seconds([&] { EXPECT_TRUE(extract_generic_names(repeat("generic (", n), ".vhd").empty()); }), kBudget);
  EXPECT_LT(seconds([&] { EXPECT_TRUE(extract_port_names(repeat("input [", n), ".v").empty()); }), kBudget);
  EXPECT_LT(seconds([&] { EXPECT_TRUE(extract_port_names(repeat("module a (", n), ".sv").empty()); }), kBudget);
  EXPECT_LT(seconds([&] { EXPECT_FALSE(signature_from_text(repeat("module a (", n), ".v").has_value()); }), kBudget);
  EXPECT_LT(seconds([&] { EXPECT_FALSE(signature_from_text(repeat("entity a is ", n), ".vhd").has_value()); }),
            kBudget);
  EXPECT_LT(seconds([&] {
              // No section closes; the header walk then collects the repeated word.
              const auto header = extract_vhdl_header(repeat("-- Description\n--\n", n));
              EXPECT_TRUE(header && header->starts_with("Description Description"));
            }),
            kBudget);
  EXPECT_LT(seconds([&] { EXPECT_FALSE(extract_verilog_header(repeat("/*", n) + "\nmodule m;").has_value()); }),
            kBudget);
}

TEST(HostileInput, ClosingFoundOnlyAtTheEnd) {
  const std::size_t n = 300'000;
  EXPECT_LT(seconds([&] {
              const auto ports = extract_port_names(repeat("port(", n) + "a : in bit);\nend;", ".vhd");
              EXPECT_EQ(ports, std::vector<std::string>{"a"});
            }),
            kBudget);
  EXPECT_LT(seconds([&] {
              // Exponentially many ways to nest a parameter list for a backtracking engine.
              const auto sig = signature_from_text("module m #(" + repeat("((x)", n) + ") (input a);", ".v");
              ASSERT_TRUE(sig.has_value());
              EXPECT_TRUE(sig->starts_with("module m #(((x)"));
            }),
            kBudget);
  EXPECT_LT(seconds([&] {
              const auto sig = signature_from_text(repeat("module a #(x) ", n) + "(b);", ".v");
              EXPECT_EQ(sig, "module a #(x) (b);");
            }),
            kBudget);
}

TEST(HostileInput, LongRuns) {
  const std::string word(4'000'000, 'a');
  const std::string spaces(4'000'000, ' ');
  const std::string newlines(4'000'000, '\n');
  EXPECT_LT(seconds([&] { EXPECT_EQ(extract_port_names("port(" + word + "b:\n);\nend", ".vhd").size(), 0u); }),
            kBudget);
  EXPECT_LT(seconds([&] { EXPECT_EQ(extract_generic_names("generic(" + word + ");", ".vhd").size(), 0u); }), kBudget);
  EXPECT_LT(seconds([&] { EXPECT_TRUE(extract_port_names("input" + spaces + ";", ".sv").empty()); }), kBudget);
  EXPECT_LT(seconds([&] { EXPECT_TRUE(extract_port_names("port(a);" + newlines + "x", ".vhd").empty()); }), kBudget);
  EXPECT_LT(seconds([&] { EXPECT_FALSE(extract_verilog_header(newlines + "x").has_value()); }), kBudget);
  EXPECT_LT(seconds([&] { EXPECT_FALSE(signature_from_text("module m" + spaces + "x", ".v").has_value()); }), kBudget);
  EXPECT_LT(seconds([&] { EXPECT_FALSE(extract_vhdl_header("-- Description" + newlines + "x").has_value()); }),
            kBudget);
}

TEST(HostileInput, NulBytesAreOrdinaryCharacters) {
  const std::string text = std::string("input a\0b;\nport (x : in bit);\nend;", 34);
  EXPECT_EQ(extract_port_names(text, ".v"), std::vector<std::string>{"a"});
  EXPECT_EQ(extract_port_names(text, ".vhd"), std::vector<std::string>{"x"});
}

}  // namespace
}  // namespace quarrix::hdl
