// The validator against a labelled table. Clean rows are what the description
// tiers really produce (port-analysis sentences, header first sentences, model
// answers, README summaries), including prose that looks like code at a
// glance; defective rows are what leaks out of headers, sources and models.

#include <optional>
#include <string>

#include <gtest/gtest.h>

#include <quarrix/validator/validator.hpp>

namespace {

using quarrix::validator::is_suspect;
using quarrix::validator::suspect_reason;

struct Labelled {
  const char* text;
  std::optional<std::string> name;
  std::optional<std::string> ns;
  std::optional<std::string> defect;  // nullopt: a clean description
};

const std::optional<std::string> kNone;
const std::optional<std::string> kClean;

const Labelled kTable[] = {
    // Sentences composed from port analysis, with the unit they describe.
    {"SPI master", "spi_master", "acme", kClean},
    {"UART transmit engine with ready/valid handshake", "uart_tx", "acme", kClean},
    {"AXI4-Stream FIFO buffer with configurable parameters", "axis_async_fifo", "acme", kClean},
    {"Block IP core with ready/valid handshake and interrupt support", "my_block", "acme", kClean},
    {"AXI4-Lite bridge with UART interface", "axi_uart_bridge", "acme", kClean},
    {"SPI controller", "spi_ctrl", "acme", kClean},
    {"UART with Ethernet interface", "eth_mac_tb", "acme", kClean},
    // Header and model sentences with punctuation that code also uses.
    {"32-bit RISC-V CPU core (RV32IMC), version 2.1", "cv32e40p", "openhwgroup", kClean},
    {"Top-level of the cv32e40p RISC-V core with debug support", "cv32e40p", "openhwgroup", kClean},
    {"Parameterised synchronous FIFO, e.g. for clock-domain buffering.", "sync_fifo", "acme", kClean},
    {"Priority encoder for request vectors <= 64 bits wide", "prio_enc", "acme", kClean},
    {"Dual-port RAM (TDP) with byte enables; registered outputs", "dpram", "acme", kClean},
    {"CRC-32 generator (polynomial = 0x04C11DB7) for Ethernet frames", "crc32", "acme", kClean},
    {"Full-duplex UART; 16-byte FIFOs in both directions", "uart", "acme", kClean},
    {"Clock divider: divides the input clock by N", "clk_div", "acme", kClean},
    {"Ethernet MAC module (1G) with GMII interface", "eth_mac", "acme", kClean},
    {"Entity-level wrapper for the MMCM primitive", "mmcm_wrap", "acme", kClean},
    {"Register file with 2 read ports and 1 write port", "regfile", "acme", kClean},
    {"I2C slave with 7-bit addressing and clock stretching", "i2c_slave", "acme", kClean},
    {"Wishbone to AXI4 bridge", "wb2axi", "acme", kClean},
    {"Cordic-based sine/cosine generator", "cordic", "acme", kClean},
    {"Gray-code counter used in asynchronous FIFOs", "gray_counter", "acme", kClean},
    {"Module for 8b/10b encoding and decoding", "enc8b10b", "acme", kClean},
    // README summaries: checked with the namespace only.
    {"A collection of reusable VHDL components for FPGA designs.", kNone, "acme", kClean},
    {"Open-source FPGA cores for software-defined radio", kNone, "acme", kClean},
    {"PWM generator", kNone, kNone, kClean},

    // First sentences of real headers in public HDL libraries.
    {"AXI4-Stream asynchronous FIFO", "axis_async_fifo", "acme", kClean},
    {"Ethernet frame receiver (Ethernet frame in, AXI out)", "eth_axis_rx", "acme", kClean},
    {"UDP checksum calculation module", "udp_checksum_gen", "acme", kClean},
    {"Generic source synchronous DDR input", "ssio_ddr_in", "acme", kClean},
    {"AXI4 lite crossbar", "axil_crossbar", "acme", kClean},
    {"Fall-through register with a simple stream-like ready/valid handshake.", "fall_through_register", "acme", kClean},
    {"Synchronous FIFO with first-word fall-through output", "fwft_fifo", "acme", kClean},
    {"LFSR-based pseudo-random number generator", "lfsr_prng", "acme", kClean},
    {"Gray code to binary converter", "gray2bin", "acme", kClean},
    {"Clock domain crossing for a single bit using a two-flop synchronizer", "cdc_bit", "acme", kClean},
    {"Wishbone B4 pipelined SRAM controller", "wb_sram", "acme", kClean},
    {"8b/10b encoder for 1000BASE-X", "enc_8b10b", "acme", kClean},
    {"Scalable SPI master controller with programmable clock polarity", "spi_top", "acme", kClean},
    {"APB to register file bridge", "apb_regs", "acme", kClean},
    {"Dual-clock true dual-port block RAM", "tdp_ram", "acme", kClean},
    {"PS/2 keyboard receiver", "ps2_rx", "acme", kClean},
    {"VGA timing generator for 640x480 at 60 Hz", "vga_timing", "acme", kClean},
    {"Integer divider, radix-2 non-restoring, 32-bit", "div32", "acme", kClean},
    {"FIFO with asynchronous clocks and Gray-coded pointers", "async_fifo", "acme", kClean},
    {"Hamming SECDED encoder (39,32)", "secded_enc", "acme", kClean},
    {"Register file: 32 registers of 32 bits, two read ports", "regfile", "acme", kClean},
    {"Date and time counter for a real-time clock", "rtc_counter", "acme", kClean},

    // Legal text from file headers.
    {"Copyright (C) 2019 ETH Zurich and University of Bologna", "core", "acme", "legal"},
    {"Licensed under the Apache License, Version 2.0", "core", "acme", "legal"},
    {"SPDX-License-Identifier: MIT", "core", "acme", "legal"},
    {"This program is distributed WITHOUT ANY WARRANTY; without even the implied warranty of MERCHANTABILITY", "core",
     "acme", "legal"},
    {"(c) 2021 Acme Corp. All rights reserved.", "core", "acme", "legal"},
    {"Distributed under the terms of the GNU Lesser General Public License", kNone, "acme", "legal"},
    {"Use of this file means you agree to the terms and conditions of the license and are in full compliance "
     "with the License.",
     "core", "acme", "legal"},
    {"By using this code you agree to the terms and conditions below", "core", "acme", "legal"},
    {"All rights reserved. Proprietary and confidential.", kNone, "acme", "legal"},
    // Fields of header templates and notes of who made the file.
    {"Company: Engineer: Create Date: 05.04.2022 09:41:18 Design Name: Module Name: readImage Project Name: "
     "Target Devices: Tool Versions: Description:",
     "readImage", "acme", "template"},
    {"Create Date: 17:45:02 07/16/2019 Design Name: Module Name: k11", "k11", "acme", "template"},
    {"Engineer: Neha Bhoi Create Date: 16.11.2020 12:34:24", "pcimid", "acme", "template"},
    {"Filename: uart_rx.v Version: 1.0 Date: 2011", "uart_rx", "acme", "template"},
    {"File: fifo.vhd Author: J. Smith", "fifo", "acme", "template"},
    {"verilog file is created by Jon", "MAC_rx", "acme", "template"},
    {"Module Name: top Project Name: Target Devices:", "top", "acme", "template"},
    {"Revision: Revision 0.01 - File Created Additional Comments:", "x", "acme", "template"},
    {"Dependencies: none", "x", "acme", "template"},
    {"Design Name: uart_top Module Name: uart_top", "uart_top", "acme", "template"},
    {"Tool versions: Vivado 2019.1", "x", "acme", "template"},
    {"A small UART. Target Devices: Artix-7 Tool Versions: Vivado 2022.2", "uart", "acme", "template"},
    {"Ethernet MAC written by John Doe <jdoe@example.com>", "eth_mac", "acme", "contact"},
    {"Author: someone@uni.example.edu", "x", "acme", "contact"},
    {"For questions mail fpga-team@example.org", "x", "acme", "contact"},
    {"Maintainer jane.doe@lab.example.ch, UART core", "uart", "acme", "contact"},
    // Source code instead of prose.
    {"```verilog\nmodule foo;", "foo", "acme", "code"},
    {"module uart_tx (", "uart_tx", "acme", "code"},
    {"entity spi_master is", "spi_master", "acme", "code"},
    {"assign data_out = data_in & mask;", "masker", "acme", "code"},
    {"count <= count + 1;", "counter", "acme", "code"},
    {"-- UART receiver", "uart_rx", "acme", "code"},
    {"library ieee; use ieee.std_logic_1164.all;", "pkg", "acme", "code"},
    {"always @(posedge clk) begin", "reg", "acme", "code"},
    {"port ( clk : in std_logic", "blk", "acme", "code"},
    // The name said again.
    {"spi_master", "spi_master", "acme", "echo"},
    {"acme IP: uart_tx", "uart_tx", "acme", "echo"},
    {"The uart_tx module.", "uart_tx", "acme", "echo"},
    {"CV32E40P core", "cv32e40p", "openhwgroup", "echo"},
    {"openhwgroup cv32e40p top-level", "cv32e40p", "openhwgroup", "echo"},
    {"Top-level entity", "foo", "acme", "echo"},
    {"openhwgroup IP: cv32e40p", kNone, kNone, "echo"},
    {"fifo_ctrl", kNone, "acme", "echo"},
    // Boilerplate and placeholders.
    {"TODO: add description", "x", "acme", "boilerplate"},
    {"TBD", "x", "acme", "boilerplate"},
    {"================ -- NEORV32 SoC - Processor Top Entity --", "neorv32_top", "acme", "boilerplate"},
    {"N/A", "x", "acme", "boilerplate"},
    {"Lorem ipsum dolor sit amet", "x", "acme", "boilerplate"},
    {"Auto-generated file, do not edit", "x", "acme", "boilerplate"},
    {"No description available", "x", "acme", "boilerplate"},
    // Model chatter.
    {"Here is a one-sentence description of the module:", "x", "acme", "chatter"},
    {"As an AI language model, I cannot see the full source.", "x", "acme", "chatter"},
    {"Sure, this module implements a FIFO.", "x", "acme", "chatter"},
    {"I'm sorry, but the signature is incomplete.", "x", "acme", "chatter"},
    {"Based on the provided ports, this is a UART transmitter.", "x", "acme", "chatter"},
    // Vendor notices that generated files carry, and what such cores really are.
    {"Altera products are protected under numerous U.S. and foreign patents, maskwork rights, copyrights and other "
     "intellectual property laws.",
     "adder_tree", "acme", "legal"},
    {"This file contains confidential and proprietary information of Xilinx, Inc. and is protected under U.S. and "
     "international copyright and other intellectual property laws.",
     "fifo_gen", "acme", "legal"},
    {"Your use of Intel Corporation's design tools, logic functions and other software and tools is subject to the "
     "terms.",
     "pll", "acme", "legal"},
    {"The information and description contained herein is the property of Lattice Semiconductor Corporation.",
     "pll_lat", "acme", "legal"},
    {"This file is owned and controlled by Xilinx and must be used solely for design, simulation and implementation.",
     "cntr", "acme", "legal"},
    {"Text/file contains proprietary, confidential information of Xilinx, Inc.", "x", "acme", "legal"},
    {"Use with non-Xilinx devices or technologies is expressly prohibited and immediately terminates your license.",
     "x", "acme", "legal"},
    {"Use of this source is subject to the Microsemi license agreement.", "x", "acme", "legal"},
    {"Any megafunction design provided under Altera's Megafunction Partnership Program may be used only to program "
     "PLD devices.",
     "x", "acme", "legal"},
    {"All design files remain the exclusive property of the company and are not for distribution.", "x", "acme",
     "legal"},
    {"Gowin Semiconductor proprietary IP, do not distribute outside the project.", "x", "acme", "legal"},
    {"Protected under U.S. patents 5,000,000 and 6,000,000 of the vendor.", "x", "acme", "legal"},
    {"Copyright (C) 2020 Intel Corporation. All rights reserved.", "x", "acme", "legal"},
    {"Confidential: for internal evaluation of the transceiver only.", "x", "acme", "legal"},
    {"Generated by the Transceivers Wizard; proprietary and confidential.", "x", "acme", "legal"},
    {"Phase-locked loop that derives 25, 75 and 100 MHz clocks from a 250 MHz reference", "clk_250_25_75_100", "acme",
     kClean},
    {"7-series GTX transceiver wrapper for a four-lane JESD204B receiver", "jesd204b_rx4", "acme", kClean},
    {"Pipelined adder tree with a configurable number of inputs", "adder_tree", "acme", kClean},
    {"Assertion checker for a handshake property of the AXI4-Stream bus", "axis_checker", "acme", kClean},
    {"Counter of 12 bits with a synchronous clear and clock enable", "cntr_11_0", "acme", kClean},
    {"AXI4 to AHB bridge that splits bursts at 1 KiB boundaries", "axi2ahb", "acme", kClean},
    {"Dual-clock FIFO built on block RAM for the PCIe user logic", "pcie_fifo", "acme", kClean},
    {"Debounces a push button and emits one pulse per press", "debounce", "acme", kClean},
    {"Distributed RAM of 16 words by 32 bits for the Ethernet MAC buffers", "xilinx_dist_ram_16x32", "acme", kClean},
    {"Seven-segment display driver multiplexing four digits", "seg7", "acme", kClean},
    {"Single-port RAM model with byte write enables for simulation and synthesis", "spram", "acme", kClean},
    {"Round-robin arbiter with a rotating priority pointer", "rr_arbiter", "acme", kClean},
    {"CORDIC rotator computing sine and cosine in 16 iterations", "cordic16", "acme", kClean},
    {"PicoBlaze-compatible 8-bit microcontroller for Virtex-II devices", "kcpsm2", "acme", kClean},
    {"Clock-domain crossing for a single-bit level with a two-flop synchroniser", "bit_sync", "acme", kClean},
    // What the headers of public repositories leaked: licence and project
    // notices, template fields, generator and editor residue; and the real
    // descriptions beside them.
    {"This Source Code Form is subject to the terms of the Mozilla Public", "ram_master", "vunit", "legal"},
    {"Permission: This code for use in UCSD CSE 140L. It is synthesisable for Lattice iCEstick 40HX.", "ram512x8",
     "cse140l", "legal"},
    {"This file is part of the hdl-modules project, a collection of reusable, high-quality, peer-reviewed VHDL "
     "building blocks.",
     "axi_read_master", "hdl-modules", "boilerplate"},
    {"Compliant: IEEE Std 1076-1993 Target: independent Description: This file represents a generic FIFO.", "fifo",
     "vhdl-collection", "template"},
    {"This is the core which will be used to interface I2C bus. Created : 23-11-07", "core", "gtx", "template"},
    {"megafunction wizard: %ALTPLL% GENERATION: STANDARD VERSION: WM1.0", "pll_50M", "f32c", "boilerplate"},
    {"Module Version: 5.7 /mt/lattice/diamond/3.7_x64/ispfpga/bin/lin64/scuba -w -n clkgen -lang vhdl", "clkgen",
     "f32c", "boilerplate"},
    {"OR1200's 32x32 multiply for ASIC ////", "FULL_ADDER", "or1200", "boilerplate"},
    {"will probably be lost. Generated using ACDS version 20.1 711", "jtag_adapter", "basic_verilog", "boilerplate"},
    {"Clock divider generated from a 100 MHz reference with a selectable ratio", "clkdiv", "acme", kClean},
    {"e1_wb_rx.v vim: ts=4 sw=4 E1 wishbone RX submodule - NOT MEANT TO BE USED INDEPENDENTLY", "e1_wb_rx", "no2e1",
     "boilerplate"},
    {"This file represents a generic FIFO structure (also known as queue).", "fifo", "vhdl-collection", kClean},
    {"Clearable Two-Phase CDC Transfer payloads with a two-phase handshake", "cc_cdc_2phase_clearable_src",
     "common_cells", kClean},
    {"Register file with 31x 32 bit wide registers. Register 0 is fixed to 0.", "cv32e40p_register_file", "cv32e40p",
     kClean},
    {"Low level implementation of a ternary adder according to U.S. Patent No 7274211 from Xilinx.",
     "ternary_add_sub_prim", "barawn", kClean},
    {"Edge detector, clock needs to oversample for proper edge detection", "cc_edge_detect", "common_cells", kClean},
    {"AXI4-Stream consistent overhead byte stuffing (COBS) decoder", "axis_cobs_decode", "verilog-axis", kClean},
    {"Project F: Lines and Triangles - Render Framebuffer Edge (2-bit 160x90)", "render_edge", "projf", kClean},
    {"Zircon IP stack - RX parser", "zircon_ip_rx_parse", "taxi", kClean},
    {"PTP time distribution PHC with APB register interface", "taxi_ptp_td_phc_apb", "taxi", kClean},
    {"Quartus Prime Verilog Template True Dual Port RAM with dual clocks", "true_dual_port_ram_dual_clock",
     "basic_verilog", kClean},
    {"Data path of 32/64 bits with rd/wr strobes and a 1/2 clock enable", "dp", "acme", kClean},
    // Nothing to read.
    {"", "x", "acme", "empty"},
    {"   \n", "x", "acme", "empty"},
    {"...", "x", "acme", "empty"},
};

TEST(Validator, LabelledTable) {
  int clean = 0;
  int defective = 0;
  for (const Labelled& row : kTable) {
    SCOPED_TRACE(row.text);
    const auto reason = suspect_reason(row.text, row.name, row.ns);
    EXPECT_EQ(reason ? std::optional<std::string>(std::string(*reason)) : std::nullopt, row.defect);
    EXPECT_EQ(is_suspect(row.text, row.name, row.ns), row.defect.has_value());
    ++(row.defect ? defective : clean);
  }
  EXPECT_GE(clean, 20);
  EXPECT_GE(defective, 20);
}

TEST(Validator, NameAndNamespaceAreOptional) {
  EXPECT_FALSE(is_suspect("UART transmit engine with ready/valid handshake"));
  EXPECT_TRUE(is_suspect("Copyright 2020 Acme"));
}

}  // namespace
