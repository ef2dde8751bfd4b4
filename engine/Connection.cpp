#include "Connection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "Catalog.h"
#include "MimerDatabase.h"
#include "Text.h"

namespace zusms::engine {

namespace {

// Enough for every text the store sends, and a bounded set of query shapes.
constexpr size_t kMaxCached = 256;
constexpr int kBusyTimeoutMs = 5000;

std::atomic<uint64_t> g_generation{0};

struct DrawnValues {
  uint64_t generation = 0;
  std::unordered_map<std::string, int64_t> values;
};
thread_local DrawnValues t_drawn;

std::vector<void (*)()>& LastCloseHooks() {
  static auto* hooks = new std::vector<void (*)()>();
  return *hooks;
}

bool EnvFlag(const char* name) {
  const char* v = std::getenv(name);
  return v && *v && std::strcmp(v, "0") != 0;
}

// Creates every missing folder of `dir` with mode 0700.
bool MakeDirs(const std::string& dir, std::string* error) {
  std::string path;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    path = dir.substr(0, pos);
    if (path.empty()) continue;
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
      *error = "cannot create folder " + path + ": " + std::strerror(errno);
      return false;
    }
  }
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = dir + " is not a folder";
    return false;
  }
  return true;
}

// A database file whose header says it holds more pages than the file has
// was cut short (a partial copy, a full disk): SQLite would read the missing
// pages as corruption later, one operation at a time. Refused whole here.
int CheckHeader(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return SQLITE_OK;  // SQLite says why
  struct stat st {};
  unsigned char header[100];
  const bool read_all = fstat(fd, &st) == 0 && ::read(fd, header, sizeof header) == sizeof header;
  ::close(fd);
  if (st.st_size == 0) return SQLITE_OK;  // a new, empty database
  if (!read_all || std::memcmp(header, "SQLite format 3", 16) != 0) {
    *error = "file is not a database";
    return SQLITE_NOTADB;
  }
  const uint32_t page_size =
      (header[16] << 8 | header[17]) == 1 ? 65536u : (header[16] << 8 | header[17]);
  auto be32 = [&](int at) {
    return static_cast<uint32_t>(header[at]) << 24 | static_cast<uint32_t>(header[at + 1]) << 16 |
           static_cast<uint32_t>(header[at + 2]) << 8 | header[at + 3];
  };
  const bool size_valid = be32(92) == be32(24);
  const uint64_t needed = static_cast<uint64_t>(be32(28)) * page_size;
  if (size_valid && static_cast<uint64_t>(st.st_size) < needed) {
    *error = "the database file is truncated: it holds " + std::to_string(st.st_size) +
             " bytes of the " + std::to_string(needed) + " its header records";
    return SQLITE_CORRUPT;
  }
  return SQLITE_OK;
}

}  // namespace

std::string DatabasePath(std::string* error) {
  if (const char* env = std::getenv("ZUSMS_DB"); env && *env) return env;
  std::string dir;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
    dir = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    dir = std::string(home) + "/.local/share";
  } else {
    *error = "neither ZUSMS_DB nor HOME is set";
    return {};
  }
  dir += "/zusms";
  if (!MakeDirs(dir, error)) return {};
  return dir + "/zuSms.dbf";
}

Connection& Connection::Default() {
  static Connection* connection = new Connection();  // lives as long as the process
  return *connection;
}

