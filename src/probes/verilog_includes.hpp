#pragma once
// How a Verilog compile list reaches a tool. The list holds the headers its
// files include, before their includers, so that installing the IP brings
// them; a header is only valid where it is included, so the tool gets the
// directories through which the includes find them instead. Headers made of
// compiler directives alone stay in the command: a project may compile them
// first for their macros (define carriers).

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "quarrix/hdl/verilog_directives.hpp"

namespace quarrix::probes::detail {

struct VerilogCommandInputs {
  std::vector<std::string> sources;       // the files to name in the command, in list order
  std::vector<std::string> include_dirs;  // each source's directory, then those the includes go through
  // Every place the tool may read a header from: for each `include of a file
  // it reads, the including file's directory and each include directory,
  // present or not, and transitively the includes of what is there.
  std::vector<std::string> reads;
  bool reads_complete = true;  // false: a hostile maze of includes was cut short
};

// What the command needs of one Verilog file, read once per scan: a file
// shared by many compile lists (a netlist of ten thousand modules) is read
// and lexed once, not once per check. Thread-safe.
class VerilogFileFacts {
 public:
  struct Facts {
    bool directives_only = false;
    std::vector<std::string> includes;  // `include names, in order
    // Modules declared only under `ifdef branches, with the macros they need.
    std::map<std::string, std::vector<std::string>> guarded_modules;
    hdl::VerilogMacros macros;
  };
  const Facts& of(const std::string& path);

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, std::unique_ptr<const Facts>> facts_;  // entries stay put
};

// `files`: the Verilog files of a compile list, in order.
VerilogCommandInputs verilog_command_inputs(const std::vector<std::string>& files, VerilogFileFacts& known);

}  // namespace quarrix::probes::detail
