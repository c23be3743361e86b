// Dual-port RAM mapped onto Xilinx block RAM.
module ram_dp #(parameter AW = 8, parameter DW = 32) (
    input  wire          clk,
    input  wire [AW-1:0] addr_a,
    input  wire [DW-1:0] din_a,
    input  wire          we_a,
    input  wire [AW-1:0] addr_b,
    output reg  [DW-1:0] dout_b
);
endmodule
