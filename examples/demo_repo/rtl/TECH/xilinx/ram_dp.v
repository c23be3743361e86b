// Dual-port RAM mapped onto Xilinx block RAM through the parameterised macro.
module ram_dp #(parameter AW = 8, parameter DW = 32) (
    input  wire          clk,
    input  wire [AW-1:0] addr_a,
    input  wire [DW-1:0] din_a,
    input  wire          we_a,
    input  wire [AW-1:0] addr_b,
    output wire [DW-1:0] dout_b
);
  xpm_memory_sdpram #(
      .ADDR_WIDTH_A(AW), .ADDR_WIDTH_B(AW), .WRITE_DATA_WIDTH_A(DW), .READ_DATA_WIDTH_B(DW),
      .BYTE_WRITE_WIDTH_A(DW), .MEMORY_SIZE(DW << AW), .READ_LATENCY_B(1)
  ) bram (
      .clka(clk), .ena(1'b1), .wea(we_a), .addra(addr_a), .dina(din_a),
      .clkb(clk), .enb(1'b1), .addrb(addr_b), .doutb(dout_b)
  );
endmodule
