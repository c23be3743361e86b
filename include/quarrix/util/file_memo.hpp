#pragma once
// Per-file memoisation of results derived from a file's text.
//
// A file holding many design units is asked the same file-wide questions once
// per unit (its header comment, its port names, where each name is declared).
// Inside a scan (a ScanTextCache on this thread) an answer is kept from the
// second question on and shared afterwards, so files asked once, most of
// them, hold no copy; outside a scan it is computed each time. `compute` must
// depend only on the file (its path and what reading it gives), since the
// answer is kept alongside the cached read of that file. Keys are short
// literals naming the deriving step.

#include <any>
#include <filesystem>
#include <memory>
#include <string_view>
#include <utility>

namespace quarrix::util {

// The slot for `key` in the scan cache's entry of `path` (reading the file if
// it was not read yet), or nullptr when no scan cache is installed. A slot
// stays valid until the next call for the same file.
std::any* file_memo_slot(const std::filesystem::path& path, std::string_view key);

namespace detail {
struct AskedOnce {};  // a slot's mark: asked before, answer not kept
}  // namespace detail

template <class T, class Compute>
std::shared_ptr<const T> memo_per_file(const std::filesystem::path& path, std::string_view key, Compute&& compute) {
  std::any* slot = file_memo_slot(path, key);
  if (slot)
    if (const auto* kept = std::any_cast<std::shared_ptr<const T>>(slot)) return *kept;
  const bool asked_before = slot && slot->has_value();
  auto value = std::make_shared<const T>(std::forward<Compute>(compute)());
  if (slot) {
    slot = file_memo_slot(path, key);  // `compute` may have asked other questions of the file
    if (asked_before)
      *slot = value;
    else
      *slot = detail::AskedOnce{};
  }
  return value;
}

}  // namespace quarrix::util
