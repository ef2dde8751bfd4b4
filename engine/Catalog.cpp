#include "Catalog.h"

#include "MimerDatabase.h"
#include "Text.h"

namespace zusms::engine {

namespace {

// True when `sql` with `name` bound finds a row. The statement is finished
// before this returns: a pending read would block a later DROP TABLE.
bool Finds(sqlite3* db, const char* sql, const std::string& name) {
  Query q(db, sql);
  return q.Bind(1, name).Step();
}

std::string ColumnSql(const ColumnDef& c) {
  const std::string q = QuoteIdent(c.name);
  std::string out = q;
  switch (c.type) {
    case ColumnType::kSmallint:
      out += " INTEGER CHECK (" + q + " BETWEEN -32768 AND 32767)";
      break;
    case ColumnType::kInteger:
      out += " INTEGER CHECK (" + q + " BETWEEN -2147483648 AND 2147483647)";
      break;
    case ColumnType::kBigint:
      out += " INTEGER";
      break;
    case ColumnType::kNvarchar:
      out += " TEXT CHECK (length(" + q + ") <= " + std::to_string(c.width) + ")";
      break;
    case ColumnType::kChar:
      out += " BLOB CHECK (length(" + q + ") <= " + std::to_string(c.width) + ")";
      break;
    case ColumnType::kBlob:
      out += " BLOB";
      if (c.width > 0) out += " CHECK (length(" + q + ") <= " + std::to_string(c.width) + ")";
      break;
    case ColumnType::kTimestamp:
      // 'YYYY-MM-DD HH:MM:SS[.fffffffff]': sorts, and reads well in any tool.
      out += " TEXT";
      break;
  }
  if (c.not_null) out += " NOT NULL";
  return out;
}

void CreateTable(sqlite3* db, const TableDef& t) {
  if (!t.databank.empty() &&
      !Finds(db, "SELECT 1 FROM mimer_databanks WHERE name = ?", t.databank)) {
    throw CMimerException::Engine("databank " + t.databank + " does not exist");
  }
  for (const auto& fk : t.foreign_keys) {
    if (!TableExists(db, fk.table)) {
      throw CMimerException::Engine("table " + t.name + " references table " + fk.table +
                                    ", which does not exist");
    }
  }
  for (const auto& c : t.columns) {
    if (!c.sequence.empty() && !SequenceExists(db, c.sequence)) {
      throw CMimerException::Engine("sequence " + c.sequence + " does not exist");
    }
  }
  Exec(db, TableSql(t));
  // A table dropped behind the engine's back leaves catalog rows behind.
  Query stale_defaults(db, "DELETE FROM mimer_defaults WHERE tbl = ?");
  stale_defaults.Bind(1, t.name).Step();
  Query stale_table(db, "DELETE FROM mimer_tables WHERE name = ?");
  stale_table.Bind(1, t.name).Step();
  // Mimer SQL indexes every foreign key on its own; SQLite needs to be told.
  for (const auto& fk : t.foreign_keys) {
    std::string index = t.name + "_fk";
    for (const auto& c : fk.columns) index += "_" + c;
    Exec(db, "CREATE INDEX " + QuoteIdent(index) + " ON " + QuoteIdent(t.name) + " (" +
                 JoinNames(fk.columns) + ")");
  }
  for (const auto& c : t.columns) {
    if (c.sequence.empty()) continue;
    const std::string col = "NEW." + QuoteIdent(c.name);
    const std::string seq = QuoteLiteral(c.sequence);
    Exec(db, "CREATE TRIGGER " + QuoteIdent("mimer_seq_" + t.name + "_" + c.name) +
                 " AFTER INSERT ON " + QuoteIdent(t.name) + " WHEN " + col +
                 " >= (SELECT next FROM mimer_sequences WHERE name = " + seq +
                 ") BEGIN UPDATE mimer_sequences SET next = " + col +
                 " + increment WHERE name = " + seq + "; END");
    Query q(db, "INSERT INTO mimer_defaults (tbl, col, sequence) VALUES (?, ?, ?)");
    q.Bind(1, t.name).Bind(2, c.name).Bind(3, c.sequence).Step();
  }
  Query q(db, "INSERT INTO mimer_tables (name, databank) VALUES (?, ?)");
  q.Bind(1, t.name).Bind(2, t.databank).Step();
}

void DropDatabank(sqlite3* db, const Statement& s) {
  if (!Finds(db, "SELECT 1 FROM mimer_databanks WHERE name = ?", s.name)) {
    throw CMimerException::Engine("databank " + s.name + " does not exist");
  }
  std::vector<std::string> tables;
  {
    Query q(db, "SELECT name FROM mimer_tables WHERE databank = ?");
    q.Bind(1, s.name);
    while (q.Step()) tables.push_back(q.Text(0));
  }
  if (!tables.empty() && !s.cascade) {
    throw CMimerException::Engine("databank " + s.name + " holds tables; drop it with cascade");
  }
  for (const auto& t : tables) {
    if (TableExists(db, t)) Exec(db, "DROP TABLE " + QuoteIdent(t));
    Query d(db, "DELETE FROM mimer_defaults WHERE tbl = ?");
    d.Bind(1, t).Step();
  }
  Query q(db, "DELETE FROM mimer_tables WHERE databank = ?");
  q.Bind(1, s.name).Step();
  Query d(db, "DELETE FROM mimer_databanks WHERE name = ?");
  d.Bind(1, s.name).Step();
}

void InsertUnique(sqlite3* db, const std::string& what, const std::string& name,
                  const std::string& sql, const std::vector<std::string>& texts,
                  const std::vector<int64_t>& numbers) {
  Query q(db, sql);
  int i = 1;
  for (const auto& t : texts) q.Bind(i++, t);
  for (int64_t n : numbers) q.Bind(i++, n);
  try {
    q.Step();
  } catch (const CMimerException& e) {
    if ((e.Code() & 0xFF) == SQLITE_CONSTRAINT)
      throw CMimerException::Engine(what + " " + name + " already exists");
    throw;
  }
}

}  // namespace

void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  if (rc != SQLITE_OK) {
    std::string message = error ? error : sqlite3_errstr(rc);
    sqlite3_free(error);
    throw CMimerException::FromUtf8(message, rc);
  }
}

