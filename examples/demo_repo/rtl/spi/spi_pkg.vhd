library ieee;
use ieee.std_logic_1164.all;

package spi_pkg is
  constant SPI_WORD_BITS : natural := 8;
end package spi_pkg;
