// The engine's own catalog inside the database file: databanks, sequences,
// stored statements, which tables lie in which databank, and which columns
// draw their default from a sequence. Definitions are carried out here.
//
//   mimer_databanks(name, file, pages, option)
//   mimer_sequences(name, next, increment)   next: the value the next draw gets
//   mimer_statements(name, body)
//   mimer_tables(name, databank)
//   mimer_defaults(tbl, col, sequence)
//
// A column with DEFAULT next_value OF s gets an AFTER INSERT trigger that
// moves s past the value the row took, in the same statement as the insert:
// a failed insert consumes nothing, and a row inserted with an explicit id
// (by another tool) can never be handed out again.
#ifndef ZUSMS_ENGINE_CATALOG_H_
#define ZUSMS_ENGINE_CATALOG_H_

#include <sqlite3.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "Dialect.h"

namespace zusms::engine {

void Exec(sqlite3* db, const std::string& sql);

// A one-off statement for the engine's own work (not cached).
class Query {
 public:
  Query(sqlite3* db, const std::string& sql);
  ~Query();
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;
  Query& Bind(int index, const std::string& text);
  Query& Bind(int index, int64_t value);
  Query& Bind16(int index, const std::u16string& text);
  Query& BindNull(int index);
  // Ready to run again, its values cleared.
  Query& Reset();
  // Steps once: true when a row stands ready.
  bool Step();
  int64_t Int(int column) const;
  std::string Text(int column) const;       // empty for NULL
  std::u16string Text16(int column) const;  // empty for NULL
  bool IsNull(int column) const;
  std::span<const uint8_t> Blob(int column) const;  // empty for NULL; valid until the next step

 private:
  Query& Checked(int rc);

  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// Everything a definition needs happens in one savepoint: all or nothing.
class Savepoint {
 public:
  explicit Savepoint(sqlite3* db);
  ~Savepoint();
  void Release();

 private:
  sqlite3* db_;
  bool open_ = true;
};

// Creates the catalog tables when the file has none.
void EnsureCatalog(sqlite3* db);
bool TableExists(sqlite3* db, const std::string& name);
bool IndexExists(sqlite3* db, const std::string& name);

// The longest sequence name a definition may give, in bytes of UTF-8 (128
// ASCII characters, Mimer SQL's limit for names): the value a thread drew
// is kept under it in fixed storage.
constexpr size_t kMaxSequenceName = 128;

struct SequenceDefault {
  std::string column;
  std::string sequence;
};
std::vector<SequenceDefault> SequenceDefaults(sqlite3* db, const std::string& table);
bool SequenceExists(sqlite3* db, const std::string& name);
// Raises when no stored statement of that name exists.
StoredBody StoredStatement(sqlite3* db, const std::string& name);
// Draws the next value of a sequence (next_value outside an insert).
int64_t DrawNext(sqlite3* db, const std::string& sequence);

// Carries out a definition: create databank, sequence, statement, table or
// index, drop databank. Raises on any failure, leaving nothing half done.
void CarryOut(sqlite3* db, const Statement& definition);

// The SQLite CREATE TABLE text for a definition (exposed for tests).
std::string TableSql(const TableDef& table);

}  // namespace zusms::engine

#endif  // ZUSMS_ENGINE_CATALOG_H_
