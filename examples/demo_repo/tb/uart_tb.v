`timescale 1ns / 1ps
module uart_tb;
  reg clk = 0;
  uart_top dut (.clk(clk), .rst(1'b0), .rxd(1'b1), .txd());
endmodule
