// Dual-port RAM, portable description: one write port, one registered read port.
module ram_dp #(parameter AW = 8, parameter DW = 32) (
    input  wire          clk,
    input  wire [AW-1:0] addr_a,
    input  wire [DW-1:0] din_a,
    input  wire          we_a,
    input  wire [AW-1:0] addr_b,
    output reg  [DW-1:0] dout_b
);
  reg [DW-1:0] mem[0:(1 << AW) - 1];
  always @(posedge clk) begin
    if (we_a) mem[addr_a] <= din_a;
    dout_b <= mem[addr_b];
  end
endmodule
