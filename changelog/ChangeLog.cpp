#include "ChangeLog.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "Catalog.h"
#include "Connection.h"
#include "MimerDatabase.h"
#include "Text.h"

namespace zusms::engine {
namespace {

constexpr int kCounterBits = 40;
constexpr uint64_t kCounterMask = (uint64_t{1} << kCounterBits) - 1;
// A page token of a pass from the beginning carries, in place of the epoch,
// the epoch XOR this bit and the number of prunes made before the pass began
// (kept modulo 2^23).
constexpr uint64_t kPassBit = uint64_t{1} << 23;
constexpr uint64_t kPruneCountMask = kPassBit - 1;

// `uuid` holds the key column's bytes: the name is the file's, kept so that
// the logs already written stay whole (a log made anew sends every partner
// back to a full listing).
constexpr const char* kLogTable =
    "CREATE TABLE zu_changes (seq INTEGER PRIMARY KEY, UserID INTEGER, family "
    "INTEGER NOT NULL, id INTEGER NOT NULL, uuid BLOB, kind INTEGER NOT NULL, deleted TEXT)";
// The listings read the table in sequence order (its rowid) from the
// partner's token: an index by user would cost every change two more pages
// written, to spare a poll reading other users' changes since its token.
constexpr const char* kLogIndexes[] = {
    // The record's entry, found by the triggers.
    "CREATE INDEX zu_changes_record ON zu_changes (family, id, UserID)",
    // Tombstones by deletion time, for pruning without reading the log.
    "CREATE INDEX zu_changes_deleted ON zu_changes (deleted) WHERE deleted IS NOT NULL",
};
// `prunes` counts the prunes that removed anything; a log made before it
// existed gets it by ALTER TABLE, which writes exactly this definition.
constexpr const char* kStateTable =
    "CREATE TABLE zu_change_state (epoch INTEGER NOT NULL, pruned INTEGER NOT NULL, prunes "
    "INTEGER NOT NULL DEFAULT 0)";
constexpr const char* kStateTableWithoutPrunes =
    "CREATE TABLE zu_change_state (epoch INTEGER NOT NULL, pruned INTEGER NOT NULL)";

std::string Quote(const char* name) { return QuoteIdent(name); }

// The statements that bring the log entry of the row `row` (NEW or OLD) of
// family `f` up to date: insert the new entry, then delete the older ones.
// In this order the newest entry of the log is never gone when the next
// number is drawn, and the newest entry is the counter: SQLite draws a new
// `seq` one above the table's last row (a prune that removes the newest
// entry leaves a marker in its place). No counter of its own to keep costs
// each statement nothing: AUTOINCREMENT read and rewrote sqlite_sequence in
// every statement that wrote an entry, and its counter could lag the
// entries (SQLite does not store it when another program's statement stops
// part-way under OR FAIL, while the entries of the rows changed before the
// stop stay). `others` also
// deletes the entries that list another user's record under the id as
// present (Replaced gave them their tombstones just before).
//
// No statement's plan may depend on the statistics the file holds: the new
// entry's number is last_insert_rowid() (a trigger's own insert sets it), not
// max(seq), which statistics taken on a small log turn into a scan of the
// record index; the unary + keeps the number out of the search, so the
// record index (family, id, ...) is the only way to the entries.
std::string Entry(const CMimerTrackedTable& t, const std::string& row, int kind,
                  bool others = false) {
  const std::string f = std::to_string(t.family);
  const std::string uuid = t.key_column ? row + "." + Quote(t.key_column) : "NULL";
  std::string out = "INSERT INTO zu_changes (UserID, family, id, uuid, kind, deleted) VALUES (" +
                    row + ".UserID, " + f + ", " + row + ".id, " + uuid + ", " +
                    std::to_string(kind) + ", " + (kind == 2 ? "datetime('now')" : "NULL") + "); ";
  const std::string user = "UserID IS " + row + ".UserID";
  out += "DELETE FROM zu_changes WHERE family = " + f + " AND id = " + row +
         ".id AND +seq < last_insert_rowid() AND " +
         (others ? "(" + user + " OR kind = 1)" : user) + "; ";
  return out;
}

// The entries that list another user's record under NEW's id as present.
std::string Others(const CMimerTrackedTable& t) {
  return " WHERE family = " + std::to_string(t.family) +
         " AND id = NEW.id AND kind = 1 AND UserID IS NOT NEW.UserID";
}

// A row of another user with NEW's id that the log still lists as present
// vanished without a delete (INSERT OR REPLACE, UPDATE OR REPLACE: SQLite
// runs no delete trigger for the row it replaces, unless recursive triggers
// are on): it gets its tombstone.
std::string Tombstones(const CMimerTrackedTable& t) {
  return "INSERT INTO zu_changes (UserID, family, id, uuid, kind, deleted) SELECT UserID, "
         "family, id, uuid, 2, datetime('now') FROM zu_changes" +
         Others(t) + "; ";
}

// The tombstones, then NEW its entry, which takes the replaced entry with
// the older ones.
std::string Replaced(const CMimerTrackedTable& t) {
  return Tombstones(t) + Entry(t, "NEW", 1, true);
}

// Every object of the log as this version creates it, by name.
std::map<std::string, std::string> Objects(std::span<const CMimerTrackedTable> tables) {
  std::map<std::string, std::string> out;
  out["zu_changes"] = kLogTable;
  out["zu_change_state"] = kStateTable;
  for (const char* index : kLogIndexes) {
    const char* name = std::strstr(index, "zu_changes_");
    out[std::string(name, std::strcspn(name, " "))] = index;
  }
  for (const auto& t : tables) {
    const std::string prefix = std::string("zu_changes_") + t.table + "_";
    const std::string on = Quote(t.table);
    out[prefix + "insert"] = "CREATE TRIGGER " + Quote((prefix + "insert").c_str()) +
                             " AFTER INSERT ON " + on + " BEGIN " + Entry(t, "NEW", 1) + "END";
    // The replaced-row check of an insert, in a trigger of its own that
    // runs only when there is a row to replace: the check's INSERT reads
    // the table it writes, which costs SQLite a temporary table on every
    // run, found or not. It and the insert trigger touch the entries of
    // different users, so either may run first.
    out[prefix + "replaced"] = "CREATE TRIGGER " + Quote((prefix + "replaced").c_str()) +
                               " AFTER INSERT ON " + on + " WHEN EXISTS (SELECT 1 FROM zu_changes" +
                               Others(t) + ") BEGIN " + Tombstones(t) + "DELETE FROM zu_changes" +
                               Others(t) + " AND +seq < last_insert_rowid(); END";
    out[prefix + "update"] =
        "CREATE TRIGGER " + Quote((prefix + "update").c_str()) + " AFTER UPDATE ON " + on +
        " WHEN OLD.id IS NEW.id AND OLD.UserID IS NEW.UserID BEGIN " + Entry(t, "NEW", 1) + "END";
    // A row that changes its id or user: the old one is gone for its user.
    out[prefix + "rekey"] = "CREATE TRIGGER " + Quote((prefix + "rekey").c_str()) +
                            " AFTER UPDATE ON " + on +
                            " WHEN OLD.id IS NOT NEW.id OR OLD.UserID IS NOT NEW.UserID BEGIN " +
                            Entry(t, "OLD", 2) + Replaced(t) + "END";
    out[prefix + "delete"] = "CREATE TRIGGER " + Quote((prefix + "delete").c_str()) +
                             " AFTER DELETE ON " + on + " BEGIN " + Entry(t, "OLD", 2) + "END";
  }
  return out;
}

bool ReadOnly(sqlite3* db) { return sqlite3_db_readonly(db, "main") == 1; }

// The log's objects as the file holds them, by name.
std::map<std::string, std::string> FoundObjects(sqlite3* db) {
  std::map<std::string, std::string> found;
  Query q(db,
          "SELECT name, sql FROM sqlite_schema WHERE name = 'zu_changes' OR name = "
          "'zu_change_state' OR name LIKE 'zu\\_changes\\_%' ESCAPE '\\'");
  while (q.Step()) found[q.Text(0)] = q.Text(1);
  return found;
}

// True when the file holds the log exactly as `wanted` describes it, with
// its one state row. A log whose state row another program removed (or
// doubled) serves no token.
bool Matches(sqlite3* db, const std::map<std::string, std::string>& wanted,
             const std::map<std::string, std::string>& found) {
  if (found != wanted) return false;
  Query rows(db, "SELECT count(*) FROM zu_change_state");
  return rows.Step() && rows.Int(0) == 1;
}

// The tombstones old enough to go, for a retention of `days` (0: all): the
// condition and its one value.
constexpr const char* kDueTombstones = "deleted IS NOT NULL AND deleted <= datetime('now', ?)";
std::string Age(int64_t days) { return std::to_string(days < 0 ? 0 : -days) + " days"; }

uint32_t NewEpoch() {
  std::random_device random;
  std::uniform_int_distribution<uint32_t> pick(1, (1u << (64 - kCounterBits)) - 1);
  return pick(random);
}

struct State {
  uint64_t epoch = 0;
  uint64_t pruned = 0;
  uint64_t prunes = 0;
  uint64_t counter = 0;
  uint64_t Token() const { return epoch << kCounterBits | counter; }
  // A page token of a pass from the beginning that began after `prunes`
  // prunes.
  uint64_t PassToken(uint64_t at) const {
    return (epoch ^ (kPassBit | (prunes & kPruneCountMask))) << kCounterBits | at;
  }
};

// False when the file has no log.
bool ReadState(sqlite3* db, State& state) {
  if (!TableExists(db, "zu_change_state")) return false;
  // A read-only file may hold a log made before the state counted its prunes.
  Query has(db, "SELECT count(*) FROM pragma_table_info('zu_change_state') WHERE name = 'prunes'");
  const bool counted = has.Step() && has.Int(0) == 1;
  Query q(db, counted ? "SELECT epoch, pruned, prunes FROM zu_change_state"
                      : "SELECT epoch, pruned, 0 FROM zu_change_state");
  if (!q.Step()) return false;
  state.epoch = static_cast<uint64_t>(q.Int(0));
  state.pruned = static_cast<uint64_t>(q.Int(1));
  state.prunes = static_cast<uint64_t>(q.Int(2));
  // The counter: the newest entry (see Entry), and never below the mark. A
  // read-only file may hold a log of an earlier version, whose counter
  // AUTOINCREMENT kept in sqlite_sequence. NOT INDEXED: the last row of the
  // table, never a scan of an index that statistics taken on a small log
  // make look cheaper.
  Query c(db,
          std::string("SELECT max(coalesce((SELECT max(seq) FROM zu_changes NOT INDEXED), 0), ") +
              (TableExists(db, "sqlite_sequence")
                   ? "coalesce((SELECT seq FROM sqlite_sequence WHERE name = 'zu_changes'), 0)"
                   : "0") +
              ", ?)");
  state.counter = c.Bind(1, static_cast<int64_t>(state.pruned)).Step()
                      ? static_cast<uint64_t>(c.Int(0)) & kCounterMask
                      : 0;
  return true;
}

// A read transaction for the scope. Refused inside the caller's own batch:
// a token read there would count changes that a rollback takes back, and
// whose numbers the counter then hands out again.
class ReadTransaction {
 public:
  ReadTransaction(sqlite3* db, bool own) : db_(own ? db : nullptr) {
    if (!own) return;
    if (sqlite3_get_autocommit(db) == 0) {
      throw CMimerException(u"changes and tokens are not served inside a batch: commit it first",
                            -1);
    }
    Exec(db_, "BEGIN");
  }
  ~ReadTransaction() {
    if (db_) sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  }
  ReadTransaction(const ReadTransaction&) = delete;
  ReadTransaction& operator=(const ReadTransaction&) = delete;

