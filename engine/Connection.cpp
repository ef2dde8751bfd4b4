#include "Connection.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "Catalog.h"
#include "DatabaseFile.h"
#include "MimerDatabase.h"
#include "Text.h"

namespace zusms::engine {

namespace {

// Enough for every text the store sends, and a bounded set of query shapes.
constexpr size_t kMaxCached = 256;

// Waiting for a lock another connection holds, up to kBusyTimeoutMs. SQLite's
// own wait sleeps longer and longer between tries (up to 100 ms), so among
// several processes writing steadily a waiter rarely looks while the lock
// is free, and one waited out the timeout while others wrote many times.
// Trying every millisecond or two gives every waiter its chance.
int BusyWait(void*, int count) {
  thread_local std::chrono::steady_clock::time_point started;
  const auto now = std::chrono::steady_clock::now();
  if (count == 0) started = now;
  if (now - started >= std::chrono::milliseconds(kBusyTimeoutMs)) return 0;
  std::this_thread::sleep_for(std::chrono::microseconds(count < 100 ? 500 : 2000));
  return 1;
}

std::atomic<uint64_t> g_generation{0};

// The values this thread drew last, one per sequence, on the connection of
// `generation`. Plain data: thread-local state has no destructor (see
// FixedText in Boundary.h for why).
struct DrawnValue {
  uint64_t generation;
  int64_t value;
  char sequence[kMaxSequenceName + 1];  // lower case, zero-terminated
};
thread_local DrawnValue t_drawn[8];
thread_local unsigned t_next_slot;
static_assert(std::is_trivially_destructible_v<decltype(t_drawn)>);

DrawnValue* FindDrawn(uint64_t generation, const std::string& lower) {
  for (DrawnValue& d : t_drawn) {
    if (d.generation == generation && lower == d.sequence) return &d;
  }
  return nullptr;
}

// Registered at any time, run under the connection's lock: kept apart from
// it, so that registering never waits for a thread that holds the connection.
std::mutex g_hooks_mutex;
std::vector<void (*)()>& LastCloseHooks() {
  static auto* hooks = new std::vector<void (*)()>();
  return *hooks;
}

bool EnvFlag(const char* name) {
  const char* v = std::getenv(name);
  return v && *v && std::strcmp(v, "0") != 0;
}

// Statistics of a table that had under 400 rows in every index analysed,
// rewritten as those of a 40-row table whose every key finds one row (the
// figures of one table must agree; see Release).
#define ZUSMS_FLOOR_STAT \
  "'40' || replace(hex(zeroblob(length(stat) - length(replace(stat, ' ', '')))), '00', ' 1')"
constexpr const char* kTinyStatistics =
    "UPDATE sqlite_stat1 SET stat = " ZUSMS_FLOOR_STAT
    " WHERE tbl IN (SELECT tbl FROM sqlite_stat1 GROUP BY tbl HAVING max(CAST(stat AS INTEGER)) < "
    "400) AND stat NOT GLOB '*[^0-9 ]*' AND stat <> " ZUSMS_FLOOR_STAT;
#undef ZUSMS_FLOOR_STAT

// An index that ANALYZE finds empty (the partial index of the change log's
// tombstones, until there are any) gets no row in sqlite_stat1, and PRAGMA
// optimize then analyses its table again at every close: a write and its
// syncs for every open. Such an index is given the figures of one row.
constexpr const char* kEmptyIndexStatistics =
    "INSERT INTO sqlite_stat1 (tbl, idx, stat) SELECT tbl_name, name, '1 1' FROM sqlite_schema s "
    "WHERE type = 'index' AND tbl_name IN (SELECT tbl FROM sqlite_stat1) AND NOT EXISTS (SELECT 1 "
    "FROM sqlite_stat1 WHERE tbl = s.tbl_name AND idx = s.name)";

}  // namespace

Connection& Connection::Default() {
  static Connection* connection = new Connection();  // lives as long as the process
  return *connection;
}

int Connection::Acquire(std::string* error) {
  if (shares_ > 0) {
    ++shares_;
    return SQLITE_OK;
  }
  const std::string path = DatabasePath(error);
  if (path.empty()) return SQLITE_CANTOPEN;
  DatabaseFile file;
  sqlite3* db = nullptr;
  if (const int rc = OpenFile(path, true, &file, &db, error); rc != SQLITE_OK) return rc;
  path_ = path;
  Adopt(db, file);
  shares_ = 1;
  generation_ = ++g_generation;
  return SQLITE_OK;
}

void Connection::Adopt(sqlite3* db, const DatabaseFile& file) {
  db_ = db;
  if (file.watched) watch_fd_ = OpenWatch(file.real);
  read_only_ = file.read_only;
  watched_ = file.watched;
  real_ = file.real;
  stamp_ = file.stamp;
}

int Connection::OpenFile(const std::string& path, bool create, DatabaseFile* file, sqlite3** db,
                         std::string* error) {
  // A reader that meets its owner's -wal and -shm files half made or half
  // gone (the owner opening or closing the store) tries again until the busy
  // timeout runs out.
  for (BusyRetry retry;;) {
    *file = DatabaseFile{};
    int rc = PrepareDatabaseFile(path, create, file, error);
    if (rc == SQLITE_OK) {
      rc = OpenWritable(*file, db, error);
      if (rc == SQLITE_BUSY && !*db) return rc;
      std::string what;
      const int setup = rc != SQLITE_OK ? rc : Setup(*db, file->read_only, &what);
      if (setup == SQLITE_OK) return SQLITE_OK;
      if (rc != SQLITE_OK) what = *db ? sqlite3_errmsg(*db) : sqlite3_errstr(rc);
      if (setup == SQLITE_READONLY_ROLLBACK) {
        what +=
            " (a journal beside it holds a transaction that its writer left unfinished;"
            " the owner's next open of the store rolls it back)";
      }
      *error = "cannot open " + path + ": " + what;
      sqlite3_close_v2(*db);
      *db = nullptr;
      rc = setup;
    }
    const int primary = rc & 0xFF;
    if (!file->read_only || (primary != SQLITE_BUSY && primary != SQLITE_CANTOPEN)) return rc;
    if (!retry.Again()) {
      if (primary == SQLITE_CANTOPEN) {
        *error +=
            " (a store this user cannot write is read through its owner's -wal and -shm "
            "files, which must be readable, and none is made for it)";
      }
      return rc;
    }
  }
}

void Connection::Unwatch() { CloseWatch(std::exchange(watch_fd_, -1)); }

void Connection::Hold(bool hold) {
  if (watch_fd_ >= 0 && depth_ == 0 && leases_ == 0) HoldWatch(watch_fd_, hold);
}

void Connection::Refresh() {
  if (!watched_ || depth_ > 0 || leases_ > 0) return;
  const FileStamp now = StampOf(real_);
  if (db_ && now == stamp_) return;
  cache_.clear();
  sqlite3_close_v2(db_);
  db_ = nullptr;
  Unwatch();
  // Gone (removed, or no longer readable): a reader makes no file in its place.
  if (now.inode == 0) {
    throw CMimerException::FromUtf8(
        "cannot read " + path_ + ": the store's file is gone or cannot be read any more",
        SQLITE_CANTOPEN);
  }
  DatabaseFile file;
  sqlite3* db = nullptr;
  std::string error;
  if (const int rc = OpenFile(path_, false, &file, &db, &error); rc != SQLITE_OK) {
    throw CMimerException::FromUtf8(error + " (opened again: its owner changed it)", rc);
  }
  Adopt(db, file);
}

int Connection::OpenWritable(const DatabaseFile& file, sqlite3** db, std::string* error) {
  // When the file cannot be opened for writing, SQLite quietly opens it
  // read-only: on Windows that happens while another program (a backup tool,
  // an indexer) holds the file without sharing write access. Such a
  // connection would refuse every change for as long as the process keeps
  // it. A file found writable before the open is tried again until the busy
  // timeout runs out, then refused with the reason.
  for (BusyRetry retry(std::chrono::milliseconds(10));;) {
    const int rc =
        sqlite3_open_v2(file.path.c_str(), db, file.open_flags | SQLITE_OPEN_NOMUTEX, file.vfs);
    if (rc != SQLITE_OK || file.read_only || sqlite3_db_readonly(*db, "main") != 1) {
      return rc;
    }
    sqlite3_close_v2(*db);
    *db = nullptr;
    if (!retry.Again()) {
      *error = "cannot open " + file.path +
               " for writing: another program holds the file without sharing write access"
               " (or the file cannot be written)";
      return SQLITE_BUSY;
    }
  }
}

int Connection::Setup(sqlite3* db, bool read_only, std::string* what) {
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_handler(db, &BusyWait, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_FKEY, 1, nullptr);

  // Read before writing anything: a file that is not a database fails here
  // and stays byte for byte as it was. Then WAL and the engine's catalog.
  // Opening a file that another process is creating or switching to WAL at
  // the same moment can report "locked" at once, past the busy handler, and
  // a reader of its owner's log is refused while the owner's connection
  // makes the log's index: those steps are tried again until the busy
  // timeout runs out.
  const char* sync = std::getenv("ZUSMS_SYNC");
  const bool normal = sync && EqualsNoCase(sync, "normal");
  // Deleted text is overwritten in the file, and triggers run recursively,
  // whatever options the linked SQLite was built with (Debian's has both on,
  // the amalgamation compiled into the Windows DLL neither). A read-only file
  // is read in the journal mode it has. Statement journals stay in memory
  // (docs/ARCHITECTURE.md, "The connection", says why and what bounds them).
  const std::string setup = std::string(read_only ? "" : "PRAGMA journal_mode=WAL; ") +
                            "PRAGMA synchronous=" + (normal ? "NORMAL" : "FULL") +
                            "; PRAGMA foreign_keys=ON; PRAGMA secure_delete=ON;"
                            " PRAGMA recursive_triggers=ON; PRAGMA temp_store=MEMORY;";
  for (BusyRetry retry;;) {
    int rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, setup.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      *what = sqlite3_errmsg(db);
    } else {
      try {
        EnsureCatalog(db);
      } catch (const CMimerException& e) {
        rc = e.Code() > 0 ? e.Code() : SQLITE_ERROR;
        *what = ToUtf8(e.Message());
      }
    }
    if (rc == SQLITE_OK) return SQLITE_OK;
    const int primary = rc & 0xFF;
    if ((primary != SQLITE_BUSY && primary != SQLITE_LOCKED && !LogIndexBeingMade(rc)) ||
        !retry.Again()) {
      return rc;
    }
  }
}

