#pragma once
// The address space of each tool run as a person writes it: a whole number of
// MiB, or of the unit its suffix names (K, M, G or T, binary, either case),
// e.g. 512M or 2G. The command line and the batch both read it here.

#include <cstdint>
#include <string_view>

namespace quarrix::pipeline {

struct MemorySize {
  enum class Fault { kNone, kInvalid, kZero, kTooLarge };
  std::uint64_t bytes = 0;  // when fault is kNone
  Fault fault = Fault::kNone;
};

// At most 19 digits and one suffix; sizes from 2^62 bytes up are kTooLarge.
MemorySize parse_memory_size(std::string_view text);

}  // namespace quarrix::pipeline
