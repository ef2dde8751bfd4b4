// The process's SQLite connection, its statement cache and its lock.
#ifndef ZUSMS_ENGINE_CONNECTION_H_
#define ZUSMS_ENGINE_CONNECTION_H_

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "DatabaseFile.h"
#include "Dialect.h"

namespace zusms::engine {

struct StatementFinalizer {
  void operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }
};
// A prepared SQLite statement, finalized when its owner lets it go.
using StatementHandle = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// One statement text, translated and prepared. Leased by one command at a
// time; a text that is already leased gets an extra, uncached copy.
struct Prepared {
  StatementKind kind = StatementKind::kSelect;
  StatementHandle stmt;                   // data statements
  std::string sequence;                   // insert: the sequence it draws from;
                                          // execute statement: the sequence it reads
  bool next = false;                      // execute statement: draws rather than reads
  bool limited = false;                   // a select ending in "limit ?", bound by the command
  std::unique_ptr<Statement> definition;  // carried out by the catalog
  bool in_use = false;
  // Result column names in lower case, read once; lookups start at the hint
  // (row mappers read the columns in order, so it is usually right).
  std::vector<std::string> columns;
  std::vector<std::string> names;  // as the result names them, for the exact match first
  size_t column_hint = 0;
};

// A command's hold on a prepared statement. Ending the lease resets the
// statement and gives it back to the cache; a statement the cache no longer
// holds (the connection closed, or an extra copy) is finalized with it.
class Lease {
 public:
  Lease() = default;
  // Counted by `owner` (see Connection::Refresh).
  Lease(std::shared_ptr<Prepared> prepared, class Connection* owner);
  Lease(Lease&& other) noexcept = default;
  Lease& operator=(Lease&& other) noexcept;
  ~Lease() { Reset(); }

  void Reset() noexcept;
  explicit operator bool() const { return prepared_ != nullptr; }
  Prepared* operator->() const { return prepared_.get(); }
  Prepared& operator*() const { return *prepared_; }
  Prepared* get() const { return prepared_.get(); }

 private:
  std::shared_ptr<Prepared> prepared_;
  class Connection* owner_ = nullptr;
};

// How long a connection waits for what another one holds: a lock, or files
// of the owner's that are half made.
constexpr int kBusyTimeoutMs = 5000;

// Whether SQLite refused a read (extended code) because another connection
// is making or recovering the log's index, which a reader that cannot write
// the shared memory waits for: the same read succeeds a moment later.
inline bool LogIndexBeingMade(int code) {
  return code == SQLITE_READONLY_RECOVERY || code == SQLITE_READONLY_CANTINIT;
}

// Trying a step again, as a lock is waited for, until the busy timeout runs
// out: `Again` pauses a few milliseconds (1 to 10 times `unit`, round after
// round, so that several waiters do not try in step) and says whether
// another try is due.
//
//   for (BusyRetry retry;;) { if (Try() || !retry.Again()) break; }
class BusyRetry {
 public:
  explicit BusyRetry(std::chrono::milliseconds unit = std::chrono::milliseconds(1))
      : unit_(unit),
        deadline_(std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs)) {}
  bool Again() {
    if (std::chrono::steady_clock::now() >= deadline_) return false;
    std::this_thread::sleep_for(unit_ * (1 + attempt_++ % 10));
    return true;
  }

 private:
  std::chrono::milliseconds unit_;
  std::chrono::steady_clock::time_point deadline_;
  int attempt_ = 0;
};

// The rows a query stands on; shared by the command and its record sets.
// Borrows the command's statement: the command clears `stmt` before its lease
// ends.
struct Cursor {
  sqlite3_stmt* stmt = nullptr;  // null once the command let the statement go
  Prepared* prepared = nullptr;
  bool has_row = false;
};

class Connection {
 public:
  static Connection& Default();

  // Held from InitCommand to UninitCommand, and across a batch.
  std::recursive_mutex& Mutex() { return mutex_; }

  // The calls below expect the caller to hold Mutex().