int Connection::Acquire(std::string* error) {
  if (db_) {
    ++shares_;
    return SQLITE_OK;
  }
  std::string path = DatabasePath(error);
  if (path.empty()) return SQLITE_CANTOPEN;
  // A new file is the owner's alone; SQLite gives its -wal and -shm files the
  // same mode.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) ::close(fd);
  if (const int rc = CheckHeader(path, error); rc != SQLITE_OK) {
    *error = "cannot open " + path + ": " + *error;
    return rc;
  }

  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(
      path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  auto fail = [&](int code, const std::string& what) {
    *error = "cannot open " + path + ": " + what;
    sqlite3_close_v2(db);
    return code;
  };
  if (rc != SQLITE_OK) return fail(rc, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_FKEY, 1, nullptr);

  // Read before writing anything: a file that is not a database fails here
  // and stays byte for byte as it was. Then WAL and the engine's catalog.
  // Opening a file that another process is creating or switching to WAL at
  // the same moment can report "locked" at once, past the busy handler:
  // those steps are tried again until the busy timeout runs out.
  const char* sync = std::getenv("ZUSMS_SYNC");
  const bool normal = sync && EqualsNoCase(sync, "normal");
  const std::string setup = std::string("PRAGMA journal_mode=WAL; PRAGMA synchronous=") +
                            (normal ? "NORMAL" : "FULL") + "; PRAGMA foreign_keys=ON;";
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  for (int attempt = 0;; ++attempt) {
    std::string what;
    rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, setup.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      what = sqlite3_errmsg(db);
    } else {
      try {
        EnsureCatalog(db);
      } catch (const CMimerException& e) {
        rc = e.Code() > 0 ? e.Code() : SQLITE_ERROR;
        what = ToUtf8(e.Message());
      }
    }
    if (rc == SQLITE_OK) break;
    const int primary = rc & 0xFF;
    if ((primary != SQLITE_BUSY && primary != SQLITE_LOCKED) ||
        std::chrono::steady_clock::now() >= deadline) {
      return fail(rc, what);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1 + attempt % 10));
  }
  db_ = db;
  shares_ = 1;
  generation_ = ++g_generation;
  return SQLITE_OK;
}

void Connection::Release() {
  if (shares_ == 0) return;
  if (--shares_ > 0) return;
  if (depth_ > 0) {
    // Closing inside a transaction ends it: what it did is rolled back.
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    for (; depth_ > 0; --depth_) mutex_.unlock();
  }
  // As SQLite recommends before closing: refresh the planner's statistics
  // where they are missing or stale, from a sample of each index, so that
  // this takes milliseconds on any size. Without waiting for the write lock
  // (the statistics can wait for the next close), and an error (a read-only
  // file) changes nothing.
  sqlite3_busy_timeout(db_, 0);
  sqlite3_exec(db_, "PRAGMA analysis_limit=400; PRAGMA optimize;", nullptr, nullptr, nullptr);
  FinalizeAll();
  sqlite3_close_v2(db_);
  db_ = nullptr;
  for (auto* fn : LastCloseHooks()) fn();
}

void Connection::Begin() {
  mutex_.lock();
  try {
    if (!db_) throw CMimerException(u"the database is not open", -1);
    if (depth_ == 0) Exec(db_, "BEGIN IMMEDIATE");
  } catch (...) {
    mutex_.unlock();
    throw;
  }
  ++depth_;
}

void Connection::Commit() {
  std::lock_guard check(mutex_);  // only the owner gets past while it runs
  if (depth_ == 0) throw CMimerException(u"commit without a transaction", -1);
  if (depth_ == 1 && db_) {
    try {
      Exec(db_, "COMMIT");
    } catch (...) {
      // What could not be committed is rolled back whole, never left half.
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      depth_ = 0;
      mutex_.unlock();
      throw;
    }
  }
  --depth_;
  mutex_.unlock();
}

