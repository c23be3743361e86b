#include "quarrix/util/text_cache.hpp"

namespace quarrix::util {

namespace {

thread_local ScanTextCache* installed = nullptr;

}  // namespace

ScanTextCache::ScanTextCache() : previous_(installed) { installed = this; }

ScanTextCache::~ScanTextCache() { installed = previous_; }

ScanTextCache* ScanTextCache::current() { return installed; }

ScanTextCache::Entry* ScanTextCache::find(std::string_view confinement, std::string_view path) {
  const auto scope = paths_.find(confinement);
  if (scope == paths_.end()) return nullptr;
  const auto it = scope->second.find(path);
  return it == scope->second.end() ? nullptr : &it->second;
}

ScanTextCache::FileRead* ScanTextCache::find_file(const FileId& id) {
  const auto it = by_file_.find(id);
  return it == by_file_.end() ? nullptr : it->second;
}

ScanTextCache::Entry& ScanTextCache::insert(std::string_view confinement, std::string_view path,
                                            std::optional<FileId> id, std::optional<std::string> bytes) {
  FileRead& read = *reads_.emplace_back(std::make_unique<FileRead>());
  read.bytes = std::move(bytes);
  if (id) by_file_.emplace(*id, &read);
  return alias(confinement, path, read);
}

ScanTextCache::Entry& ScanTextCache::alias(std::string_view confinement, std::string_view path, FileRead& read) {
  auto scope = paths_.find(confinement);
  if (scope == paths_.end()) scope = paths_.emplace(std::string(confinement), ByPath()).first;
  Entry& entry = scope->second[std::string(path)];
  entry.read = &read;
  return entry;
}

}  // namespace quarrix::util
