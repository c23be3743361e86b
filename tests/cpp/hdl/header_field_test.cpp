#include "quarrix/hdl/header_field.hpp"

#include <gtest/gtest.h>

using quarrix::hdl::header_field_description;

TEST(HeaderField, TemplateFieldsAndTheirContinuations) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"-- Purpose: Dual-port RAM\n--          with byte enables\n--\n-- Author: x\nentity r is end;\n",
       "Dual-port RAM with byte enables"},
      {"/*\n * @brief Gray-code counter\n * @author x\n */\nmodule g; endmodule\n", "Gray-code counter"},
      {"// Description: CRC-32 generator\n// Version: 2\nmodule c; endmodule\n", "CRC-32 generator"},
      {"//// Overview: PWM generator ////\n//// --------------- ////\nmodule p; endmodule\n", "PWM generator"},
      // No field, an empty one, or one below the first line of code.
      {"// A FIFO with a registered read port.\nmodule f; endmodule\n", std::nullopt},
      {"// Description:\n//\nmodule d; endmodule\n", std::nullopt},
      {"module m; endmodule\n// Function: not a header\n", std::nullopt},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(header_field_description(text), value) << text;
}
