#include <quarrix/pipeline/memory_size.hpp>

#include <cctype>
#include <string>

namespace quarrix::pipeline {

MemorySize parse_memory_size(std::string_view text) {
  using Fault = MemorySize::Fault;
  std::size_t digits = 0;
  while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
  if (digits == 0 || digits > 19 || text.size() > digits + 1) return {0, Fault::kInvalid};
  int shift = 20;
  if (text.size() > digits) {
    switch (std::toupper(static_cast<unsigned char>(text[digits]))) {
      case 'K': shift = 10; break;
      case 'M': shift = 20; break;
      case 'G': shift = 30; break;
      case 'T': shift = 40; break;
      default: return {0, Fault::kInvalid};
    }
  }
  const std::uint64_t amount = std::stoull(std::string(text.substr(0, digits)));
  if (amount == 0) return {0, Fault::kZero};
  if (amount > (std::uint64_t{1} << (62 - shift))) return {0, Fault::kTooLarge};
  return {amount << shift, Fault::kNone};
}

}  // namespace quarrix::pipeline
