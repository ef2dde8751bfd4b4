#include "TextIndex.h"

#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "Boundary.h"
#include "Catalog.h"
#include "Connection.h"
#include "Folding.h"
#include "MimerDatabase.h"
#include "Numbers.h"

namespace zusms::engine {
namespace {

// What the index keeps changes with this number and with the folding's
// Unicode version: an index of another is made anew.
constexpr const char* kFormat = "2";
std::string Version() { return std::string(kFormat) + " " + std::string(search::UnicodeVersion()); }

// The tables, by name, as this version writes them. An entry's texts are
// kept folded (`Text`, `Tel`, `Name`) and, where folding accents changes
// them, without accents too (`Bare...`, else NULL); the trigram index holds
// the texts without accents, one after the other, and its rowid is the
// entry's id. The parts of long messages are listed with their entry and
// their message's key, so that a changed part finds the rest. Each entry
// names its person; each person of a user has a row of counts and its
// newest entry, which follow the entries as they come and go.
constexpr std::pair<const char*, const char*> kObjects[] = {
    {"zu_search",
     "CREATE TABLE zu_search (id INTEGER PRIMARY KEY, UserID INTEGER NOT NULL, Time TEXT NOT "
     "NULL, Text TEXT NOT NULL, Tel TEXT NOT NULL, Name TEXT NOT NULL, BareText TEXT, BareTel "
     "TEXT, BareName TEXT, Person TEXT NOT NULL, Unread INTEGER NOT NULL, Locked INTEGER NOT "
     "NULL)"},
    {"zu_search_time", "CREATE INDEX zu_search_time ON zu_search (UserID, Time, id)"},
    {"zu_search_person", "CREATE INDEX zu_search_person ON zu_search (UserID, Person, Time, id)"},
    {"zu_search_persons",
     "CREATE TABLE zu_search_persons (UserID INTEGER NOT NULL, Person TEXT NOT NULL, Entries "
     "INTEGER NOT NULL, Unread INTEGER NOT NULL, Locked INTEGER NOT NULL, Time TEXT, Newest "
     "INTEGER, PRIMARY KEY (UserID, Person)) WITHOUT ROWID"},
    {"zu_search_parts",
     "CREATE TABLE zu_search_parts (head INTEGER PRIMARY KEY, UserID INTEGER NOT NULL, entry "
     "INTEGER NOT NULL, grp INTEGER NOT NULL, tel TEXT NOT NULL)"},
    {"zu_search_parts_entry", "CREATE INDEX zu_search_parts_entry ON zu_search_parts (entry)"},
    {"zu_search_parts_group",
     "CREATE INDEX zu_search_parts_group ON zu_search_parts (UserID, grp, tel)"},
    {"zu_search_state",
     "CREATE TABLE zu_search_state (UserID INTEGER PRIMARY KEY, token INTEGER NOT NULL, scanned "
     "INTEGER, version INTEGER NOT NULL)"},
    {"zu_search_grams",
     "CREATE VIRTUAL TABLE zu_search_grams USING fts5(t, content='', detail=none, "
     "tokenize='trigram case_sensitive 1')"},
};

// The trigram index's text of an entry, from its kept columns.
constexpr const char* kGramsOf =
    "coalesce(BareText, Text) || char(10) || coalesce(BareTel, Tel) || char(10) || "
    "coalesce(BareName, Name)";

std::string Q(const char* name) { return QuoteIdent(name); }

void AppendUtf8(char32_t c, std::string& out) {
  // Unpaired surrogates, which the records may hold, pass as their three
  // bytes, so that folded texts compare as the characters they came from.
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string Utf8Of(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char32_t c : text) AppendUtf8(c, out);
  return out;
}

// The folded terms of a query (search/Folding.h: the tool splits and folds
// them alike).
std::vector<std::u32string> Terms(const CMimerTextQuery& q) {
  std::vector<std::u32string> terms;
  for (const std::u16string& typed : search::TypedTerms(q.terms)) {
    std::u32string folded = search::FoldedTerm(typed, q.accents);
    if (!folded.empty()) terms.push_back(std::move(folded));
  }
  if (terms.empty()) throw CMimerException(u"a search needs some text to look for", -1);
  return terms;
}

// A row of the source table as the index reads it.
struct Row {
  int64_t id = 0;
  std::string time;
  std::u16string text, tel, name;
  int64_t group = 0, parts = 0, order = 0;
  bool locked = false, unread = false;
  bool IsPart() const { return group != 0 && parts > 1; }
};

// A text as the records give it: up to its first zero, where another
// program stored one inside it.
std::u16string RecordText(const Query& q, int column) {
  std::u16string text = q.Text16(column);
  text.resize(std::min(text.size(), text.find(u'\0')));
  return text;
}

Row ReadRow(const Query& q) {
  Row r;
  r.id = q.Int(0);
  r.time = q.Text(1);
  r.text = RecordText(q, 2);
  r.tel = RecordText(q, 3);
  r.name = RecordText(q, 4);
  r.group = q.Int(5);
  r.parts = q.Int(6);
  r.order = q.Int(7);
  r.locked = q.Int(8) != 0;
  r.unread = q.Int(9) != 0;
  return r;
}

// The rows, in the file `db` holds (where it has no table of unread rows,
// all are read); conditions follow.
std::string SelectRows(sqlite3* db, const CMimerTextSource& src) {
  const std::string unread = TableExists(db, src.unread)
                                 ? "EXISTS (SELECT 1 FROM " + Q(src.unread) +
                                       " u WHERE u.id = r.id AND u.UserID = r.UserID)"
                                 : std::string("0");
  return "SELECT id, coalesce(" + Q(src.time) + ", ''), " + Q(src.text) + ", " + Q(src.tel) + ", " +
         Q(src.name) + ", " + Q(src.group) + ", " + Q(src.parts) + ", " + Q(src.order) + ", " +
         Q(src.locked) + ", " + unread + " FROM " + Q(src.tracked.table) + " r";
}

// The user's region as the source keeps it, in capitals; "" when it keeps
// none that numbers can be read by.
std::string RegionOf(sqlite3* db, const CMimerTextSource& src, uint32_t user) {
  std::string region;
  if (src.region) {
    const KeptLastError earlier;
    try {
      Query q(db, src.region);
      if (q.Bind(1, int64_t{static_cast<int32_t>(user)}).Step()) region = q.Text(0);
    } catch (const CMimerException&) {
      return "";  // an older file without the table
    }
  }
  if (!search::KnownRegion(region)) return "";
  for (char& c : region) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return region;
}

// An entry: one row, or the parts of a long message joined.
struct Entry {
  int64_t id = 0;
  std::string time;
  std::u32string text, tel, name;  // folded
  std::u16string person;           // the first row's number's
  bool unread = false, locked = false;
};

using GroupKey = std::pair<int64_t, std::u16string>;

// Gathers rows into entries: `visit(entry, parts)` hears of each short row
// at once (with no parts) and of each long message at Finish.
class Gatherer {
 public:
  using Visit = std::function<void(const Entry&, const std::vector<const Row*>&)>;
  Gatherer(std::string region, Visit visit)
      : region_(std::move(region)), visit_(std::move(visit)) {}