 private:
  sqlite3* db_;
};

sqlite3* OpenDb(Connection& c) {
  if (!c.IsOpen()) throw CMimerException(u"the database is not open", -1);
  return c.Db();
}

}  // namespace
}  // namespace zusms::engine

using namespace zusms::engine;  // NOLINT: this file is the engine's

void CMimerChangeLog::Ensure(std::span<const CMimerTrackedTable> tables) {
  Connection& c = Connection::Default();
  std::lock_guard lock(c.Mutex());
  sqlite3* db = OpenDb(c);
  // The one check that keeps a read-only file as it is.
  if (ReadOnly(db)) return;
  const auto wanted = Objects(tables);
  auto found = FoundObjects(db);
  // A log made before the state counted its prunes keeps its epoch, so its
  // partners' tokens stay good.
  if (auto state = found.find("zu_change_state");
      state != found.end() && state->second == kStateTableWithoutPrunes) {
    auto upgraded = found;
    upgraded["zu_change_state"] = kStateTable;
    if (upgraded == wanted) {
      Exec(db, "ALTER TABLE zu_change_state ADD COLUMN prunes INTEGER NOT NULL DEFAULT 0");
      found = std::move(upgraded);
    }
  }
  // Anything else is made anew, and partners list everything once.
  if (Matches(db, wanted, found)) return;

  Savepoint savepoint(db);
  // Triggers first: dropping a table drops its indexes and triggers with it.
  for (const auto& [name, sql] : found) {
    if (sql.starts_with("CREATE TRIGGER")) Exec(db, "DROP TRIGGER IF EXISTS " + QuoteIdent(name));
  }
  Exec(db, "DROP TABLE IF EXISTS zu_changes");
  Exec(db, "DROP TABLE IF EXISTS zu_change_state");
  Exec(db, kLogTable);
  // Indexes first: the entries come in the record index's order (family,
  // then id), so each lands at its end, which takes about half the time of
  // sorting a million entries afterwards.
  for (const char* index : kLogIndexes) Exec(db, index);
  std::vector<CMimerTrackedTable> by_family(tables.begin(), tables.end());
  std::ranges::sort(by_family, {}, &CMimerTrackedTable::family);
  for (const auto& t : by_family) {
    const std::string uuid = t.key_column ? Quote(t.key_column) : "NULL";
    Exec(db, "INSERT INTO zu_changes (UserID, family, id, uuid, kind) SELECT UserID, " +
                 std::to_string(t.family) + ", id, " + uuid + ", 1 FROM " + Quote(t.table) +
                 " ORDER BY id");
  }
  Exec(db, kStateTable);
  Query state(db, "INSERT INTO zu_change_state (epoch, pruned) VALUES (?, 0)");
  state.Bind(1, static_cast<int64_t>(NewEpoch())).Step();
  for (const auto& [name, sql] : wanted) {
    if (sql.starts_with("CREATE TRIGGER")) Exec(db, sql);
  }
  savepoint.Release();
}

