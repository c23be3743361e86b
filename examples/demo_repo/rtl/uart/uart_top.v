// UART core combining the transmitter and the receiver.
module uart_top (
    input  wire clk,
    input  wire rst,
    input  wire rxd,
    output wire txd
);
  wire [7:0] data;
  wire valid;
  uart_rx #(.CLK_DIV(868)) rx_inst (.clk(clk), .rst(rst), .rxd(rxd), .m_axis_tdata(data), .m_axis_tvalid(valid));
  uart_tx #(.CLK_DIV(868)) tx_inst (.clk(clk), .rst(rst), .s_axis_tdata(data), .s_axis_tvalid(valid),
                                    .s_axis_tready(), .txd(txd));
endmodule
