#include "quarrix/probes/tool_cache.hpp"

#include <sqlite3.h>

#include <filesystem>
#include <system_error>
#include <thread>

#include "quarrix/util/env.hpp"

namespace quarrix::probes {

namespace {

// One prepared statement, finalized when it goes.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  explicit operator bool() const { return stmt_ != nullptr; }
  sqlite3_stmt* get() const { return stmt_; }

  void bind_blob(int index, const std::string& bytes) {
    sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
  }
  void bind_int(int index, long long value) { sqlite3_bind_int64(stmt_, index, value); }
  std::string column_blob(int index) const {
    const auto* data = static_cast<const char*>(sqlite3_column_blob(stmt_, index));
    return data ? std::string(data, sqlite3_column_bytes(stmt_, index)) : std::string();
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS runs("
    " key BLOB PRIMARY KEY, started INTEGER, timed_out INTEGER, exit_code INTEGER,"
    " out BLOB, err BLOB, duration_ms INTEGER, last_used INTEGER) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS runs_by_last_use ON runs(last_used);";

// last_used is a counter shared by all writers rather than a clock, so that
// the order of use is exact however close together two uses come.
constexpr const char* kNextUse = "(SELECT coalesce(max(last_used), 0) + 1 FROM runs)";

}  // namespace

std::string ToolCache::default_path() {
  std::filesystem::path base;
  if (const auto xdg = util::getenv_str("XDG_CACHE_HOME"); xdg && std::filesystem::path(*xdg).is_absolute())
    base = *xdg;
  else if (const auto home = util::getenv_str("HOME"); home && !home->empty())
    base = std::filesystem::path(*home) / ".cache";
  else
    return "";
  return (base / "quarrix" / kFileName).string();
}

ToolCache::ToolCache(std::string path, std::size_t max_entries)
    : path_(std::move(path)), max_entries_(max_entries < 1 ? 1 : max_entries) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (path_.empty()) {
    fail("no cache directory: neither XDG_CACHE_HOME nor HOME is set");
    return;
  }
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
  if (ec) {
    fail(ec.message());
    return;
  }
}

// The database is opened at its first use: a scan that runs no tool (none on
// PATH, or nothing to check) does not pay for opening and setting it up.
bool ToolCache::open() {
  if (db_ || problem_) return db_ != nullptr;
  if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    fail(db_ ? sqlite3_errmsg(db_) : "cannot open");
    return false;
  }
  sqlite3_busy_timeout(db_, static_cast<int>(kBusyTimeout.count()));
  // Turning a new database to WAL takes a lock for which SQLite does not wait
  // (it reports busy at once when another connection is setting up too): so
  // the setup waits here.
  const auto give_up = std::chrono::steady_clock::now() + kBusyTimeout;
  for (const char* sql : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL", kSchema}) {
    int rc;
    while ((rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr)) == SQLITE_BUSY &&
           std::chrono::steady_clock::now() < give_up)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (rc != SQLITE_OK) {
      fail(sqlite3_errmsg(db_));
      return false;
    }
  }
  return true;
}

ToolCache::~ToolCache() { sqlite3_close_v2(db_); }

std::optional<std::string> ToolCache::problem() {
  std::lock_guard<std::mutex> lock(mutex_);
  open();
  return problem_;
}

void ToolCache::fail(const std::string& reason) {
  if (!problem_) problem_ = reason.empty() ? "unknown error" : reason;
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

bool ToolCache::exec(const char* sql) {
  if (!db_) return false;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  fail(sqlite3_errmsg(db_));
  return false;
}

std::optional<CachedRun> ToolCache::find(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open()) return std::nullopt;
  // One statement: the lookup and the mark of its use in one transaction.
  Statement lookup(db_, (std::string("UPDATE runs SET last_used = ") + kNextUse +
                         " WHERE key = ?1 RETURNING started, timed_out, exit_code, out, err, duration_ms")
                            .c_str());
  if (!lookup) {
    fail(sqlite3_errmsg(db_));
    return std::nullopt;
  }
  lookup.bind_blob(1, key);
  std::optional<CachedRun> found;
  int rc = sqlite3_step(lookup.get());
  if (rc == SQLITE_ROW) {
    CachedRun run;
    run.result.started = sqlite3_column_int(lookup.get(), 0) != 0;
    run.result.timed_out = sqlite3_column_int(lookup.get(), 1) != 0;
    run.result.exit_code = sqlite3_column_int(lookup.get(), 2);
    run.result.out = lookup.column_blob(3);
    run.result.err = lookup.column_blob(4);
    run.duration = std::chrono::milliseconds(sqlite3_column_int64(lookup.get(), 5));
    found = std::move(run);
    rc = sqlite3_step(lookup.get());
  }
  if (rc != SQLITE_DONE) {
    fail(sqlite3_errmsg(db_));
    return std::nullopt;
  }
  return found;
}

void ToolCache::store(const std::string& key, const CachedRun& run) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open()) return;
  // IMMEDIATE: take the write lock at once (waiting up to the busy timeout)
  // rather than fail when a read would have to turn into a write.
  if (!exec("BEGIN IMMEDIATE")) return;
  bool ok;
  {
    Statement insert(
        db_,
        (std::string("INSERT OR REPLACE INTO runs VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ") + kNextUse + ")").c_str());
    Statement trim(db_,
                   "DELETE FROM runs WHERE last_used < "
                   "(SELECT last_used FROM runs ORDER BY last_used DESC LIMIT 1 OFFSET ?1)");
    ok = insert && trim;
    if (ok) {
      insert.bind_blob(1, key);
      insert.bind_int(2, run.result.started);
      insert.bind_int(3, run.result.timed_out);
      insert.bind_int(4, run.result.exit_code);
      insert.bind_blob(5, run.result.out);
      insert.bind_blob(6, run.result.err);
      insert.bind_int(7, run.duration.count());
      trim.bind_int(1, static_cast<long long>(max_entries_) - 1);
      ok = sqlite3_step(insert.get()) == SQLITE_DONE && sqlite3_step(trim.get()) == SQLITE_DONE;
    }
  }
  if (!ok) {
    const std::string reason = sqlite3_errmsg(db_);
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    fail(reason);
    return;
  }
  exec("COMMIT");
}

}  // namespace quarrix::probes