void CMimerChangeLog::Prune(int64_t days) {
  Connection& c = Connection::Default();
  std::lock_guard lock(c.Mutex());
  sqlite3* db = OpenDb(c);
  if (ReadOnly(db) || !TableExists(db, "zu_change_state")) return;
  const std::string age = Age(days);
  // One transaction, one reading of the clock: the mark is the highest
  // tombstone old enough now, and exactly the tombstones at or below it go,
  // so none that ages meanwhile is removed without the mark covering it.
  Savepoint savepoint(db);
  int64_t pruned = 0;
  {
    Query highest(db, std::string("SELECT max(seq) FROM zu_changes WHERE ") + kDueTombstones);
    if (!highest.Bind(1, age).Step() || highest.Text(0).empty()) {
      savepoint.Release();
      return;
    }
    pruned = highest.Int(0);
  }
  // The newest entry holds the counter (see Entry): when it is a tombstone
  // that goes, it stays as a marker of family 0, which no listing and no
  // trigger reads, and the marker an earlier prune left goes instead.
  Exec(db,
       "DELETE FROM zu_changes WHERE family = 0 AND id = 0 AND +seq < (SELECT max(seq) FROM "
       "zu_changes NOT INDEXED)");
  Query marker(db,
               "UPDATE zu_changes SET UserID = NULL, family = 0, id = 0, uuid = NULL, kind = 0, "
               "deleted = NULL WHERE seq = ? AND seq = (SELECT max(seq) FROM zu_changes NOT "
               "INDEXED)");
  marker.Bind(1, pruned).Step();
  Query remove(db, "DELETE FROM zu_changes WHERE deleted IS NOT NULL AND seq <= ?");
  remove.Bind(1, pruned).Step();
  Query mark(db, "UPDATE zu_change_state SET pruned = max(pruned, ?), prunes = prunes + 1");
  mark.Bind(1, pruned).Step();
  savepoint.Release();
}