void Connection::Release() {
  if (shares_ == 0) return;
  if (--shares_ > 0) return;
  if (depth_ > 0) {
    // Closing inside a transaction ends it: what it did is rolled back.
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    EndTransaction();
  }
  // As SQLite recommends before closing: refresh the planner's statistics
  // where they are missing or stale, from a sample of each index, so that
  // this takes milliseconds on any size. Without waiting for the write lock
  // (the statistics can wait for the next close), and an error (a read-only
  // file) changes nothing.
  if (db_) {
    sqlite3_busy_timeout(db_, 0);
    sqlite3_exec(db_, "PRAGMA analysis_limit=400; PRAGMA optimize;", nullptr, nullptr, nullptr);
    // Statistics of a table of a few hundred rows say little about it grown:
    // "1 1" (one message of one user) made SQLite scan the heads for a user's
    // messages, and kept doing so long after the table had grown. They are
    // replaced by statistics of a 40-row table in which every key finds one
    // row, which favour the seeks the store's statements are made for, and
    // which PRAGMA optimize takes anew once the table has grown about 25-fold.
    sqlite3_exec(db_, kTinyStatistics, nullptr, nullptr, nullptr);
    sqlite3_exec(db_, kEmptyIndexStatistics, nullptr, nullptr, nullptr);
  }
  // A statement a command still holds is finalized when its lease ends;
  // sqlite3_close_v2 waits for that.
  cache_.clear();
  sqlite3_close_v2(db_);
  db_ = nullptr;
  watched_ = false;
  Unwatch();
  std::vector<void (*)()> hooks;
  {
    std::lock_guard lock(g_hooks_mutex);
    hooks = LastCloseHooks();
  }
  for (auto* fn : hooks) fn();
}

