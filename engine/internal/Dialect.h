// The Mimer SQL dialect that the store speaks, read into what SQLite runs.
//
// A statement is tokenized, classified by its leading words and parsed into a
// Statement. Data statements (select, insert, update, delete) become SQLite
// text with every identifier quoted, so that column names that are keywords
// in SQLite (`index`) work unquoted. Definitions (databank, sequence, stored
// statement, table, index) and `execute statement` are carried out by the
// catalog (Catalog.h). Anything outside this set raises CMimerException.
#ifndef ZUSMS_ENGINE_DIALECT_H_
#define ZUSMS_ENGINE_DIALECT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zusms::engine {

struct Token {
  enum Type { kWord, kQuoted, kString, kNumber, kParam, kPunct, kEnd };
  Type type;
  std::string text;  // kQuoted: the name without quotes; kString: with quotes
};

// Raises CMimerException on a character or literal it cannot read.
std::vector<Token> Tokenize(std::u16string_view text);

enum class StatementKind {
  kSelect,
  kInsert,
  kUpdate,
  kDelete,
  kCreateDatabank,
  kCreateSequence,
  kCreateStatement,
  kCreateTable,
  kCreateIndex,
  kDropDatabank,
  kExecuteStatement,
};

enum class ColumnType { kInteger, kSmallint, kBigint, kNvarchar, kChar, kTimestamp, kBlob };

struct ColumnDef {
  std::string name;
  ColumnType type = ColumnType::kInteger;
  int64_t width = 0;     // nvarchar and char: characters (char: bytes); blob: bytes, 0 none
  std::string sequence;  // DEFAULT next_value OF sequence
  bool not_null = false;
};

struct ForeignKey {
  std::vector<std::string> columns;
  std::string table;
  std::vector<std::string> ref_columns;
  bool cascade = false;
};

struct TableDef {
  std::string name;
  std::vector<ColumnDef> columns;
  std::string pk_name;
  std::vector<std::string> primary_key;
  std::vector<ForeignKey> foreign_keys;
  std::string databank;  // empty: created outside any databank
};

struct Statement {
  StatementKind kind = StatementKind::kSelect;
  // kSelect, kUpdate, kDelete: the SQLite text. kInsert: the values inside
  // `VALUES ( )`, translated; the table is `name`.
  std::string sql;
  std::string name;  // the databank, sequence, statement, table or index named
  // kCreateDatabank
  std::string file;
  int64_t pages = 0;
  std::string option;
  // kCreateSequence
  int64_t initial = 1;
  int64_t increment = 1;
  // kCreateStatement: the stored form of its body, `set ? = current_value of S`
  std::string body;
  // kInsert
  std::vector<std::string> insert_columns;  // empty when the text names none
  // kCreateTable
  TableDef table;
  // kCreateIndex: unique flag, table, columns; `if not exists` leaves an
  // index of that name alone instead of failing
  bool unique = false;
  bool if_not_exists = false;
  std::string index_table;
  std::vector<std::string> index_columns;
  // kDropDatabank
  bool cascade = false;
};

// Raises CMimerException for anything outside the dialect.
Statement Parse(std::u16string_view text);

// The body of a stored statement: which sequence value it sets its one output
// parameter to. Raises for any other body.
struct StoredBody {
  std::string sequence;
  bool next = false;  // next_value rather than current_value
};
StoredBody ParseStoredBody(const std::string& body);

// "name" with embedded quotes doubled.
std::string QuoteIdent(std::string_view name);
// 'text' with embedded quotes doubled.
std::string QuoteLiteral(std::string_view text);
// The names quoted and joined with ", ".
std::string JoinNames(const std::vector<std::string>& names);

}  // namespace zusms::engine

#endif  // ZUSMS_ENGINE_DIALECT_H_