Query::Query(sqlite3* db, const std::string& sql) : db_(db) {
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr);
  if (rc != SQLITE_OK) throw CMimerException::Sqlite(db, rc);
}
Query::~Query() { sqlite3_finalize(stmt_); }

// A value that could not be bound (out of memory) fails the statement: run
// with the parameter left null it would answer for another value.
Query& Query::Checked(int rc) {
  if (rc != SQLITE_OK) throw CMimerException::Sqlite(db_, rc);
  return *this;
}
Query& Query::Bind(int index, const std::string& text) {
  return Checked(sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                                   SQLITE_TRANSIENT));
}
Query& Query::Bind(int index, int64_t value) {
  return Checked(sqlite3_bind_int64(stmt_, index, value));
}
Query& Query::Bind16(int index, const std::u16string& text) {
  return Checked(sqlite3_bind_text16(stmt_, index, text.data(), static_cast<int>(text.size() * 2),
                                     SQLITE_TRANSIENT));
}
Query& Query::BindNull(int index) { return Checked(sqlite3_bind_null(stmt_, index)); }
Query& Query::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  return *this;
}
bool Query::Step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  throw CMimerException::Sqlite(db_, rc);
}
int64_t Query::Int(int column) const { return sqlite3_column_int64(stmt_, column); }
std::string Query::Text(int column) const {
  const auto* p = sqlite3_column_text(stmt_, column);
  return p ? std::string(reinterpret_cast<const char*>(p),
                         static_cast<size_t>(sqlite3_column_bytes(stmt_, column)))
           : std::string();
}
std::u16string Query::Text16(int column) const {
  const auto* p = static_cast<const char16_t*>(sqlite3_column_text16(stmt_, column));
  return p ? std::u16string(p, static_cast<size_t>(sqlite3_column_bytes16(stmt_, column)) / 2)
           : std::u16string();
}
bool Query::IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
std::span<const uint8_t> Query::Blob(int column) const {
  const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, column));
  if (!p) return {};
  return {p, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))};
}

Savepoint::Savepoint(sqlite3* db) : db_(db) { Exec(db, "SAVEPOINT mimer_definition"); }
Savepoint::~Savepoint() {
  if (!open_) return;
  sqlite3_exec(db_, "ROLLBACK TO mimer_definition; RELEASE mimer_definition", nullptr, nullptr,
               nullptr);
}
void Savepoint::Release() {
  Exec(db_, "RELEASE mimer_definition");
  open_ = false;
}