bool Connection::Abandoned() const { return depth_ > 0 && db_ && sqlite3_get_autocommit(db_) != 0; }

void Connection::RequireLiveTransaction() const {
  if (Abandoned()) {
    throw CMimerException(
        u"the batch failed and SQLite rolled it back, so nothing of it is stored; end it with "
        u"CommitZuSmsBatch or RollbackZuSmsBatch",
        -1);
  }
}

void Connection::EndTransaction() {
  owner_ = std::thread::id();  // before the mutex is free for another owner
  const int depth = std::exchange(depth_, 0);
  changes_at_.clear();
  Hold(false);
  for (int i = 0; i < depth; ++i) mutex_.unlock();
}

void Connection::RequireOwner(const char16_t* what) const {
  if (owner_.load() != std::this_thread::get_id()) {
    throw CMimerException(std::u16string(what) +
                              u" without a transaction of this thread (a batch ends on the "
                              u"thread that began it)",
                          -1);
  }
}

void Connection::Begin(bool write) {
  mutex_.lock();
  try {
    if (depth_ == 0) Refresh();
    if (!db_) throw CMimerException(u"the database is not open", -1);
    // A batch that SQLite rolled back runs nothing more until it is ended.
    RequireLiveTransaction();
    // A read-only store's batch only reads: it takes no write lock.
    if (depth_ == 0) {
      Hold(true);
      Exec(db_, read_only_ || !write ? "BEGIN" : "BEGIN IMMEDIATE");
    }
  } catch (...) {
    Hold(false);
    mutex_.unlock();
    throw;
  }
  if (++depth_ == 1) owner_ = std::this_thread::get_id();
  changes_at_.push_back(sqlite3_total_changes64(db_));
}

