#pragma once
// Tool results kept between scans in an SQLite database, so that a rescan of
// an unchanged repository runs no tool. The caller makes the keys (see
// ToolSession): whatever the answer depends on, digested to 16 bytes.
//
// Several scans, in threads or processes, may share one database (WAL, each
// write its own short transaction). A cache that cannot be used (corrupt,
// locked for longer than kBusyTimeout, read-only, full disk) never fails its
// caller: from its first error on it answers nothing and stores nothing, and
// problem() says why.

#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>

#include "quarrix/probes/tool_run.hpp"

struct sqlite3;

namespace quarrix::probes {

struct CachedRun {
  RunResult result;
  std::chrono::milliseconds duration{0};  // what the run took when it was made
};

class ToolCache {
 public:
  // Room for the checks of a few hundred large repositories; each entry is
  // small, as the verification runs capture no output.
  static constexpr std::size_t kMaxEntries = 100000;
  static constexpr std::chrono::milliseconds kBusyTimeout{5000};

  // $XDG_CACHE_HOME/quarrix/tools.sqlite, else ~/.cache/quarrix/tools.sqlite;
  // "" when neither variable is set.
  static std::string default_path();
  static constexpr const char* kFileName = "tools.sqlite";

  // The database at `path`, created (with its directory) when missing and
  // opened at the first find, store or problem. Never throws: a failure
  // makes the cache unusable.
  explicit ToolCache(std::string path, std::size_t max_entries = kMaxEntries);
  ~ToolCache();
  ToolCache(const ToolCache&) = delete;
  ToolCache& operator=(const ToolCache&) = delete;

  // The stored run for `key`, marked as just used.
  std::optional<CachedRun> find(const std::string& key);
  // Stores (or replaces) the run for `key`; past max_entries, the least
  // recently used entries go.
  void store(const std::string& key, const CachedRun& run);

  const std::string& path() const { return path_; }
  // Why the cache stopped working, or nullopt while it works.
  std::optional<std::string> problem();

 private:
  bool open();                           // mutex_ held; false when unusable
  void fail(const std::string& reason);  // mutex_ held
  bool exec(const char* sql);            // mutex_ held

  const std::string path_;
  const std::size_t max_entries_;
  mutable std::mutex mutex_;
  sqlite3* db_ = nullptr;
  std::optional<std::string> problem_;
};

}  // namespace quarrix::probes
