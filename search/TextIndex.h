// Finding text in one table's rows: a search index kept in tables of its
// own and brought up to date from the change log before it answers.
//
// No trigger touches the records: the index records, per user, the change
// log token it reflects, and before a search reads the changes since then
// (whoever wrote them) and indexes the rows they name again, at most
// kStep changes to a transaction. A new epoch of the log, a token the log
// can no longer serve, an index missing, changed by another program or
// made by another version of the folding: the user's entries are made anew
// from the rows, kStep rows to a transaction. Where the index cannot serve
// (a read-only file whose index lags, the caller's own batch holding
// uncommitted rows, a SQLite without FTS5), the rows are read one by one
// and the answer is the same.
//
// An entry is what a person calls a message: one row, or the rows that are
// parts of one long message, their texts joined in order. The index keeps
// each entry's texts folded (search/Folding.h) and a trigram index of them
// with accents folded too; a term of three characters or more is looked up
// in the trigram index, and every term is then checked on the folded texts.
// The trigram index only narrows: an entry is found when its folded texts
// hold every term, exactly as reading every row finds it.
//
// The same entries make conversations: each entry belongs to the person
// its number stands for (search/Numbers.h, read by the user's region), and
// the index keeps per person how many entries there are, how many unread
// and locked, and the newest; the entries of one person are read newest
// first from an index of their own.
#ifndef ZUSMS_SEARCH_TEXTINDEX_H_
#define ZUSMS_SEARCH_TEXTINDEX_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ChangeLog.h"

// The table a search reads, by its columns.
struct CMimerTextSource {
  CMimerTrackedTable tracked;  // the table and its family in the change log
  const char* text;            // the text searched
  const char* tel;             // searched too when a search looks anywhere
  const char* name;            // likewise
  const char* time;            // entries come newest first by it, then by id
  // A row whose `group` is not 0 and whose `parts` is above 1 is a part of
  // a long message, with the other such rows of its user with the same
  // `group` and `tel`; the parts are joined in the order of `order`, then
  // id, and the entry takes the first part's id, time, number and name.
  const char* group;
  const char* parts;
  const char* order;
  // An entry is locked when any of its rows' `locked` is not 0, and unread
  // when any of its rows is listed (by id and UserID) in the table `unread`
  // (none on the file: all are read).
  const char* locked;
  const char* unread;
  // The user's region (?1: the user; no row, or a table not there: none).
  const char* region;
};

// A person's conversation as the index keeps it.
struct CMimerPerson {
  std::u16string key;  // search::PersonKey of the entries' numbers
  uint64_t entries = 0, unread = 0, locked = 0;
  int64_t newest = 0;  // the newest entry's id
};

struct CMimerTextQuery {
  // The terms as typed: split at white space, except inside double quotes
  // ("happy new year" is one term). Every term must occur.
  std::u16string terms;
  bool accents = false;   // "é" and "e" are one letter
  bool anywhere = false;  // a term may occur in the number or the name instead
  bool oldest = false;    // oldest first
};

// How a search was answered, for tests and the tool's progress.
enum class CMimerTextWay { kIndex, kScan };

class CMimerTextIndex {
 public:
  static constexpr uint32_t kStep = 10000;

  // The ids of the first `capacity` entries of `user` that hold every term,
  // newest first (or oldest), and how many there are in all when `total` is
  // given. Raises CMimerException on failure, and when the terms hold
  // nothing to look for.
  static CMimerTextWay Search(const CMimerTextSource& source, uint32_t user,
                              const CMimerTextQuery& query, uint32_t capacity,
                              std::vector<uint32_t>& ids, uint64_t* total, bool scan_only = false);

  // The user's persons, the one with the newest entry first (then by that
  // entry's id), from the `offset`th on, at most `capacity`, and how many
  // there are in all when `total` is given.
  static CMimerTextWay Persons(const CMimerTextSource& source, uint32_t user, uint64_t offset,
                               uint32_t capacity, std::vector<CMimerPerson>& persons,
                               uint64_t* total, bool scan_only = false);

  // The ids of the entries of the person `number` stands for (any way of
  // writing it, or the person's key), newest first, from the `offset`th on,
  // at most `capacity`, and how many there are in all when `total` is given.
  static CMimerTextWay Conversation(const CMimerTextSource& source, uint32_t user,
                                    const std::u16string& number, uint64_t offset,
                                    uint32_t capacity, std::vector<uint32_t>& ids, uint64_t* total,
                                    bool scan_only = false);

  // Brings the user's index up to date; false when it cannot be kept here
  // (read-only file, inside a batch, no FTS5). `progress` hears how many
  // rows were indexed so far while the index is made anew.
  static bool Refresh(const CMimerTextSource& source, uint32_t user,
                      const std::function<void(uint64_t)>& progress = {});

  // How the user's index differs from what the rows make ("" when it does
  // not, or when it cannot be brought up to date to look at): brought up to
  // date first (damage met on the way is the answer), then every entry
  // compared, and each found by its own trigrams. Reads every row.
  static std::string Verify(const CMimerTextSource& source, uint32_t user);

  // Drops the index of every user, to be made anew by the next refresh;
  // nothing where it cannot be kept.
  static void Discard();
};

#endif  // ZUSMS_SEARCH_TEXTINDEX_H_