void Connection::Commit() {
  // Another thread's transaction is not waited for: it is not this one's to end.
  RequireOwner(u"commit");
  std::lock_guard check(mutex_);
  if (Abandoned()) {
    // SQLite ended the transaction after a failure inside it: the batch
    // ends here, and the connection is free again.
    EndTransaction();
    throw CMimerException(u"the batch failed and SQLite rolled it back, so nothing of it is stored",
                          -1);
  }
  if (depth_ == 1 && db_) {
    try {
      Exec(db_, "COMMIT");
    } catch (...) {
      // What could not be committed is rolled back whole, never left half.
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      EndTransaction();
      throw;
    }
  }
  if (depth_ == 1) owner_ = std::thread::id();
  changes_at_.pop_back();
  if (--depth_ == 0) Hold(false);
  mutex_.unlock();
}

void Connection::Leave() {
  RequireOwner(u"rollback");
  std::lock_guard check(mutex_);
  if (depth_ <= 1) return Rollback();
  // A call inside the caller's batch gives up: what it wrote cannot be taken
  // back alone, so the batch is rolled back and stays failed until the
  // caller ends it; a call that wrote nothing leaves the batch as it was.
  if (db_ && sqlite3_total_changes64(db_) != changes_at_.back()) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  changes_at_.pop_back();
  --depth_;
  mutex_.unlock();
}

