#pragma once
// Per-file memoisation of results derived from a file's text.
//
// A file holding many design units is asked the same file-wide questions once
// per unit (its header comment, its port names, where each name is declared).
// Inside a scan (a ScanTextCache on this thread) an answer is kept from the
// second question on and shared afterwards, so files asked once, most of
// them, hold no copy; outside a scan it is computed each time. `compute` must
// depend only on the file (its path and what reading it gives), since the
// answer is kept alongside the cached read of that file.

#include <any>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <utility>

#include "quarrix/util/text_cache.hpp"

namespace quarrix::util {

// Names one kind of per-file answer. Define each as a function-local or
// namespace-scope static: there is room for 32.
class FileMemoKey {
 public:
  FileMemoKey() : index_(next_index().fetch_add(1)) {
    if (index_ >= 32) throw std::logic_error("too many per-file memo keys");
  }
  std::uint32_t index() const { return index_; }

 private:
  static std::atomic<std::uint32_t>& next_index() {
    static std::atomic<std::uint32_t> next{0};
    return next;
  }
  std::uint32_t index_;
};

namespace detail {
// The scan cache's entry of `path` (reading the file if it was not read yet),
// or nullptr when no scan cache is installed on this thread.
ScanTextCache::Entry* file_memo_entry(const std::filesystem::path& path);
}  // namespace detail

template <class T, class Compute>
std::shared_ptr<const T> memo_per_file(const std::filesystem::path& path, const FileMemoKey& key, Compute&& compute) {
  // Entries live in a node-based map: `entry` survives reads made by `compute`.
  ScanTextCache::Entry* entry = detail::file_memo_entry(path);
  if (entry)
    for (const auto& [index, answer] : entry->kept)
      if (index == key.index()) return std::any_cast<std::shared_ptr<const T>>(answer);
  auto value = std::make_shared<const T>(std::forward<Compute>(compute)());
  if (entry) {
    const std::uint32_t bit = std::uint32_t{1} << key.index();
    if (entry->asked_once & bit)
      entry->kept.emplace_back(key.index(), value);
    else
      entry->asked_once |= bit;
  }
  return value;
}

}  // namespace quarrix::util