void EnsureCatalog(sqlite3* db) {
  if (TableExists(db, "mimer_defaults")) return;
  Exec(db, "BEGIN IMMEDIATE");
  try {
    Exec(db,
         "CREATE TABLE IF NOT EXISTS mimer_databanks (name TEXT PRIMARY KEY COLLATE NOCASE,"
         " file TEXT NOT NULL, pages INTEGER NOT NULL, option TEXT NOT NULL);"
         "CREATE TABLE IF NOT EXISTS mimer_sequences (name TEXT PRIMARY KEY COLLATE NOCASE,"
         " next INTEGER NOT NULL, increment INTEGER NOT NULL);"
         "CREATE TABLE IF NOT EXISTS mimer_statements (name TEXT PRIMARY KEY COLLATE NOCASE,"
         " body TEXT NOT NULL);"
         "CREATE TABLE IF NOT EXISTS mimer_tables (name TEXT PRIMARY KEY COLLATE NOCASE,"
         " databank TEXT NOT NULL COLLATE NOCASE);"
         "CREATE TABLE IF NOT EXISTS mimer_defaults (tbl TEXT NOT NULL COLLATE NOCASE,"
         " col TEXT NOT NULL COLLATE NOCASE, sequence TEXT NOT NULL, PRIMARY KEY (tbl, col));"
         "COMMIT;");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

bool TableExists(sqlite3* db, const std::string& name) {
  return Finds(db, "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = ? COLLATE NOCASE",
               name);
}

bool IndexExists(sqlite3* db, const std::string& name) {
  return Finds(db, "SELECT 1 FROM sqlite_schema WHERE type = 'index' AND name = ? COLLATE NOCASE",
               name);
}

std::vector<SequenceDefault> SequenceDefaults(sqlite3* db, const std::string& table) {
  std::vector<SequenceDefault> out;
  Query q(db, "SELECT col, sequence FROM mimer_defaults WHERE tbl = ?");
  q.Bind(1, table);
  while (q.Step()) out.push_back({q.Text(0), q.Text(1)});
  return out;
}

bool SequenceExists(sqlite3* db, const std::string& name) {
  return Finds(db, "SELECT 1 FROM mimer_sequences WHERE name = ?", name);
}

StoredBody StoredStatement(sqlite3* db, const std::string& name) {
  Query q(db, "SELECT body FROM mimer_statements WHERE name = ?");
  if (!q.Bind(1, name).Step())
    throw CMimerException::Engine("statement " + name + " does not exist");
  return ParseStoredBody(q.Text(0));
}

int64_t DrawNext(sqlite3* db, const std::string& sequence) {
  Query q(db,
          "UPDATE mimer_sequences SET next = next + increment WHERE name = ?"
          " RETURNING next - increment");
  if (!q.Bind(1, sequence).Step())
    throw CMimerException::Engine("sequence " + sequence + " does not exist");
  int64_t value = q.Int(0);
  while (q.Step()) {
  }
  return value;
}

std::string TableSql(const TableDef& t) {
  std::string sql = "CREATE TABLE " + QuoteIdent(t.name) + " (";
  bool first = true;
  for (const auto& c : t.columns) {
    if (!first) sql += ", ";
    first = false;
    sql += ColumnSql(c);
  }
  if (!t.primary_key.empty()) {
    sql += ", ";
    if (!t.pk_name.empty()) sql += "CONSTRAINT " + QuoteIdent(t.pk_name) + " ";
    sql += "PRIMARY KEY (" + JoinNames(t.primary_key) + ")";
  }
  for (const auto& fk : t.foreign_keys) {
    sql += ", FOREIGN KEY (" + JoinNames(fk.columns) + ") REFERENCES " + QuoteIdent(fk.table) +
           " (" + JoinNames(fk.ref_columns) + ")";
    if (fk.cascade) sql += " ON DELETE CASCADE";
  }
  return sql + ") STRICT";
}

void CarryOut(sqlite3* db, const Statement& s) {
  Savepoint savepoint(db);
  switch (s.kind) {
    case StatementKind::kCreateDatabank:
      InsertUnique(db, "databank", s.name,
                   "INSERT INTO mimer_databanks (name, file, option, pages) VALUES (?, ?, ?, ?)",
                   {s.name, s.file, s.option}, {s.pages});
      break;
    case StatementKind::kCreateSequence:
      if (s.name.size() > kMaxSequenceName) {
        throw CMimerException::Engine("sequence name " + s.name + " is longer than " +
                                      std::to_string(kMaxSequenceName) + " bytes of UTF-8");
      }
      InsertUnique(db, "sequence", s.name,
                   "INSERT INTO mimer_sequences (name, next, increment) VALUES (?, ?, ?)", {s.name},
                   {s.initial, s.increment});
      break;
    case StatementKind::kCreateStatement: {
      StoredBody body = ParseStoredBody(s.body);
      if (!SequenceExists(db, body.sequence))
        throw CMimerException::Engine("sequence " + body.sequence + " does not exist");
      InsertUnique(db, "statement", s.name,
                   "INSERT INTO mimer_statements (name, body) VALUES (?, ?)", {s.name, s.body}, {});
      break;
    }
    case StatementKind::kCreateTable:
      CreateTable(db, s.table);
      break;
    case StatementKind::kCreateIndex:
      Exec(db, std::string("CREATE ") + (s.unique ? "UNIQUE " : "") + "INDEX " +
                   (s.if_not_exists ? "IF NOT EXISTS " : "") + QuoteIdent(s.name) + " ON " +
                   QuoteIdent(s.index_table) + " (" + JoinNames(s.index_columns) + ")");
      break;
    case StatementKind::kDropDatabank:
      DropDatabank(db, s);
      break;
    case StatementKind::kSelect:
    case StatementKind::kInsert:
    case StatementKind::kUpdate:
    case StatementKind::kDelete:
    case StatementKind::kExecuteStatement:
      throw CMimerException::Engine("not a definition");
  }
  savepoint.Release();
}

}  // namespace zusms::engine