  void Add(Row row) {
    if (row.IsPart()) {
      groups_[GroupKey{row.group, row.tel}].push_back(std::move(row));
    } else {
      visit_(Of({&row}), {});
    }
  }
  void Finish() {
    for (auto& [key, rows] : groups_) {
      std::vector<const Row*> parts;
      for (const Row& r : rows) parts.push_back(&r);
      std::stable_sort(parts.begin(), parts.end(), [](const Row* a, const Row* b) {
        return std::tie(a->order, a->id) < std::tie(b->order, b->id);
      });
      visit_(Of(parts), parts);
    }
    groups_.clear();
  }

 private:
  // The entry of rows in order: the first one's id, time, number and name,
  // all their texts; unread or locked when any row is.
  Entry Of(const std::vector<const Row*>& rows) const {
    Entry e;
    e.id = rows.front()->id;
    e.time = rows.front()->time;
    std::u16string text;
    for (const Row* r : rows) text += r->text;
    e.text = search::Folded(text);
    e.tel = search::Folded(rows.front()->tel);
    e.name = search::Folded(rows.front()->name);
    e.person = search::PersonKey(rows.front()->tel, region_);
    for (const Row* r : rows) {
      e.unread = e.unread || r->unread;
      e.locked = e.locked || r->locked;
    }
    return e;
  }

