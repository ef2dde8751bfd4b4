// A change log kept by the database file itself.
//
// Triggers on each tracked table write, per changed row, one row into the
// table zu_changes: the row's user, its table's family number, its id, its
// key (a column of bytes, when the table names one), the kind (1 added or
// changed, 2 deleted), the UTC time of a deletion, and a sequence number from
// an AUTOINCREMENT counter, which never hands out a number twice. The log
// knows tables, ids and bytes only; what a family or a key means is its
// caller's business (changelog/ChangeListings.cpp). Only the latest change of a
// row is kept: the triggers insert the new entry, then delete the older one
// (no conflict clause, which an outer statement's own clause would
// override), so the log holds one entry per row plus the tombstones of
// deleted rows. The triggers are core SQL: every program that writes the
// file (the sqlite3 shell included) keeps the log without knowing of it.
//
// A token packs a random epoch of the log (made when the log is created) in
// its upper 24 bits and the counter in its lower 40; tokens of one epoch
// compare as numbers, and 0 stands for "from the beginning". A page token of
// a pass from the beginning carries the epoch XOR a pass bit and the number
// of prunes so far: such a pass pages on below the pruning mark until a prune
// overtakes it.
#ifndef ZUSMS_CHANGELOG_CHANGELOG_H_
#define ZUSMS_CHANGELOG_CHANGELOG_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "MimerDatabase.h"

// One table whose changes are logged.
struct CMimerTrackedTable {
  int32_t family;           // the number the log files its rows under
  const char* table;        // the table's name
  const char* key_column;   // a column of bytes copied into the log; null: none
  const char* time_column;  // read beside each change listed; null: none
};

// One change as listed.
struct CMimerChange {
  static constexpr size_t kKeyBytes = 16;
  uint32_t id;
  bool deleted;  // false: added or changed, the row is there now
  // The key the row had when it changed last (a deleted row's too), cut to
  // kKeyBytes and zero-filled; all zero where the table has none.
  uint8_t key[kKeyBytes];
  // The row's time column; zero where the table has none and for deletions.
  tagTIMESTAMP_STRUCT time;
};

// Internal to the library: not exported.
class CMimerChangeLog {
 public:
  // Makes sure the log, its indexes and the triggers on `tables` exist as
  // this version writes them; a log that is missing, or any part of it
  // missing or different, is made anew (with a new epoch), every existing row
  // entered once as added. Runs inside the caller's transaction. A read-only
  // file is left as it is. Raises CMimerException on failure.
  static void Ensure(std::span<const CMimerTrackedTable> tables);

  // Removes the tombstones of deletions at least `days` old (0: all),
  // records the highest counter value removed and counts the prune. A read-only file or a file
  // without a log is left as it is. Raises CMimerException on failure.
  static void Prune(int64_t days);

  // True when Ensure and Prune(days) would find nothing to do; only reads.
  static bool InPlace(std::span<const CMimerTrackedTable> tables, int64_t days);

  // The current token; false when the file has no log. Token and List read
  // in a read transaction of their own; with `own_transaction` false, in
  // the caller's, which must not have written to the tracked tables (the
  // search index's own steps).
  static bool Token(uint64_t& token, bool own_transaction = true);

  // The changes of `user` in `table` after `since`, oldest first, at most
  // `capacity`, with the token to pass next time (the last change listed when
  // `capacity` came back, else the current token), all read in one read
  // transaction. False (nothing listed) when `since` cannot be served: the
  // file has no log, `since` belongs to another epoch (or to a pass from the
  // beginning that a prune overtook), lies above the current token, or below
  // the highest tombstone pruned; `why` then says which.
  static bool List(const CMimerTrackedTable& table, uint32_t user, uint64_t since,
                   uint32_t capacity, std::vector<CMimerChange>& changes, uint64_t& next,
                   const char*& why, bool own_transaction = true);
};

#endif  // ZUSMS_CHANGELOG_CHANGELOG_H_
