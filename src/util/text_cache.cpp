#include "quarrix/util/text_cache.hpp"

namespace quarrix::util {

namespace {

thread_local ScanTextCache* installed = nullptr;

}  // namespace

ScanTextCache::ScanTextCache() : previous_(installed) { installed = this; }

ScanTextCache::~ScanTextCache() { installed = previous_; }

ScanTextCache* ScanTextCache::current() { return installed; }

ScanTextCache::Entry* ScanTextCache::find(std::string_view confinement, std::string_view path) {
  const auto scope = entries_.find(confinement);
  if (scope == entries_.end()) return nullptr;
  const auto it = scope->second.find(path);
  return it == scope->second.end() ? nullptr : &it->second;
}

ScanTextCache::Entry& ScanTextCache::insert(std::string_view confinement, std::string_view path,
                                            std::optional<std::string> bytes) {
  auto scope = entries_.find(confinement);
  if (scope == entries_.end()) scope = entries_.emplace(std::string(confinement), ByPath()).first;
  Entry& entry = scope->second[std::string(path)];
  entry.bytes = std::move(bytes);
  return entry;
}

std::size_t ScanTextCache::size() const {
  std::size_t total = 0;
  for (const auto& [confinement, by_path] : entries_) total += by_path.size();
  return total;
}

}  // namespace quarrix::util
