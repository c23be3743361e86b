// Shared UART settings.
`define UART_DATA_BITS 8
`define UART_STOP_BITS 1