bool CMimerChangeLog::InPlace(std::span<const CMimerTrackedTable> tables, int64_t days) {
  Connection& c = Connection::Default();
  std::lock_guard lock(c.Mutex());
  sqlite3* db = OpenDb(c);
  if (ReadOnly(db)) return true;
  if (!Matches(db, Objects(tables), FoundObjects(db))) return false;
  Query due(db, std::string("SELECT 1 FROM zu_changes WHERE ") + kDueTombstones + " LIMIT 1");
  return !due.Bind(1, Age(days)).Step();
}

bool CMimerChangeLog::Token(uint64_t& token, bool own_transaction) {
  Connection& c = Connection::Default();
  std::lock_guard lock(c.Mutex());
  sqlite3* db = OpenDb(c);
  ReadTransaction transaction(db, own_transaction);
  State state;
  if (!ReadState(db, state)) return false;
  token = state.Token();
  return true;
}

bool CMimerChangeLog::List(const CMimerTrackedTable& table, uint32_t user, uint64_t since,
                           uint32_t capacity, std::vector<CMimerChange>& changes, uint64_t& next,
                           const char*& why, bool own_transaction) {
  Connection& c = Connection::Default();
  std::lock_guard lock(c.Mutex());
  sqlite3* db = OpenDb(c);
  // The state, the rows and the next token come from one snapshot: a change
  // committed meanwhile is either listed now or lies above `next`.
  ReadTransaction transaction(db, own_transaction);
  State state;
  if (!ReadState(db, state)) {
    why = "the file keeps no change log";
    return false;
  }
  // A pass from the beginning, or a page token of one that no prune has
  // overtaken, needs no tombstone removed so far: those are of records
  // deleted before the pass began, which it never held.
  bool pass = since == 0;
  uint64_t after = 0;
  if (since != 0) {
    after = since & kCounterMask;
    // 0 for a plain token of this log, the pass bit and a prune count for a
    // page token of a pass from the beginning.
    const uint64_t mark = (since >> kCounterBits) ^ state.epoch;
    pass = mark == (kPassBit | (state.prunes & kPruneCountMask));
    if (mark != 0 && !pass) {
      // A page token of a pass that a prune overtook cannot be told from a
      // token of another log: it resyncs too.
      why =
          "the token belongs to another file, to an earlier change log, or to a pass from "
          "the beginning that tombstones were removed during";
    } else if (after > state.counter) {
      why = "the token lies ahead of the file (restored from an older copy?)";
    } else if (!pass && after < state.pruned) {
      // Tombstones above `after` may have gone (the token's own change and
      // everything below it the partner has seen).
      why = "tombstones that the token needs have been removed";
    } else {
      why = nullptr;
    }
    if (why) return false;
  }
  // The record's time by a lookup of its id for each live entry: as a join,
  // statistics that say the table is tiny made SQLite scan it for every entry.
  const std::string time = table.time_column
                               ? "CASE WHEN c.kind = 1 THEN (SELECT t." + Quote(table.time_column) +
                                     " FROM " + Quote(table.table) + " t WHERE t.id = c.id) END"
                               : std::string("NULL");
  // NOT INDEXED: statistics taken on a small log made even the unary + below
  // walk the record index whole.
  std::string sql =
      "SELECT c.seq, c.id, c.uuid, c.kind, " + time + " FROM zu_changes c NOT INDEXED";
  // In sequence order from the token: the unary + keeps the planner off the
  // record index, which would read the whole family and sort it.
  sql += " WHERE +c.UserID = ? AND +c.family = ? AND c.seq > ? ORDER BY c.seq LIMIT ?";
  Query rows(db, sql);
  rows.Bind(1, static_cast<int64_t>(static_cast<int32_t>(user)))
      .Bind(2, int64_t{table.family})
      .Bind(3, static_cast<int64_t>(after))
      .Bind(4, int64_t{capacity});
  changes.clear();
  uint64_t last = after;
  while (rows.Step()) {
    CMimerChange change{};
    last = static_cast<uint64_t>(rows.Int(0));
    change.id = static_cast<uint32_t>(rows.Int(1));
    const auto key = rows.Blob(2);
    std::copy_n(key.begin(), std::min(key.size(), sizeof change.key), change.key);
    change.deleted = rows.Int(3) == 2;
    if (!change.deleted) ParseTimestamp(rows.Text(4).c_str(), change.time);
    changes.push_back(change);
  }
  if (capacity == 0) {
    next = since;  // nothing was read, so nothing is passed over
  } else {
    if (changes.size() < capacity) {
      next = state.Token();
    } else if (pass && last < state.pruned) {
      next = state.PassToken(last);
    } else {
      next = state.epoch << kCounterBits | last;
    }
  }
  return true;
}
