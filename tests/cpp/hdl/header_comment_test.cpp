#include "quarrix/hdl/header_comment.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "hdl/reference.hpp"

namespace quarrix::hdl {
namespace {

using Opt = std::optional<std::string>;

struct Case {
  const char* label;
  std::string text;
  Opt description;
};

class VerilogHeader : public ::testing::TestWithParam<Case> {};
TEST_P(VerilogHeader, Extracts) { EXPECT_EQ(extract_verilog_header(GetParam().text), GetParam().description); }

INSTANTIATE_TEST_SUITE_P(
    All, VerilogHeader,
    ::testing::Values(
        Case{"NearestBlockFirst",
             "/*\n * Copyright (c) 2019 Someone\n * Permission is hereby granted, free of charge, to any person\n */\n"
             "/*\n * AXI4-Stream FIFO with optional frame mode\n */\n`timescale 1ns/1ps\nmodule axis_fifo (input clk);",
             "AXI4-Stream FIFO with optional frame mode"},
        Case{"ShortBlocksGiveNothingEvenWithLineComments",
             "// A line comment with plenty of words in it\n/* AXI4-Stream FIFO */\nmodule m;", std::nullopt},
        Case{"EarlierBlockWhenNearestIsShort", "/* Dual clock FIFO with gray code pointers */\n/* v1.0 */\nmodule m;",
             "Dual clock FIFO with gray code pointers"},
        Case{"NoModuleKeyword", "/* An interface for the streaming data path */\ninterface i;", std::nullopt},
        Case{"IndentedModuleKeyword", "/* Round robin arbiter for four requesters */\n   module m;",
             "Round robin arbiter for four requesters"},
        Case{"ModuleWordInsideLineDoesNotCount", "/* Round robin arbiter for four requesters */\nx module m;",
             std::nullopt},
        Case{"LineCommentsAfterCopyright",
             "// Copyright 2021 Someone\n// All rights reserved.\n//\n// Simple UART receiver with a\n"
             "// configurable baud rate\n`default_nettype none\nmodule uart_rx;",
             "Simple UART receiver with a configurable baud rate"},
        Case{"NoteEndsTheProse",
             "/*\n * Synchronous FIFO with first word\n * fall through\n * Note: see the manual\n * more text here\n "
             "*/\n"
             "module m;",
             "Synchronous FIFO with first word fall through"},
        Case{"DashLineAfterProseEnds",
             "/*\n * Synchronous FIFO with first word fall through\n * ----------\n * Ports are listed below\n "
             "*/\nmodule m;",
             "Synchronous FIFO with first word fall through"},
        Case{"LicenceProseRejected",
             "/* This file is distributed under the GNU General Public License and more words */\nmodule m;",
             std::nullopt},
        Case{"BoxRulersFileNamesAndModelinesAreDecoration",
             "//////////////////////////\n////  OR1200's 32x32 multiply for ASIC  ////\n////  and FPGA targets  ////\n"
             "module m;",
             "OR1200's 32x32 multiply for ASIC and FPGA targets"},
        Case{"FileNameAndModelineBeforeTheProse",
             "/*\n * e1_rx_filter.v\n *\n * vim: ts=4 sw=4\n *\n * E1 RX glitch filtering and pulse detection\n */\n"
             "module m;",
             "E1 RX glitch filtering and pulse detection"},
        Case{"UnclosedCommentIsNoComment",
             "// Four words only here\n/* Unclosed comment holding a long sentence\nmodule m;", std::nullopt}),
    [](const auto& info) { return std::string(info.param.label); });

class VhdlHeader : public ::testing::TestWithParam<Case> {};
TEST_P(VhdlHeader, Extracts) { EXPECT_EQ(extract_vhdl_header(GetParam().text), GetParam().description); }

INSTANTIATE_TEST_SUITE_P(
    All, VhdlHeader,
    ::testing::Values(
        Case{"DescriptionSection",
             "-- Copyright 2020 Someone\n-- Description\n--------------\n-- Dual port RAM with registered\n"
             "-- outputs for block memories\n----------------\nlibrary ieee;",
             "Dual port RAM with registered outputs for block memories"},
        Case{"ShortSectionFallsBackToWalk",
             "-- Description\n--\n-- Small counter\n----\n-- with synchronous reset and enable\nlibrary ieee;",
             "Description Small counter with synchronous reset and enable"},
        Case{"BoilerplateSectionAndWalkGiveNothing",
             "-- Description\n--\n-- Copyright 2020 Someone\n----\n-- A small counter with a synchronous reset\n"
             "library ieee;",
             std::nullopt},
        Case{"DescriptionWordWithTextIsNoSection",
             "-- Description: FIFO with two clocks and gray pointers\nlibrary ieee;",
             "Description: FIFO with two clocks and gray pointers"},
        Case{"DashLinesAreEmptyInVhdl",
             "-- A small counter with a\n-------------\n-- synchronous reset input\nentity c is",
             "A small counter with a synchronous reset input"},
        Case{"FirstCodeLineEndsWalk", "-- Gray code counter with\nsignal x : bit;\n-- enable and synchronous reset\n",
             std::nullopt},
        Case{"EmptyLinesPassedOver", "\n\n-- Gray code counter with enable\n\n-- and synchronous reset\nUSE ieee.all;",
             "Gray code counter with enable and synchronous reset"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(CleanCommentLines, PrefixIsACharacterSet) {
  EXPECT_EQ(clean_comment_lines({"  //// one two", "/ three four five  "}, "//"), "one two three four five");
  EXPECT_EQ(clean_comment_lines({"** one two three four"}, "*"), std::nullopt);  // four words
  EXPECT_EQ(clean_comment_lines({}, "--"), std::nullopt);
  EXPECT_EQ(clean_comment_lines({"SPDX-License-Identifier: MIT", "one two three four five", "Author: x"}, "--"),
            "one two three four five");
}

TEST(HeaderDescription, ReadsBySuffix) {
  const auto dir = std::filesystem::temp_directory_path() / "quarrix_hdl_header";
  std::filesystem::create_directories(dir);
  const std::string verilog = "// Simple UART receiver with a configurable baud rate\nmodule uart_rx;\n";
  std::ofstream(dir / "a.SV") << verilog;
  std::ofstream(dir / "a.txt") << verilog;
  std::ofstream(dir / "b.vhdl") << "-- Gray code counter with enable input\nentity c is\n";
  EXPECT_EQ(extract_header_description((dir / "a.SV").string()), "Simple UART receiver with a configurable baud rate");
  EXPECT_EQ(extract_header_description((dir / "a.txt").string()), std::nullopt);
  EXPECT_EQ(extract_header_description((dir / "b.vhdl").string()), "Gray code counter with enable input");
  EXPECT_EQ(extract_header_description((dir / "missing.v").string()), std::nullopt);
  std::filesystem::remove_all(dir);
}

// The extractors applied the literal way: plain pattern searches and whole line lists.
Opt reference_vhdl(std::string_view text) {
  static const util::Regex section(kVhdlDescriptionSectionPattern, util::kIgnoreCase | util::kDotAll);
  static const util::Regex header_end(kVhdlHeaderEndPattern);
  if (const auto body = testing::search_group(section, text)) {
    auto r = clean_comment_lines(util::splitlines(util::strip(*body)), "--");
    if (r && !r->empty()) return r;
  }
  std::vector<std::string> collected;
  for (const auto& raw : util::splitlines(text)) {
    const std::string line(util::strip(raw));
    if (header_end.match(line)) break;
    if (util::starts_with(line, "--"))
      collected.push_back(line);
    else if (!line.empty())
      break;
  }
  return clean_comment_lines(collected, "--");
}

Opt reference_verilog(std::string_view text) {
  static const util::Regex keyword(kVerilogModuleKeywordPattern, util::kMultiline);
  static const util::Regex block(kVerilogBlockCommentPattern, util::kDotAll);
  const auto m = keyword.search(text);
  if (!m) return std::nullopt;
  const std::string_view header = text.substr(0, m->start());
  const auto comments = block.finditer(header);
  if (comments.empty()) {
    std::vector<std::string> lines;
    for (const auto& raw : util::splitlines(header))
      if (util::starts_with(util::strip(raw), "//")) lines.emplace_back(util::strip(raw));
    return clean_comment_lines(lines, "//");
  }
  for (auto it = comments.rbegin(); it != comments.rend(); ++it) {
    auto r = clean_comment_lines(util::splitlines(it->group(1)), "*");
    if (r && !r->empty()) return r;
  }
  return std::nullopt;
}

TEST(HeaderDifferential, AgreesWithLiteralExtractors) {
  testing::RandomText vhdl({"--", " Description", "DESCRIPTION", "\n", "\n\n", " ", "-", "---", "entity", "library",
                            "use", "Gray code counter with enable", "Copyright 2020", "x <= y;", "\u3000"},
                           13);
  testing::RandomText verilog({"/*", "*/", "/**/", "//", "\n", " ", "module", "module m;", "*", " * ",
                               "Round robin arbiter for four requesters", "Note: x", "---", "\t"},
                              17);
  int found = 0;
  for (int i = 0; i < 30000; ++i) {
    const std::string h = vhdl.next(30);
    const std::string v = verilog.next(30);
    const Opt got = extract_vhdl_header(h);
    ASSERT_EQ(got, reference_vhdl(h)) << "text: " << h;
    const Opt got_v = extract_verilog_header(v);
    ASSERT_EQ(got_v, reference_verilog(v)) << "text: " << v;
    found += got.has_value() + got_v.has_value();
  }
  EXPECT_GT(found, 1000);
}

}  // namespace
}  // namespace quarrix::hdl
