#pragma once
// How a Verilog compile list reaches a tool. The list holds the headers its
// files include, before their includers, so that installing the IP brings
// them; a header is only valid where it is included, so the tool gets the
// directories through which the includes find them instead. Headers made of
// compiler directives alone stay in the command: a project may compile them
// first for their macros (define carriers).

#include <string>
#include <vector>

namespace quarrix::probes::detail {

struct VerilogCommandInputs {
  std::vector<std::string> sources;       // the files to name in the command, in list order
  std::vector<std::string> include_dirs;  // each source's directory, then those the includes go through
  std::vector<std::string> reads;         // headers the tool finds (or looks for) through include_dirs
};

// `files`: the Verilog files of a compile list, in order.
VerilogCommandInputs verilog_command_inputs(const std::vector<std::string>& files);

}  // namespace quarrix::probes::detail
