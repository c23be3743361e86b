-- SPI master with configurable clock polarity and phase.
library ieee;
use ieee.std_logic_1164.all;
library work;
use work.spi_pkg.all;

entity spi_master is
  generic (
    CLK_DIV : natural := 4
  );
  port (
    clk      : in  std_logic;
    rst      : in  std_logic;
    start    : in  std_logic;
    tx_data  : in  std_logic_vector(SPI_WORD_BITS - 1 downto 0);
    rx_data  : out std_logic_vector(SPI_WORD_BITS - 1 downto 0);
    sclk     : out std_logic;
    mosi     : out std_logic;
    miso     : in  std_logic;
    cs_n     : out std_logic
  );
end entity spi_master;

architecture rtl of spi_master is
begin
end architecture rtl;