void Connection::Rollback() {
  RequireOwner(u"rollback");
  std::lock_guard check(mutex_);
  // Harmless when SQLite already rolled the transaction back.
  if (db_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  EndTransaction();
}

void Connection::AtLastClose(void (*fn)()) {
  std::lock_guard lock(g_hooks_mutex);
  LastCloseHooks().push_back(fn);
}

void Connection::RequireWritable() const {
  if (read_only_) {
    throw CMimerException(u"the store is read-only: its file cannot be written", SQLITE_READONLY);
  }
}

void Connection::EnsureUser(int32_t user) {
  if (EnvFlag("ZUSMS_EXTERNAL_USERS")) return;
  if (TableExists(db_, "tbl_zu_user")) {
    Query q(db_, "SELECT 1 FROM tbl_zu_user WHERE id = ?");
    if (q.Bind(1, user).Step()) return;
  }
  if (read_only_) {
    throw CMimerException::Engine("the store is read-only and has no user " + std::to_string(user));
  }
  auto add = [&] {
    Exec(db_, "CREATE TABLE IF NOT EXISTS tbl_zu_user (id INTEGER PRIMARY KEY)");
    Query q(db_, "INSERT OR IGNORE INTO tbl_zu_user (id) VALUES (?)");
    q.Bind(1, user).Step();
  };
  if (depth_ > 0) {
    // Inside the caller's transaction (a store opened during a batch).
    Savepoint savepoint(db_);
    add();
    savepoint.Release();
    return;
  }
  Exec(db_, "BEGIN IMMEDIATE");
  try {
    add();
    Exec(db_, "COMMIT");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

std::shared_ptr<Prepared> Connection::Prepare(const std::u16string& text, bool limited) {
  Statement s = Parse(text);
  auto p = std::make_shared<Prepared>();
  p->kind = s.kind;
  std::string sql;
  switch (s.kind) {
    case StatementKind::kSelect:
      sql = s.sql;
      if (limited) {
        sql += " limit ?";
        p->limited = true;
      }
      break;
    case StatementKind::kUpdate:
    case StatementKind::kDelete:
      sql = s.sql;
      break;
    case StatementKind::kInsert: {
      std::string columns = JoinNames(s.insert_columns), values = s.sql, returning;
      if (!s.insert_columns.empty()) {
        for (const auto& d : SequenceDefaults(db_, s.name)) {
          bool named = false;
          for (const auto& c : s.insert_columns) named = named || EqualsNoCase(c, d.column);
          if (named) continue;
          if (!p->sequence.empty()) {
            throw CMimerException::FromUtf8(
                "table " + s.name + " draws more than one column from a sequence", -1);
          }
          columns = QuoteIdent(d.column) + ", " + columns;
          values = "(SELECT next FROM mimer_sequences WHERE name = " + QuoteLiteral(d.sequence) +
                   "), " + values;
          returning = " RETURNING " + QuoteIdent(d.column);
          p->sequence = d.sequence;
        }
      }
      sql = "insert into " + QuoteIdent(s.name) + (columns.empty() ? "" : " (" + columns + ")") +
            " values (" + values + ")" + returning;
      break;
    }
    case StatementKind::kExecuteStatement: {
      StoredBody body = StoredStatement(db_, s.name);
      p->sequence = body.sequence;
      p->next = body.next;
      return p;
    }
    case StatementKind::kCreateDatabank:
    case StatementKind::kCreateSequence:
    case StatementKind::kCreateStatement:
    case StatementKind::kCreateTable:
    case StatementKind::kCreateIndex:
    case StatementKind::kDropDatabank:
      p->definition = std::make_unique<Statement>(std::move(s));
      return p;
  }
  sqlite3_stmt* stmt = nullptr;
  const int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                                    SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
  p->stmt.reset(stmt);
  if (rc != SQLITE_OK) {
    throw CMimerException::FromUtf8(sqlite3_errmsg(db_) + (" (in: " + ToUtf8(text) + ")"), rc);
  }
  return p;
}

Lease::Lease(std::shared_ptr<Prepared> prepared, Connection* owner)
    : prepared_(std::move(prepared)), owner_(owner) {
  prepared_->in_use = true;
  owner_->Hold(true);  // the first lease outside a transaction begins a read
  ++owner_->leases_;
}

Lease& Lease::operator=(Lease&& other) noexcept {
  if (this != &other) {
    Reset();
    prepared_ = std::move(other.prepared_);
    owner_ = other.owner_;
  }
  return *this;
}

void Lease::Reset() noexcept {
  if (!prepared_) return;
  if (sqlite3_stmt* stmt = prepared_->stmt.get()) {
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
  }
  prepared_->in_use = false;
  prepared_.reset();
  --owner_->leases_;
  owner_->Hold(false);
}

Lease Connection::Take(const char16_t* text, bool limited) {
  Refresh();
  if (!db_) throw CMimerException(u"the database is not open", -1);
  std::u16string key(text);
  // A limited select is another statement: a mark no text can hold keys it.
  if (limited) key += u'\0';
  auto it = cache_.find(key);
  if (it != cache_.end() && !it->second->in_use) return Lease(it->second, this);
  std::shared_ptr<Prepared> p = Prepare(text, limited);
  // Definitions change the schema and are rare: never cached.
  if (it == cache_.end() && !p->definition) {
    if (cache_.size() >= kMaxCached) {
      std::erase_if(cache_, [](const auto& entry) { return !entry.second->in_use; });
    }
    cache_.emplace(std::move(key), p);
  }
  return Lease(std::move(p), this);
}

void Connection::NoteDrawn(const std::string& sequence, int64_t value) {
  const std::string lower = Lower(sequence);
  if (lower.size() > kMaxSequenceName) return;  // refused when created
  DrawnValue* d = FindDrawn(generation_, lower);
  if (!d) {
    // A slot of an older connection, else the next in turn.
    for (DrawnValue& slot : t_drawn) {
      if (slot.generation != generation_) d = &slot;
    }
    if (!d) d = &t_drawn[t_next_slot++ % std::size(t_drawn)];
    d->generation = generation_;
    lower.copy(d->sequence, lower.size());
    d->sequence[lower.size()] = '\0';
  }
  d->value = value;
}

int64_t Connection::CurrentValue(const std::string& sequence) const {
  if (const DrawnValue* d = FindDrawn(generation_, Lower(sequence))) return d->value;
  throw CMimerException::FromUtf8(
      "current_value of " + sequence + ": no value was drawn by this thread on this connection",
      -1);
}

}  // namespace zusms::engine