void Connection::Rollback() {
  std::lock_guard check(mutex_);
  if (depth_ == 0) throw CMimerException(u"rollback without a transaction", -1);
  if (db_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  for (; depth_ > 0; --depth_) mutex_.unlock();
}

void Connection::AtLastClose(void (*fn)()) {
  std::lock_guard lock(Default().Mutex());
  LastCloseHooks().push_back(fn);
}

void Connection::FinalizeAll() {
  for (auto it = cache_.begin(); it != cache_.end();) {
    if (it->second->in_use) {
      // Its command still holds it: it is finalized when given back.
      it->second->cached = false;
      it->second.release();
    } else {
      sqlite3_finalize(it->second->stmt);
    }
    it = cache_.erase(it);
  }
}

void Connection::EnsureUser(int32_t user) {
  if (EnvFlag("ZUSMS_EXTERNAL_USERS")) return;
  if (TableExists(db_, "tbl_zu_user")) {
    Query q(db_, "SELECT 1 FROM tbl_zu_user WHERE id = ?");
    if (q.Bind(1, user).Step()) return;
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

std::unique_ptr<Prepared> Connection::Prepare(const std::u16string& text, bool limited) {
  Statement s = Parse(text);
  auto p = std::make_unique<Prepared>();
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
      std::string columns, values = s.sql, returning;
      for (const auto& c : s.insert_columns) {
        columns += (columns.empty() ? "" : ", ") + QuoteIdent(c);
      }
      if (!s.insert_columns.empty()) {
        for (const auto& d : SequenceDefaults(db_, s.name)) {
          bool named = false;
          for (const auto& c : s.insert_columns) named = named || EqualsNoCase(c, d.column);
          if (named) continue;
          if (!p->sequence.empty()) {
            throw CMimerException::FromUtf8(
                "table " + s.name + " draws more than one column from a sequence", -1);
          }
          std::string seq = d.sequence;
          std::string literal = "'";
          for (char ch : seq) literal += ch == '\'' ? std::string("''") : std::string(1, ch);
          literal += "'";
          columns = QuoteIdent(d.column) + ", " + columns;
          values = "(SELECT next FROM mimer_sequences WHERE name = " + literal + "), " + values;
          returning = " RETURNING " + QuoteIdent(d.column);
          p->sequence = seq;
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
  int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                              SQLITE_PREPARE_PERSISTENT, &p->stmt, nullptr);
  if (rc != SQLITE_OK) {
    std::string message = sqlite3_errmsg(db_);
    sqlite3_finalize(p->stmt);
    throw CMimerException::FromUtf8(message + " (in: " + ToUtf8(text) + ")", rc);
  }
  return p;
}

Prepared* Connection::Lease(const char16_t* text, bool limited) {
  if (!db_) throw CMimerException(u"the database is not open", -1);
  std::u16string key(text);
  // A limited select is another statement: a mark no text can hold keys it.
  if (limited) key += u'\0';
  auto it = cache_.find(key);
  if (it != cache_.end() && !it->second->in_use) {
    it->second->in_use = true;
    return it->second.get();
  }
  std::unique_ptr<Prepared> p = Prepare(text, limited);
  p->in_use = true;
  // Definitions change the schema and are rare: never cached.
  if (it == cache_.end() && !p->definition) {
    if (cache_.size() >= kMaxCached) {
      for (auto i = cache_.begin(); i != cache_.end();) {
        if (i->second->in_use) {
          ++i;
        } else {
          sqlite3_finalize(i->second->stmt);
          i = cache_.erase(i);
        }
      }
    }
    p->cached = true;
    Prepared* raw = p.get();
    cache_.emplace(std::move(key), std::move(p));
    return raw;
  }
  return p.release();
}

void Connection::Return(Prepared* p) {
  if (!p) return;
  if (p->stmt) {
    sqlite3_reset(p->stmt);
    sqlite3_clear_bindings(p->stmt);
  }
  p->in_use = false;
  if (!p->cached) {
    sqlite3_finalize(p->stmt);
    delete p;
  }
}

void Connection::NoteDrawn(const std::string& sequence, int64_t value) {
  if (t_drawn.generation != generation_) {
    t_drawn.values.clear();
    t_drawn.generation = generation_;
  }
  t_drawn.values[Lower(sequence)] = value;
}

int64_t Connection::CurrentValue(const std::string& sequence) const {
  if (t_drawn.generation == generation_) {
    auto it = t_drawn.values.find(Lower(sequence));
    if (it != t_drawn.values.end()) return it->second;
  }
  throw CMimerException::FromUtf8(
      "current_value of " + sequence + ": no value was drawn by this thread on this connection",
      -1);
}

}  // namespace zusms::engine
