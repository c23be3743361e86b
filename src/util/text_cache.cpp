#include "quarrix/util/text_cache.hpp"

namespace quarrix::util {

namespace {

thread_local ScanTextCache* installed = nullptr;

}  // namespace

ScanTextCache::ScanTextCache() : previous_(installed) { installed = this; }

ScanTextCache::~ScanTextCache() { installed = previous_; }

ScanTextCache* ScanTextCache::current() { return installed; }

std::string ScanTextCache::key(std::string_view confinement, std::string_view path) {
  // A NUL cannot occur in a path, so the pair is unambiguous.
  std::string out;
  out.reserve(confinement.size() + 1 + path.size());
  out.append(confinement).push_back('\0');
  out.append(path);
  return out;
}

ScanTextCache::Entry* ScanTextCache::find(std::string_view confinement, std::string_view path) {
  const auto it = entries_.find(key(confinement, path));
  return it == entries_.end() ? nullptr : &it->second;
}

ScanTextCache::Entry& ScanTextCache::insert(std::string_view confinement, std::string_view path,
                                            std::optional<std::string> bytes) {
  Entry& entry = entries_[key(confinement, path)];
  entry.bytes = std::move(bytes);
  return entry;
}

}  // namespace quarrix::util