  // Takes one share, opening the file for the first. Returns SQLITE_OK or the
  // failure's code with *error set; a failure leaves the file untouched.
  int Acquire(std::string* error);
  // Gives one share back; the last closes the file.
  void Release();
  bool IsOpen() const { return db_ != nullptr; }
  // The file could not be written when it was opened: reads only.
  bool ReadOnly() const { return read_only_; }
  // Raises "read-only" when the open file cannot be written.
  void RequireWritable() const;
  sqlite3* Db() const { return db_; }
  int Shares() const { return shares_; }

  // Adds the user's row to tbl_zu_user (created if missing) unless users are
  // left to an outside program (ZUSMS_EXTERNAL_USERS=1). On a read-only file
  // the row must be there already.
  void EnsureUser(int32_t user);

  // Raises on a statement outside the dialect or one SQLite refuses.
  // `limited`: a select gets a last marker that bounds the rows it returns.
  Lease Take(const char16_t* text, bool limited);

  // The calling thread's transaction (see CMimerDatabase::BeginTransaction).
  // Begin takes the mutex, which Commit and Rollback give back. Commit and
  // Rollback on a thread that does not own the transaction raise at once.
  // Once SQLite has ended a transaction on its own (a full disk, an I/O
  // error), every operation raises until Commit (which raises and ends it)
  // or Rollback (which ends it) is called.
  // Rollback ends every level. Leave ends the innermost level without
  // committing it (a call inside the caller's batch that gives up): at the
  // outermost level it is Rollback; inside, when the level wrote nothing the
  // batch goes on as before, and when it wrote, the whole batch is rolled
  // back and raises as above until ended, so that nothing the caller does
  // after it is stored outside the batch.
  // `write` false: a deferred BEGIN, holding only the read lock until the
  // transaction writes.
  void Begin(bool write = true);
  void Commit();
  void Rollback();
  void Leave();
  int TransactionDepth() const { return depth_; }
  // Raises when the transaction the caller runs in was rolled back by SQLite.
  void RequireLiveTransaction() const;

  // Runs `fn` each time the last share is given back and the file closes.
  // Takes a lock of its own, never the connection's: safe to call anywhere.
  static void AtLastClose(void (*fn)());

  // The value this thread drew last from a sequence on this connection.
  void NoteDrawn(const std::string& sequence, int64_t value);
  int64_t CurrentValue(const std::string& sequence) const;

 private:
  Connection() = default;
  std::shared_ptr<Prepared> Prepare(const std::u16string& text, bool limited);
  // Opens the file at `path` (created when missing and `create`).
  int OpenFile(const std::string& path, bool create, struct DatabaseFile* file, sqlite3** db,
               std::string* error);
  void Adopt(sqlite3* db, const struct DatabaseFile& file);
  // Before a read transaction of a file read as unchanging: opens it again
  // when its owner changed it (a commit, a checkpoint, a -wal file beside it,
  // another file in its place), so that no read serves what the file held
  // before. Not while a statement is leased or a transaction is open.
  void Refresh();
  // A read transaction of a watched file begins or ends: holds or lets go
  // the lock that keeps the owner's last close from writing the file.
  void Hold(bool hold);
  void Unwatch();
  friend class Lease;
  int OpenWritable(const struct DatabaseFile& file, sqlite3** db, std::string* error);
  int Setup(sqlite3* db, bool read_only, std::string* what);
  bool Abandoned() const;
  void EndTransaction();
  void RequireOwner(const char16_t* what) const;

  std::recursive_mutex mutex_;
  sqlite3* db_ = nullptr;
  int shares_ = 0;
  bool read_only_ = false;
  std::string path_;      // as the store names it, to open it again
  bool watched_ = false;  // read as unchanging: Refresh compares the stamp
  std::string real_;
  FileStamp stamp_;
  int leases_ = 0;  // statements leased out
  int watch_fd_ = -1;
  uint64_t generation_ = 0;
  int depth_ = 0;                          // nesting of the transaction the mutex's owner runs
  std::vector<sqlite3_int64> changes_at_;  // sqlite3_total_changes64 when each level began
  std::atomic<std::thread::id> owner_{};   // the thread whose transaction is open
  std::unordered_map<std::u16string, std::shared_ptr<Prepared>> cache_;
};

}  // namespace zusms::engine

#endif  // ZUSMS_ENGINE_CONNECTION_H_