  std::string region_;
  Visit visit_;
  std::map<GroupKey, std::vector<Row>> groups_;
};

std::u32string Bare(const std::u32string& text, bool accents) {
  return accents ? search::WithoutAccents(text) : text;
}

// Whether the entry holds every term: the same check the index's query
// makes on the texts it keeps.
bool Matches(const Entry& e, const std::vector<std::u32string>& terms, const CMimerTextQuery& q) {
  const std::u32string text = Bare(e.text, q.accents);
  const std::u32string tel = q.anywhere ? Bare(e.tel, q.accents) : U"";
  const std::u32string name = q.anywhere ? Bare(e.name, q.accents) : U"";
  auto in = [](const std::u32string& where, const std::u32string& t) {
    return where.find(t) != std::u32string::npos;
  };
  return std::all_of(terms.begin(), terms.end(), [&](const std::u32string& t) {
    return in(text, t) || (q.anywhere && (in(tel, t) || in(name, t)));
  });
}

// Reads every row of the user and hands on each entry they make.
void ReadEntries(sqlite3* db, const CMimerTextSource& src, uint32_t user,
                 const std::function<void(const Entry&)>& visit) {
  Gatherer gatherer(RegionOf(db, src, user),
                    [&](const Entry& e, const std::vector<const Row*>&) { visit(e); });
  Query rows(db, SelectRows(db, src) + " WHERE UserID = ?");
  rows.Bind(1, int64_t{static_cast<int32_t>(user)});
  while (rows.Step()) gatherer.Add(ReadRow(rows));
  gatherer.Finish();
}

// Entries by time and id.
using Stamp = std::pair<std::string, int64_t>;

// The ids of `found` from `offset` on, at most `capacity`, newest first
// unless `oldest`.
void Page(std::vector<Stamp>& found, bool oldest, uint64_t offset, uint32_t capacity,
          std::vector<uint32_t>& ids, uint64_t* total) {
  if (oldest) {
    std::sort(found.begin(), found.end());
  } else {
    std::sort(found.begin(), found.end(), std::greater<>());
  }
  ids.clear();
  for (uint64_t i = offset; i < found.size() && ids.size() < capacity; ++i) {
    ids.push_back(static_cast<uint32_t>(found[i].second));
  }
  if (total) *total = found.size();
}

// Reads every row of the user: the answers without the index.
void Scan(sqlite3* db, const CMimerTextSource& src, uint32_t user, const CMimerTextQuery& q,
          uint32_t capacity, std::vector<uint32_t>& ids, uint64_t* total) {
  const std::vector<std::u32string> terms = Terms(q);
  std::vector<Stamp> found;
  ReadEntries(db, src, user, [&](const Entry& e) {
    if (Matches(e, terms, q)) found.emplace_back(e.time, e.id);
  });
  Page(found, q.oldest, 0, capacity, ids, total);
}

// Every person of the user, newest first, as the entries make them.
std::vector<CMimerPerson> ScanPersons(sqlite3* db, const CMimerTextSource& src, uint32_t user) {
  std::map<std::u16string, std::pair<CMimerPerson, Stamp>> by_key;
  ReadEntries(db, src, user, [&](const Entry& e) {
    auto& [p, newest] = by_key[e.person];
    p.key = e.person;
    ++p.entries;
    p.unread += e.unread;
    p.locked += e.locked;
    if (p.entries == 1 || Stamp(e.time, e.id) > newest) newest = Stamp(e.time, e.id);
    p.newest = newest.second;
  });
  std::vector<std::pair<Stamp, CMimerPerson>> order;
  for (auto& [key, p] : by_key) order.emplace_back(p.second, std::move(p.first));
  std::sort(order.begin(), order.end(),
            [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<CMimerPerson> persons;
  for (auto& o : order) persons.push_back(std::move(o.second));
  return persons;
}

void ScanConversation(sqlite3* db, const CMimerTextSource& src, uint32_t user,
                      const std::u16string& number, uint64_t offset, uint32_t capacity,
                      std::vector<uint32_t>& ids, uint64_t* total) {
  const std::u16string key = search::PersonKey(number, RegionOf(db, src, user));
  std::vector<Stamp> found;
  ReadEntries(db, src, user, [&](const Entry& e) {
    if (e.person == key) found.emplace_back(e.time, e.id);
  });
  Page(found, false, offset, capacity, ids, total);
}

// The state table, with the version of what the index keeps in its
// definition: an index of another version does not match and is made anew.
std::string StateTable() {
  return "CREATE TABLE zu_search_state (UserID INTEGER PRIMARY KEY, token INTEGER NOT NULL, "
         "scanned INTEGER, region TEXT NOT NULL, format TEXT NOT NULL DEFAULT '" +
         Version() + "')";
}

std::map<std::string, std::string> Wanted() {
  std::map<std::string, std::string> wanted(std::begin(kObjects), std::end(kObjects));
  wanted["zu_search_state"] = StateTable();
  return wanted;
}

bool InPlace(sqlite3* db) {
  const auto wanted = Wanted();
  Query q(db,
          "SELECT name, sql FROM sqlite_schema WHERE name = 'zu_search' OR name LIKE "
          "'zu\\_search\\_%' ESCAPE '\\'");
  size_t found = 0;
  while (q.Step()) {
    const auto w = wanted.find(q.Text(0));
    if (w == wanted.end()) continue;  // the trigram index's own tables
    if (w->second != q.Text(1)) return false;
    ++found;
  }
  return found == wanted.size();
}

// Whether an error met in the index's own tables is damage to them (a
// table or a row of them gone, their format changed by another program),
// which making the index anew mends.
bool Damage(int code) { return (code & 0xFF) == SQLITE_CORRUPT || (code & 0xFF) == SQLITE_ERROR; }

// Drops everything the file keeps under `name`: another program may have
// put a view or an index where the index keeps a table, moved a table away
// with its indexes, or named a trigger like a table (triggers have names of
// their own).
void DropNamed(sqlite3* db, const std::string& name) {
  std::vector<std::string> types;
  {
    Query q(db, "SELECT upper(type) FROM main.sqlite_schema WHERE name = ? COLLATE NOCASE");
    q.Bind(1, name);
    while (q.Step()) types.push_back(q.Text(0));
  }
  for (const std::string& type : types) {
    if (type == "TABLE" || type == "VIEW" || type == "INDEX" || type == "TRIGGER") {
      Exec(db, "DROP " + type + " IF EXISTS main." + QuoteIdent(name));
    }
  }
}

// Where damage keeps FTS5 from opening the trigram index (one of its own
// tables gone or emptied, its version changed), it cannot drop it either:
// its own tables are made again as those of a blank index, which FTS5 can
// open, and so drop whole.
void RemakeGramsTables(sqlite3* db) {
  const std::string_view made =
      std::find_if(std::begin(kObjects), std::end(kObjects), [](const auto& o) {
        return std::string_view(o.first) == "zu_search_grams";
      })->second;
  Exec(db,
       "CREATE VIRTUAL TABLE temp.zu_search_blank " + std::string(made.substr(made.find("USING"))));
  std::vector<std::pair<std::string, std::string>> tables;  // its tables: suffix, definition
  {
    Query q(db,
            "SELECT substr(name, 17), sql FROM temp.sqlite_schema WHERE type = 'table' AND "
            "name LIKE 'zu\\_search\\_blank\\_%' ESCAPE '\\'");
    while (q.Step()) tables.emplace_back(q.Text(0), q.Text(1));
  }
  for (const auto& [suffix, sql] : tables) {
    const std::string name = "zu_search_grams_" + suffix;
    DropNamed(db, name);
    Exec(db, "CREATE TABLE main." + name + sql.substr(sql.find('(')));
    Exec(db, "INSERT INTO main." + name + " SELECT * FROM temp.zu_search_blank_" + suffix);
  }
  Exec(db, "DROP TABLE temp.zu_search_blank");
}

// The trigram index's own tables, which FTS5 makes beside it.
constexpr const char* kGramsTables[] = {"data", "idx", "docsize", "config", "content"};

// Drops the trigram index and its own tables, whatever state they are in.
void DropGrams(sqlite3* db) {
  const int rc =
      sqlite3_exec(db, "DROP TABLE IF EXISTS main.zu_search_grams", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    if (!Damage(rc)) Exec(db, "DROP TABLE IF EXISTS main.zu_search_grams");  // says why
    bool virtual_table = false;
    {
      Query q(db, "SELECT sql LIKE 'CREATE VIRTUAL%' FROM main.sqlite_schema WHERE name = ?");
      virtual_table = q.Bind(1, std::string("zu_search_grams")).Step() && q.Int(0) != 0;
    }
    if (virtual_table) {
      RemakeGramsTables(db);
      Exec(db, "DROP TABLE main.zu_search_grams");
    } else {
      DropNamed(db, "zu_search_grams");  // a view, say
    }
  }
  for (const char* suffix : kGramsTables) DropNamed(db, std::string("zu_search_grams_") + suffix);
}

// Makes the index anew, empty.
void Make(sqlite3* db) {
  DropGrams(db);
  for (const auto& [name, sql] : Wanted()) DropNamed(db, name);
  for (const auto& [name, sql] : Wanted()) Exec(db, sql);
  // Segments of the trigram index are merged when 16 of a size are there
  // (4 by default): a step of changes writes less, a search reads a few
  // more segments.
  Exec(db, "INSERT INTO zu_search_grams (zu_search_grams, rank) VALUES ('automerge', 16)");
}

// An entry's texts as zu_search keeps them: folded, and without accents
// only where that differs (else NULL).
struct Columns {
  std::string text[3];
  std::optional<std::string> bare[3];

  Columns() = default;
  explicit Columns(const Entry& e) {
    const std::u32string* texts[3] = {&e.text, &e.tel, &e.name};
    for (int i = 0; i < 3; ++i) {
      text[i] = Utf8Of(*texts[i]);
      const std::u32string b = search::WithoutAccents(*texts[i]);
      if (b != *texts[i]) bare[i] = Utf8Of(b);
    }
  }
  // What the trigram index holds for the entry: kGramsOf, made here.
  std::string Grams() const {
    std::string grams;
    for (int i = 0; i < 3; ++i) {
      if (i) grams += '\n';
      grams += bare[i] ? *bare[i] : text[i];
    }
    return grams;
  }
  // Binds the six texts from `first` on.
  void Bind(Query& q, int first) const {
    for (int i = 0; i < 3; ++i) q.Bind(first + i, text[i]);
    for (int i = 0; i < 3; ++i) {
      if (bare[i]) {
        q.Bind(first + 3 + i, *bare[i]);
      } else {
        q.BindNull(first + 3 + i);
      }
    }
  }
  // Whether the row `q` read from `first` on holds the same texts.
  bool Same(const Query& q, int first) const {
    for (int i = 0; i < 3; ++i) {
      if (q.Text(first + i) != text[i] || q.IsNull(first + 3 + i) != !bare[i]) return false;
      if (bare[i] && q.Text(first + 3 + i) != *bare[i]) return false;
    }
    return true;
  }
};

// The index's own statements, prepared once for a refresh.
class Writer {
 public:
  Writer(sqlite3* db, const CMimerTextSource& src, uint32_t user, std::string region)
      : db_(db),
        user_(static_cast<int32_t>(user)),
        region_(std::move(region)),
        row_(db, SelectRows(db, src) + " WHERE id = ? AND UserID = ?"),
        next_rows_(db, SelectRows(db, src) + " WHERE UserID = ? AND id > ? ORDER BY id LIMIT ?"),
        part_(db, "SELECT entry, grp, tel FROM zu_search_parts WHERE head = ? AND UserID = ?"),
        entry_(db, "SELECT 1 FROM zu_search WHERE id = ? AND UserID = ?"),
        members_(db, "SELECT head FROM zu_search_parts WHERE entry = ?"),
        group_(db,
               "SELECT head, entry FROM zu_search_parts WHERE UserID = ? AND grp = ? AND tel = ?"),
        gone_(db, "INSERT OR IGNORE INTO temp.zu_search_gone (id) VALUES (?)"),
        put_(db,
             "INSERT INTO zu_search (id, UserID, Time, Text, Tel, Name, BareText, BareTel, "
             "BareName, Person, Unread, Locked) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
        // A person's newest entry is the one latest by time, then by id.
        put_person_(db,
                    "INSERT INTO zu_search_persons (UserID, Person, Entries, Unread, Locked, "
                    "Time, Newest) VALUES (?1, ?2, 1, ?3, ?4, ?5, ?6) ON CONFLICT (UserID, "
                    "Person) DO UPDATE SET Entries = Entries + 1, Unread = Unread + "
                    "excluded.Unread, Locked = Locked + excluded.Locked, Time = CASE WHEN "
                    "(excluded.Time, excluded.Newest) > (Time, Newest) THEN excluded.Time ELSE "
                    "Time END, Newest = CASE WHEN (excluded.Time, excluded.Newest) > (Time, "
                    "Newest) THEN excluded.Newest ELSE Newest END"),
        put_part_(db,
                  "INSERT OR REPLACE INTO zu_search_parts (head, UserID, entry, grp, tel) VALUES "
                  "(?, ?, ?, ?, ?)"),
        old_(db, std::string("SELECT Time, Person, Unread, Locked, Text, Tel, Name, BareText, "
                             "BareTel, BareName, ") +
                     kGramsOf + " FROM zu_search WHERE id = ?"),
        set_texts_(db,
                   "UPDATE zu_search SET Text = ?2, Tel = ?3, Name = ?4, BareText = ?5, BareTel "
                   "= ?6, BareName = ?7, Unread = ?8, Locked = ?9 WHERE id = ?1"),
        set_all_(db,
                 "UPDATE zu_search SET Text = ?2, Tel = ?3, Name = ?4, BareText = ?5, BareTel = "
                 "?6, BareName = ?7, Unread = ?8, Locked = ?9, Time = ?10, Person = ?11 WHERE id "
                 "= ?1"),
        // The person loses the entry; its newest is found again at Settle.
        unperson_(db,
                  "UPDATE zu_search_persons SET Entries = Entries - 1, Unread = Unread - ?3, "
                  "Locked = Locked - ?4, Newest = NULL WHERE UserID = ?1 AND Person = ?2"),
        restate_(db,
                 "UPDATE zu_search_persons SET Unread = Unread + ?3, Locked = Locked + ?4 WHERE "
                 "UserID = ?1 AND Person = ?2"),
        unpart_(db, "DELETE FROM zu_search_parts WHERE entry = ?"),
        gone_grams_(db, std::string("SELECT id, ") + kGramsOf +
                            " FROM zu_search WHERE id IN (SELECT id FROM temp.zu_search_gone)"),
        say_(db, "INSERT INTO zu_search_grams (rowid, t) VALUES (?, ?)"),
        unsay_(db,
               "INSERT INTO zu_search_grams (zu_search_grams, rowid, t) VALUES ('delete', ?, ?)") {}

  // Writes what the trigram index loses and gains, entry by entry in
  // ascending order: FTS5 writes what it holds to the file whenever an
  // entry comes out of order (and at the end of a statement that writes
  // many), so one ordered pass keeps a step to one new segment.
  void Flush() {
    for (const auto& [id, g] : grams_) {
      if (g.old) unsay_.Reset().Bind(1, id).Bind(2, *g.old).Step();
      if (g.now) say_.Reset().Bind(1, id).Bind(2, *g.now).Step();
    }
    grams_.clear();
  }

  // Indexes again the rows `heads` name, with every entry they were or are
  // a part of.
  void Reindex(const std::set<int64_t>& heads) {
    std::set<int64_t> seen(heads.begin(), heads.end()), old_entries;
    std::set<GroupKey> keys;
    std::vector<int64_t> todo(heads.begin(), heads.end());
    std::vector<Row> rows;
    auto see = [&](int64_t head) {
      if (seen.insert(head).second) todo.push_back(head);
    };
    // An entry that goes, and with it what its parts make now.
    auto drop = [&](int64_t entry) {
      if (!old_entries.insert(entry).second) return;
      members_.Reset().Bind(1, entry);
      while (members_.Step()) see(members_.Int(0));
    };
    // A long message's key: the parts the index lists under it.
    auto gather = [&](int64_t group, const std::u16string& tel) {
      if (!keys.emplace(group, tel).second) return;
      group_.Reset().Bind(1, user_).Bind(2, group).Bind16(3, tel);
      while (group_.Step()) {
        see(group_.Int(0));
        drop(group_.Int(1));
      }
    };
    while (!todo.empty()) {
      const int64_t h = todo.back();
      todo.pop_back();
      if (part_.Reset().Bind(1, h).Bind(2, user_).Step()) {
        const int64_t entry = part_.Int(0), group = part_.Int(1);
        const std::u16string tel = part_.Text16(2);
        drop(entry);
        gather(group, tel);
      } else if (entry_.Reset().Bind(1, h).Bind(2, user_).Step()) {
        old_entries.insert(h);
      }
      if (row_.Reset().Bind(1, h).Bind(2, user_).Step()) {
        rows.push_back(ReadRow(row_));
        if (rows.back().IsPart()) gather(rows.back().group, rows.back().tel);
      }
    }
    // An entry made again under its old id is changed where it differs;
    // the old entries no row makes any more go.
    Gatherer gatherer(region_, [&](const Entry& e, const std::vector<const Row*>& parts) {
      if (old_entries.erase(e.id)) {
        Update(e, parts);
      } else {
        Put(e, parts);
      }
    });
    for (Row& r : rows) gatherer.Add(std::move(r));
    gatherer.Finish();
    Remove(old_entries);
    Settle();
  }

  // Indexes the rows after `after` in id order, at most a step of them;
  // the last id read, or -1 when none was left.
  int64_t IndexNext(int64_t after, uint64_t& count) {
    next_rows_.Reset().Bind(1, user_).Bind(2, after).Bind(3, int64_t{CMimerTextIndex::kStep});
    std::set<int64_t> again;
    int64_t last = -1;
    while (next_rows_.Step()) {
      Row r = ReadRow(next_rows_);
      last = r.id;
      ++count;
      // A part goes with the rest of its message; a row some entry holds
      // already (indexed from the log meanwhile) is indexed again.
      if (r.IsPart() || entry_.Reset().Bind(1, r.id).Bind(2, user_).Step()) {
        again.insert(r.id);
      } else {
        Gatherer gatherer(region_,
                          [&](const Entry& e, const std::vector<const Row*>&) { Put(e, {}); });
        gatherer.Add(std::move(r));
      }
    }
    if (!again.empty()) Reindex(again);
    Flush();
    return last;
  }

 private:
  // The trigram index's text of an entry before and after this step.
  struct Grams {
    std::optional<std::string> old, now;
  };

  // The entry leaves the trigram index with the text it was given there;
  // one given only in this step (not yet written) is simply not written.
  void Unsay(int64_t id, std::string grams) {
    Grams& g = grams_[id];
    if (g.now) {
      g.now.reset();
    } else if (!g.old) {
      g.old = std::move(grams);
    }
  }

  void Remove(const std::set<int64_t>& entries) {
    if (entries.empty()) return;
    for (const int64_t e : entries) gone_.Reset().Bind(1, e).Step();
    gone_grams_.Reset();
    while (gone_grams_.Step()) Unsay(gone_grams_.Int(0), gone_grams_.Text(1));
    // The persons of the entries that go lose them.
    Exec(db_,
         "UPDATE zu_search_persons AS p SET Entries = p.Entries - g.n, Unread = p.Unread - g.u, "
         "Locked = p.Locked - g.l, Newest = NULL FROM (SELECT UserID, Person, count(*) AS n, "
         "sum(Unread) AS u, sum(Locked) AS l FROM zu_search WHERE id IN (SELECT id FROM "
         "temp.zu_search_gone) GROUP BY UserID, Person) AS g WHERE p.UserID = g.UserID AND "
         "p.Person = g.Person; DELETE FROM zu_search WHERE id IN (SELECT id FROM "
         "temp.zu_search_gone); DELETE FROM zu_search_parts WHERE entry IN (SELECT id FROM "
         "temp.zu_search_gone); DELETE FROM temp.zu_search_gone");
    settle_ = true;
  }

  // A person left without entries goes; one whose newest went finds the
  // newest left.
  void Settle() {
    if (!settle_) return;
    Exec(db_,
         "DELETE FROM zu_search_persons WHERE Newest IS NULL AND Entries <= 0; UPDATE "
         "zu_search_persons AS p SET (Time, Newest) = (SELECT s.Time, s.id FROM zu_search s "
         "WHERE s.UserID = p.UserID AND s.Person = p.Person ORDER BY s.Time DESC, s.id DESC "
         "LIMIT 1) WHERE Newest IS NULL");
    settle_ = false;
  }

  void PutPerson(const Entry& e) {
    put_person_.Reset().Bind(1, user_).Bind16(2, e.person).Bind(3, int64_t{e.unread});
    put_person_.Bind(4, int64_t{e.locked}).Bind(5, e.time).Bind(6, e.id).Step();
  }

  void PutParts(const Entry& e, const std::vector<const Row*>& parts) {
    for (const Row* r : parts) {
      put_part_.Reset().Bind(1, r->id).Bind(2, user_).Bind(3, e.id).Bind(4, r->group);
      put_part_.Bind16(5, r->tel).Step();
    }
  }

  void Put(const Entry& e, const std::vector<const Row*>& parts) {
    const Columns c(e);
    put_.Reset().Bind(1, e.id).Bind(2, user_).Bind(3, e.time);
    c.Bind(put_, 4);
    put_.Bind16(10, e.person).Bind(11, int64_t{e.unread}).Bind(12, int64_t{e.locked}).Step();
    PutPerson(e);
    grams_[e.id].now = c.Grams();
    PutParts(e, parts);
  }

  // Changes the kept entry of the same id where it differs: a message read,
  // moved or locked keeps its texts, and the trigram index is not touched;
  // its time and person stay, and the entry's place in their indexes too.
  void Update(const Entry& e, const std::vector<const Row*>& parts) {
    if (!old_.Reset().Bind(1, e.id).Step()) return Put(e, parts);
    const Columns c(e);
    const std::u16string person = old_.Text16(1);
    const int64_t unread = old_.Int(2), locked = old_.Int(3);
    const bool same_place = old_.Text(0) == e.time && person == e.person;
    const bool same_state = (unread != 0) == e.unread && (locked != 0) == e.locked;
    const bool same_texts = c.Same(old_, 4);
    const std::string grams = same_texts ? std::string() : old_.Text(10);
    old_.Reset();
    unpart_.Reset().Bind(1, e.id).Step();
    PutParts(e, parts);
    if (same_place && same_state && same_texts) return;
    if (!same_place) {
      unperson_.Reset().Bind(1, user_).Bind16(2, person).Bind(3, unread).Bind(4, locked).Step();
      settle_ = true;
    } else if (!same_state) {
      restate_.Reset().Bind(1, user_).Bind16(2, person).Bind(3, int64_t{e.unread} - unread);
      restate_.Bind(4, int64_t{e.locked} - locked).Step();
    }
    if (!same_texts) {
      Unsay(e.id, grams);
      grams_[e.id].now = c.Grams();
    }
    Query& set = same_place ? set_texts_ : set_all_;
    set.Reset().Bind(1, e.id);
    c.Bind(set, 2);
    set.Bind(8, int64_t{e.unread}).Bind(9, int64_t{e.locked});
    if (!same_place) set.Bind(10, e.time).Bind16(11, e.person);
    set.Step();
    if (!same_place) PutPerson(e);
  }

  sqlite3* db_;
  int64_t user_;
  std::string region_;
  Query row_, next_rows_, part_, entry_, members_, group_, gone_, put_, put_person_, put_part_,
      old_, set_texts_, set_all_, unperson_, restate_, unpart_, gone_grams_, say_, unsay_;
  std::map<int64_t, Grams> grams_;
  bool settle_ = false;
};

// Where the user's index stands.
struct Position {
  bool found = false;
  uint64_t token = 0;
  std::optional<int64_t> scanned;  // being made: the rows up to this id are in
  std::string region;              // the numbers' persons are read by
};

Position ReadPosition(sqlite3* db, uint32_t user) {
  Position p;
  Query q(db, "SELECT token, scanned, region FROM zu_search_state WHERE UserID = ?");
  if (!q.Bind(1, int64_t{static_cast<int32_t>(user)}).Step()) return p;
  p.found = true;
  p.token = static_cast<uint64_t>(q.Int(0));
  if (!q.IsNull(1)) p.scanned = q.Int(1);
  p.region = q.Text(2);
  return p;
}

// The user's entries go, and the index is made again from the rows, from
// the log's current token on, with the user's persons read by `region`.
// The index of the only user it holds goes whole, which is quick; else the
// user's entries leave it a step at a time, each with its text (the trigram
// index keeps none), and the user has no position until all are out.
void StartOver(sqlite3* db, uint32_t user, const std::string& region) {
  const int64_t u = static_cast<int32_t>(user);
  if (Query(db, "SELECT 1 FROM zu_search_state WHERE UserID <> ?").Bind(1, u).Step()) {
    Query(db, "DELETE FROM zu_search_state WHERE UserID = ?").Bind(1, u).Step();
    Exec(db, "CREATE TEMP TABLE IF NOT EXISTS zu_search_out (id INTEGER PRIMARY KEY)");
    Exec(db, "DELETE FROM temp.zu_search_out");
    Query(db,
          "INSERT INTO temp.zu_search_out SELECT id FROM zu_search WHERE UserID = ? ORDER BY id "
          "LIMIT ?")
        .Bind(1, u)
        .Bind(2, int64_t{CMimerTextIndex::kStep})
        .Step();
    const int64_t out = sqlite3_changes64(db);
    const std::string these = " IN (SELECT id FROM temp.zu_search_out)";
    Exec(db, std::string("INSERT INTO zu_search_grams (zu_search_grams, rowid, t) SELECT "
                         "'delete', id, ") +
                 kGramsOf + " FROM zu_search WHERE id" + these + " ORDER BY id");
    Exec(db, "DELETE FROM zu_search_parts WHERE entry" + these);
    Exec(db, "DELETE FROM zu_search WHERE id" + these);
    if (out == int64_t{CMimerTextIndex::kStep}) return;
    Query(db, "DELETE FROM zu_search_parts WHERE UserID = ?").Bind(1, u).Step();
    Query(db, "DELETE FROM zu_search_persons WHERE UserID = ?").Bind(1, u).Step();
  } else {
    Make(db);
  }
  uint64_t token = 0;
  if (!CMimerChangeLog::Token(token, false)) {
    throw CMimerException(u"the file keeps no change log for the search index to follow", -1);
  }
  Query(db,
        "INSERT OR REPLACE INTO zu_search_state (UserID, token, scanned, region) VALUES (?, ?, 0, "
        "?)")
      .Bind(1, u)
      .Bind(2, static_cast<int64_t>(token))
      .Bind(3, region)
      .Step();
}

void MoveTo(sqlite3* db, uint32_t user, uint64_t token, std::optional<int64_t> scanned) {
  Query q(db, "UPDATE zu_search_state SET token = ?, scanned = ? WHERE UserID = ?");
  q.Bind(1, static_cast<int64_t>(token));
  if (scanned) {
    q.Bind(2, *scanned);
  } else {
    q.BindNull(2);
  }
  q.Bind(3, int64_t{static_cast<int32_t>(user)}).Step();
}

// One step of bringing the user's index up to date, inside the caller's
// write transaction: true when it is up to date.
bool Step(sqlite3* db, const CMimerTextSource& src, uint32_t user, uint64_t& indexed) {
  if (!InPlace(db)) Make(db);
  const Position p = ReadPosition(db, user);
  const std::string region = RegionOf(db, src, user);
  // Another region reads the numbers as other persons.
  if (!p.found || p.region != region) {
    StartOver(db, user, region);
    return false;
  }
  Exec(db, "CREATE TEMP TABLE IF NOT EXISTS zu_search_gone (id INTEGER PRIMARY KEY)");
  Writer writer(db, src, user, region);
  if (p.scanned) {
    const int64_t last = writer.IndexNext(*p.scanned, indexed);
    MoveTo(db, user, p.token, last < 0 ? std::nullopt : std::optional<int64_t>(last));
    return false;
  }
  std::vector<CMimerChange> changes;
  uint64_t next = 0;
  const char* why = nullptr;
  if (!CMimerChangeLog::List(src.tracked, user, p.token, CMimerTextIndex::kStep, changes, next, why,
                             false)) {
    StartOver(db, user, region);
    return false;
  }
  std::set<int64_t> heads;
  for (const CMimerChange& c : changes) heads.insert(c.id);
  if (!heads.empty()) {
    writer.Reindex(heads);
    writer.Flush();
  }
  if (next != p.token) MoveTo(db, user, next, std::nullopt);
  return changes.size() < CMimerTextIndex::kStep;
}

// Whether the user's index reflects the file as the current transaction
// sees it.
bool Current(sqlite3* db, const CMimerTextSource& src, uint32_t user) {
  if (!InPlace(db)) return false;
  const Position p = ReadPosition(db, user);
  if (!p.found || p.scanned || p.region != RegionOf(db, src, user)) return false;
  std::vector<CMimerChange> changes;
  uint64_t next = 0;
  const char* why = nullptr;
  return CMimerChangeLog::List(src.tracked, user, p.token, 1, changes, next, why, false) &&
         changes.empty();
}

// A text as an FTS5 phrase: in double quotes, its own doubled.
std::string Phrase(const std::u32string& text) {
  std::string phrase = "\"";
  for (const char c : Utf8Of(text)) {
    phrase += c;
    if (c == '"') phrase += '"';
  }
  return phrase + '"';
}

// The FTS5 query of the trigrams of every term of three characters or more
// (as the index keeps them, without accents); empty when there is none.
std::string Trigrams(const std::vector<std::u32string>& terms, bool accents) {
  std::set<std::u32string> grams;
  for (const std::u32string& term : terms) {
    const std::u32string bare = accents ? term : search::WithoutAccents(term);
    for (size_t i = 0; i + 3 <= bare.size(); ++i) grams.insert(bare.substr(i, 3));
  }
  std::string match;
  for (const std::u32string& g : grams) {
    if (!match.empty()) match += " AND ";
    match += Phrase(g);
  }
  return match;
}

// The answer from the index, inside the caller's read transaction.
void FromIndex(sqlite3* db, uint32_t user, const CMimerTextQuery& q, uint32_t capacity,
               std::vector<uint32_t>& ids, uint64_t* total) {
  const std::vector<std::u32string> terms = Terms(q);
  const std::string match = Trigrams(terms, q.accents);
  auto column = [&](const std::string& name) {
    std::string c = q.accents ? "coalesce(s.Bare" : "(s.";
    c += name;
    if (q.accents) (c += ", s.") += name;
    return c += ")";
  };
  std::string where = " WHERE s.UserID = ?2";
  for (size_t i = 0; i < terms.size(); ++i) {
    std::string term = "?";
    term += std::to_string(i + 3);
    where += " AND (instr(" + column("Text") + ", " + term + ") > 0";
    if (q.anywhere) {
      where += " OR instr(" + column("Tel") + ", " + term + ") > 0 OR instr(" + column("Name") +
               ", " + term + ") > 0";
    }
    where += ")";
  }
  // With trigrams, the few entries that hold them are read and sorted;
  // without, the entries are read newest first until the page is full.
  const std::string from =
      match.empty()
          ? " FROM zu_search s INDEXED BY zu_search_time"
          : " FROM zu_search_grams CROSS JOIN zu_search s ON s.id = zu_search_grams.rowid";
  if (!match.empty()) where += " AND zu_search_grams MATCH ?1";
  const std::string order =
      q.oldest ? " ORDER BY s.Time, s.id" : " ORDER BY s.Time DESC, s.id DESC";
  auto bind = [&](Query& query) {
    if (!match.empty()) query.Bind(1, match);
    query.Bind(2, int64_t{static_cast<int32_t>(user)});
    for (size_t i = 0; i < terms.size(); ++i) {
      query.Bind(static_cast<int>(i + 3), Utf8Of(terms[i]));
    }
  };
  ids.clear();
  if (!match.empty() && total) {
    // The entries the trigrams find are few: read once, sorted here.
    std::vector<std::pair<std::string, int64_t>> found;
    Query all(db, "SELECT s.Time, s.id" + from + where);
    bind(all);
    while (all.Step()) found.emplace_back(all.Text(0), all.Int(1));
    const size_t n = std::min<size_t>(capacity, found.size());
    auto first = [&](const auto& a, const auto& b) { return q.oldest ? a < b : b < a; };
    std::partial_sort(found.begin(), found.begin() + static_cast<ptrdiff_t>(n), found.end(), first);
    for (size_t i = 0; i < n; ++i) ids.push_back(static_cast<uint32_t>(found[i].second));
    *total = found.size();
    return;
  }
  if (capacity > 0) {
    Query page(db, "SELECT s.id" + from + where + order + " LIMIT " + std::to_string(capacity));
    bind(page);
    while (page.Step()) ids.push_back(static_cast<uint32_t>(page.Int(0)));
  }
  if (total) {
    Query count(db, "SELECT count(*)" + from + where);
    bind(count);
    *total = count.Step() ? static_cast<uint64_t>(count.Int(0)) : 0;
  }
}

// The user's persons from the index, inside the caller's read transaction.
void PersonsFromIndex(sqlite3* db, uint32_t user, uint64_t offset, uint32_t capacity,
                      std::vector<CMimerPerson>& persons, uint64_t* total) {
  const int64_t u = static_cast<int32_t>(user);
  persons.clear();
  if (capacity > 0) {
    Query page(db,
               "SELECT Person, Entries, Unread, Locked, Newest FROM zu_search_persons WHERE "
               "UserID = ? ORDER BY Time DESC, Newest DESC LIMIT ? OFFSET ?");
    page.Bind(1, u).Bind(2, int64_t{capacity}).Bind(3, static_cast<int64_t>(offset));
    while (page.Step()) {
      persons.push_back({page.Text16(0), static_cast<uint64_t>(page.Int(1)),
                         static_cast<uint64_t>(page.Int(2)), static_cast<uint64_t>(page.Int(3)),
                         page.Int(4)});
    }
  }
  if (total) {
    Query count(db, "SELECT count(*) FROM zu_search_persons WHERE UserID = ?");
    *total = count.Bind(1, u).Step() ? static_cast<uint64_t>(count.Int(0)) : 0;
  }
}

// One person's entries from the index, inside the caller's read transaction.
void ConversationFromIndex(sqlite3* db, const CMimerTextSource& src, uint32_t user,
                           const std::u16string& number, uint64_t offset, uint32_t capacity,
                           std::vector<uint32_t>& ids, uint64_t* total) {
  const int64_t u = static_cast<int32_t>(user);
  const std::u16string key = search::PersonKey(number, RegionOf(db, src, user));
  ids.clear();
  if (capacity > 0) {
    Query page(db,
               "SELECT id FROM zu_search INDEXED BY zu_search_person WHERE UserID = ? AND Person "
               "= ? ORDER BY Time DESC, id DESC LIMIT ? OFFSET ?");
    page.Bind(1, u).Bind16(2, key).Bind(3, int64_t{capacity}).Bind(4, static_cast<int64_t>(offset));
    while (page.Step()) ids.push_back(static_cast<uint32_t>(page.Int(0)));
  }
  if (total) {
    Query count(db, "SELECT Entries FROM zu_search_persons WHERE UserID = ? AND Person = ?");
    *total = count.Bind(1, u).Bind16(2, key).Step() ? static_cast<uint64_t>(count.Int(0)) : 0;
  }
}

// What an entry's kept row must hold, as one text (its digest is kept
// while every row is read, not the entry): its time, texts folded and
// without accents (or none), person and state.
std::string Kept(std::string_view time, const Columns& texts, std::u16string_view person,
                 bool unread, bool locked) {
  std::string all(time);
  for (int i = 0; i < 3; ++i) {
    all += '\0';
    all += texts.text[i];
    all += texts.bare[i] ? '\0' + *texts.bare[i] : std::string("\1");  // \1: none
  }
  all.append(reinterpret_cast<const char*>(person.data()), 2 * person.size());
  all += unread ? '1' : '0';
  all += locked ? '1' : '0';
  return all;
}

// How the user's index differs from what its rows make, in the caller's
// read transaction: "" when it holds every entry as the rows make it and
// its trigram index finds each by the first and the last trigram of its
// text. The entries that want one trigram are looked for in one reading of
// its list, so that a common trigram's list is read once, not once an
// entry.
std::string Differences(sqlite3* db, const CMimerTextSource& src, uint32_t user) {
  std::map<int64_t, size_t> made;
  ReadEntries(db, src, user, [&](const Entry& e) {
    made[e.id] = std::hash<std::string>{}(Kept(e.time, Columns(e), e.person, e.unread, e.locked));
  });
  Query kept(db, "SELECT id, Time, Text, Tel, Name, " + std::string(kGramsOf) +
                     ", Person, Unread, Locked, BareText, BareTel, BareName FROM zu_search WHERE "
                     "UserID = ?");
  kept.Bind(1, int64_t{static_cast<int32_t>(user)});
  std::map<std::u32string, std::vector<int64_t>> wanted;  // a trigram, the entries
  size_t seen = 0;
  while (kept.Step()) {
    const int64_t id = kept.Int(0);
    const auto e = made.find(id);
    Columns texts;
    for (int i = 0; i < 3; ++i) {
      texts.text[i] = kept.Text(2 + i);
      if (!kept.IsNull(9 + i)) texts.bare[i] = kept.Text(9 + i);
    }
    if (e == made.end() ||
        e->second != std::hash<std::string>{}(Kept(kept.Text(1), texts, kept.Text16(6),
                                                   kept.Int(7) != 0, kept.Int(8) != 0))) {
      return "the search index holds message " + std::to_string(id) +
             " otherwise than the store does";
    }
    ++seen;
    const std::u16string grams = kept.Text16(5);
    std::u32string text;
    for (size_t i = 0; i < grams.size(); ++i) {
      char32_t ch = grams[i];
      if (ch >= 0xD800 && ch < 0xDC00 && i + 1 < grams.size() && grams[i + 1] >= 0xDC00 &&
          grams[i + 1] < 0xE000) {
        ch = 0x10000 + ((ch - 0xD800) << 10) + (grams[++i] - 0xDC00);
      }
      text += ch;
    }
    if (text.size() < 3) continue;
    wanted[text.substr(0, 3)].push_back(id);
    wanted[text.substr(text.size() - 3)].push_back(id);
  }
  Query found(db, "SELECT rowid FROM zu_search_grams WHERE zu_search_grams MATCH ? ORDER BY rowid");
  for (auto& [gram, ids] : wanted) {
    std::sort(ids.begin(), ids.end());
    found.Reset().Bind(1, Phrase(gram));
    auto next = ids.begin();
    while (next != ids.end() && found.Step()) {
      if (*next < found.Int(0)) break;
      while (next != ids.end() && *next == found.Int(0)) ++next;
    }
    if (next != ids.end()) {
      return "the search index does not find message " + std::to_string(*next) + " by its own text";
    }
  }
  if (seen != made.size()) return "the search index lacks some of the store's messages";
  std::vector<CMimerPerson> persons;
  PersonsFromIndex(db, user, 0, UINT32_MAX, persons, nullptr);
  const std::vector<CMimerPerson> expected = ScanPersons(db, src, user);
  const auto same = [](const CMimerPerson& a, const CMimerPerson& b) {
    return a.key == b.key && a.entries == b.entries && a.unread == b.unread &&
           a.locked == b.locked && a.newest == b.newest;
  };
  if (!std::equal(persons.begin(), persons.end(), expected.begin(), expected.end(), same)) {
    return "the conversation index counts the store's messages otherwise than they are";
  }
  return "";
}

sqlite3* OpenDb(Connection& c) {
  if (!c.IsOpen()) throw CMimerException(u"the database is not open", -1);
  return c.Db();
}

// Whether this SQLite has FTS5; asked once.
bool HasFts5(sqlite3* db) {
  static const bool has = [db] {
    return sqlite3_exec(
               db,
               "CREATE VIRTUAL TABLE temp.zu_search_probe USING fts5(t, tokenize='trigram'); "
               "DROP TABLE temp.zu_search_probe",
               nullptr, nullptr, nullptr) == SQLITE_OK;
  }();
  return has;
}

}  // namespace
}  // namespace zusms::engine

using namespace zusms::engine;  // NOLINT: this file is the engine's

void CMimerTextIndex::Discard() {
  Connection& c = Connection::Default();
  std::lock_guard lock(c.Mutex());
  sqlite3* db = OpenDb(c);
  if (c.TransactionDepth() > 0 || c.ReadOnly() || !HasFts5(db)) return;
  c.Begin(true);
  try {
    Make(db);
  } catch (...) {
    c.Rollback();
    throw;
  }
  c.Commit();
}

std::string CMimerTextIndex::Verify(const CMimerTextSource& source, uint32_t user) {
  Connection& c = Connection::Default();
  std::lock_guard lock(c.Mutex());
  sqlite3* db = OpenDb(c);
  if (!HasFts5(db)) return "";
  try {
    Refresh(source, user);
  } catch (const CMimerException& e) {
    if (!Damage(e.Code())) throw;
    return ToUtf8(e.Message());
  }
  c.Begin(false);
  std::string problem;
  try {
    if (Current(db, source, user)) problem = Differences(db, source, user);
  } catch (const CMimerException& e) {
    problem = ToUtf8(e.Message());
  }
  c.Commit();
  return problem;
}

bool CMimerTextIndex::Refresh(const CMimerTextSource& source, uint32_t user,
                              const std::function<void(uint64_t)>& progress) {
  Connection& c = Connection::Default();
  std::lock_guard lock(c.Mutex());
  sqlite3* db = OpenDb(c);
  if (c.TransactionDepth() > 0 || c.ReadOnly() || !HasFts5(db)) return false;
  uint64_t indexed = 0;
  for (;;) {
    c.Begin(true);
    bool done = false;
    try {
      done = Step(db, source, user, indexed);
    } catch (...) {
      c.Rollback();
      throw;
    }
    c.Commit();
    if (progress && indexed > 0) progress(indexed);
    if (done) return true;
  }
}

namespace {

// The answer from the index when it is current (`from_index`, inside one
// read transaction), else from reading every row (`scan`).
CMimerTextWay Answer(const CMimerTextSource& source, uint32_t user, bool scan_only,
                     const std::function<void(sqlite3*)>& from_index,
                     const std::function<void(sqlite3*)>& scan) {
  Connection& c = Connection::Default();
  std::lock_guard lock(c.Mutex());
  sqlite3* db = OpenDb(c);
  // Another program may write between the refresh and the reading: the
  // index answers only when it is current in the reading's own snapshot.
  const bool indexed = !scan_only && c.TransactionDepth() == 0 && HasFts5(db);
  // Damage met in the index's own tables drops them, to be made anew.
  auto damaged = [](const CMimerException& e) {
    if (!Damage(e.Code())) return false;
    const KeptLastError earlier;
    try {
      CMimerTextIndex::Discard();
    } catch (const CMimerException&) {
      return false;
    }
    return true;
  };
  for (int tries = 0; indexed && tries < 4; ++tries) {
    // Mostly the index is current: one read transaction answers.
    c.Begin(false);
    try {
      if (Current(db, source, user)) {
        from_index(db);
        c.Commit();
        return CMimerTextWay::kIndex;
      }
    } catch (const CMimerException& e) {
      c.Rollback();
      if (!Damage(e.Code())) throw;
      if (!damaged(e)) break;
      continue;
    } catch (...) {
      c.Rollback();
      throw;
    }
    c.Commit();
    if (c.ReadOnly() || tries == 3) break;
    const KeptLastError earlier;
    try {
      CMimerTextIndex::Refresh(source, user);
    } catch (const CMimerException& e) {
      if (!damaged(e)) break;  // busy past the wait, a full disk: the rows answer
    }
  }
  scan(db);
  return CMimerTextWay::kScan;
}

}  // namespace

CMimerTextWay CMimerTextIndex::Search(const CMimerTextSource& source, uint32_t user,
                                      const CMimerTextQuery& query, uint32_t capacity,
                                      std::vector<uint32_t>& ids, uint64_t* total, bool scan_only) {
  Terms(query);  // a query of no terms fails before anything is read
  return Answer(
      source, user, scan_only,
      [&](sqlite3* db) { FromIndex(db, user, query, capacity, ids, total); },
      [&](sqlite3* db) { Scan(db, source, user, query, capacity, ids, total); });
}

CMimerTextWay CMimerTextIndex::Persons(const CMimerTextSource& source, uint32_t user,
                                       uint64_t offset, uint32_t capacity,
                                       std::vector<CMimerPerson>& persons, uint64_t* total,
                                       bool scan_only) {
  return Answer(
      source, user, scan_only,
      [&](sqlite3* db) { PersonsFromIndex(db, user, offset, capacity, persons, total); },
      [&](sqlite3* db) {
        std::vector<CMimerPerson> all = ScanPersons(db, source, user);
        if (total) *total = all.size();
        persons.clear();
        for (uint64_t i = offset; i < all.size() && persons.size() < capacity; ++i) {
          persons.push_back(std::move(all[i]));
        }
      });
}

CMimerTextWay CMimerTextIndex::Conversation(const CMimerTextSource& source, uint32_t user,
                                            const std::u16string& number, uint64_t offset,
                                            uint32_t capacity, std::vector<uint32_t>& ids,
                                            uint64_t* total, bool scan_only) {
  return Answer(
      source, user, scan_only,
      [&](sqlite3* db) {
        ConversationFromIndex(db, source, user, number, offset, capacity, ids, total);
      },
      [&](sqlite3* db) {
        ScanConversation(db, source, user, number, offset, capacity, ids, total);
      });
}
