// UART transmitter with a ready/valid input handshake and configurable baud divider.
`include "uart_defs.vh"
module uart_tx #(
    parameter CLK_DIV = 868
) (
    input  wire       clk,
    input  wire       rst,
    input  wire [7:0] s_axis_tdata,
    input  wire       s_axis_tvalid,
    output wire       s_axis_tready,
    output reg        txd
);
  reg [9:0] shift;
  reg [15:0] count;
  assign s_axis_tready = (shift == 0);
  always @(posedge clk) begin
    if (rst) begin
      shift <= 0;
      txd <= 1'b1;
    end else if (s_axis_tvalid && s_axis_tready) begin
      shift <= {1'b1, s_axis_tdata, 1'b0};
    end
  end
endmodule
