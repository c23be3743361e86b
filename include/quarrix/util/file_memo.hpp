#pragma once
// Per-file memoisation of results derived from a file's text.
//
// A file holding many design units is asked the same file-wide questions once
// per unit (its header comment, its port names, where each name is declared).
// Inside a scan (a ScanTextCache on this thread) the answer is computed on the
// first question and shared afterwards; outside a scan it is computed each time.
// `compute` must depend only on the file (its path and what reading it gives),
// since the answer is kept alongside the cached read of that file.

#include <any>
#include <filesystem>
#include <memory>
#include <string_view>
#include <utility>

namespace quarrix::util {

// The slot for `key` in the scan cache's entry of `path` (reading the file if
// it was not read yet), or nullptr when no scan cache is installed.
std::any* file_memo_slot(const std::filesystem::path& path, std::string_view key);

template <class T, class Compute>
std::shared_ptr<const T> memo_per_file(const std::filesystem::path& path, std::string_view key, Compute&& compute) {
  std::any* slot = file_memo_slot(path, key);
  if (slot && slot->has_value()) return std::any_cast<std::shared_ptr<const T>>(*slot);
  // Slots live in node-based maps, so `slot` survives reads made by `compute`.
  auto value = std::make_shared<const T>(std::forward<Compute>(compute)());
  if (slot) *slot = value;
  return value;
}

}  // namespace quarrix::util
