// The database access layer: Mimer SQL statements run on SQLite.
//
// The store hands this layer Mimer SQL texts with positional `?` markers and
// typed values, and reads result columns by name. The layer translates each
// distinct text once per connection (see Dialect.h), keeps the prepared
// statement for reuse, and reports every failure by raising CMimerException;
// the message of the last one is also kept per thread (GetZuSmsLastError).
//
// One connection per process serves access type 0. A command holds it for
// itself from InitCommand to UninitCommand, so two threads never step one
// statement or write inside each other's transaction.
#ifndef ZUSMS_ENGINE_MIMERDATABASE_H_
#define ZUSMS_ENGINE_MIMERDATABASE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "MimerException.h"
#include "ZuSmsDB.h"

struct sqlite3_blob;

namespace zusms::engine {
class Connection;
class Lease;
struct Prepared;
struct Cursor;
struct RowSnapshot;
}  // namespace zusms::engine

// The ODBC timestamp record exchanged for `timestamp` columns.
#ifndef ZUSMS_HAVE_TIMESTAMP_STRUCT
#define ZUSMS_HAVE_TIMESTAMP_STRUCT
typedef struct tagTIMESTAMP_STRUCT {
  int16_t year;
  uint16_t month;
  uint16_t day;
  uint16_t hour;
  uint16_t minute;
  uint16_t second;
  uint32_t fraction;  // billionths of a second
} TIMESTAMP_STRUCT;
#endif

enum enMimerConnAccessType { MimerConnDefault = 0 };

// How SetQuery binds a condition's value.
enum MimerPropType {
  MimerPropNone = 0,
  MimerPropInt = 2,
  MimerPropShort = 6,
  MimerPropUShort = 7,
  MimerPropText = 8,
  MimerPropBytes = 9,  // 16 bytes, compared with ZU_OP_BYTES_EQ alone
};

// The shared connection for one access type. Obtained from
// CMimerDatabase::GetConn; never created by callers.
class ZUSMS_API CMimerConnection {
 public:
  explicit CMimerConnection(zusms::engine::Connection* impl) : impl_(impl) {}
  CMimerConnection(const CMimerConnection&) = delete;
  CMimerConnection& operator=(const CMimerConnection&) = delete;

  bool IsOpen() const;
  // True when a table of that name exists (names compare without case).
  bool HasTable(const char* name);
  // True when an index of that name exists.
  bool HasIndex(const char* name);
  zusms::engine::Connection* Impl() const { return impl_; }

 private:
  zusms::engine::Connection* impl_;
};

// A list of values for positional `?` markers. A free-standing set keeps
// copies of its values until it is appended to a command; a command binds
// each value at once.
class ZUSMS_API CMimerParameterSet {
 public:
  CMimerParameterSet();
  CMimerParameterSet(const CMimerParameterSet&);
  CMimerParameterSet& operator=(const CMimerParameterSet&);
  virtual ~CMimerParameterSet();

  int AppendParameter(int16_t value);
  int AppendParameter(int32_t value);
  // Unsigned values travel as the same 32 bits read as signed, so an id or
  // user id compares equal however it was bound.
  int AppendParameter(uint32_t value);
  // Zero-terminated text.
  int AppendParameter(const char16_t* text);
  // Text in a field of `capacity` characters: raises when no terminating
  // zero stands within the field, so nothing beyond it is ever read.
  int AppendParameter(const char16_t* text, size_t capacity);
  int AppendParameter(const uint8_t* bytes, size_t length);
  int AppendParameter(const tagTIMESTAMP_STRUCT& time);
  // Every value of `set`, in order.
  int AppendParameter(const CMimerParameterSet& set);

  size_t Count() const;

 protected:
  struct Value;
  virtual void BindInt(int64_t value);
  virtual void BindText16(const char16_t* text, size_t length);
  virtual void BindText8(const char* text, size_t length);
  virtual void BindBlob(const uint8_t* bytes, size_t length);

 private:
  std::vector<Value>* values_;  // owned; kept out of line to hide Value
};

class ZUSMS_API CMimerStatement : public CMimerParameterSet {
 public:
  // Binds a variable that receives the statement's output value when it is
  // executed (`execute statement`).
  int AppendOutParameter(uint32_t& out);

 protected:
  uint32_t* out_ = nullptr;
};

class CMimerCommand;

// The rows of a query. Stands on the first row after ExecuteQuery; GetValue
// on a set that stands on no row raises. A copy keeps the row on which the
// original stands when the copy is made, whatever the original does later.
class ZUSMS_API CMimerRecordSet {
 public:
  CMimerRecordSet();
  CMimerRecordSet(const CMimerRecordSet& other);
  CMimerRecordSet& operator=(const CMimerRecordSet& other);
  ~CMimerRecordSet();

  // Each reads the named column (any letter case) of the current row. The
  // destination size is in bytes and is never exceeded; text comes back
  // zero-terminated, cut to size/2 - 1 characters. NULL reads as 0, empty
  // text, zero bytes or a zero time.
  int GetValue(const char* column, int32_t* dest, size_t size);
  int GetValue(const char* column, uint32_t* dest, size_t size);
  int GetValue(const char* column, int16_t* dest, size_t size);
  int GetValue(const char* column, char16_t* dest, size_t size);
  int GetValue(const char* column, uint8_t* dest, size_t size);
  // Bytes with their length: copies at most `size` bytes of the value
  // (nothing else of `dest` is written) and the value's whole length in
  // bytes into *length (0 for NULL), so a caller learns whether it was cut.
  int GetValue(const char* column, uint8_t* dest, size_t size, size_t* length);
  int GetValue(const char* column, tagTIMESTAMP_STRUCT* dest, size_t size);

  // Moves to the next row; returns 0, or 100 when no row is left (the set
  // then stands on no row).
  int MoveNext();
  bool HasRow() const;

  struct Source;  // where a column value is read from (internal)

 private:
  friend class CMimerCommand;
  Source Current(const char* column) const;
  std::shared_ptr<zusms::engine::Cursor> cursor_;
  std::shared_ptr<zusms::engine::RowSnapshot> snapshot_;
};

class ZUSMS_API CMimerCommand : public CMimerStatement {
 public:
  explicit CMimerCommand(CMimerConnection* connection);
  ~CMimerCommand() override;
  CMimerCommand(const CMimerCommand&) = delete;
  CMimerCommand& operator=(const CMimerCommand&) = delete;

  // Takes the connection for this command and prepares the text (translated
  // once per connection and reused).
  int InitCommand(const char16_t* text);
  // For the next InitCommand of a select: the caller reads no more than
  // `rows` rows, so the engine may stop (and sort) no further. 0: no bound.
  void SetMaxRows(uint32_t rows) { max_rows_ = rows; }
  // Releases the statement and the connection; harmless when nothing is held.
  int UninitCommand();
  // Binds a value of `length` zero bytes, which SQLite writes into the file
  // a page at a time, never holding it: the real bytes then go in through a
  // CMimerBlob opened for writing, so that a large value is never held
  // whole by SQLite (its record of the row would be a copy).
  int AppendParameterZeros(size_t length);
  // Runs the statement; returns the number of rows changed (0 for others).
  int ExecuteNoQuery();
  // Runs a query; the record set then stands on its first row, if any.
  int ExecuteQuery(CMimerRecordSet& rows);

 protected:
  void BindInt(int64_t value) override;
  void BindText16(const char16_t* text, size_t length) override;
  void BindText8(const char* text, size_t length) override;
  void BindBlob(const uint8_t* bytes, size_t length) override;

 private:
  void BindBlobAs(const uint8_t* bytes, size_t length, void (*lifetime)(void*));
  void RequireStatement() const;
  zusms::engine::Prepared& Current() const;  // the leased statement
  [[noreturn]] void Fail(int rc);
  void CheckBind(int rc);
  void CheckParameterCount() const;

  CMimerConnection* connection_;
  std::unique_ptr<zusms::engine::Lease> lease_;  // the statement, while InitCommand holds it
  std::shared_ptr<zusms::engine::Cursor> cursor_;
  int bound_ = 0;
  uint32_t max_rows_ = 0;   // asked for the next InitCommand
  uint32_t row_limit_ = 0;  // bound to the current limited select
  bool locked_ = false;
};

// One BLOB value read (or written) in pieces, never more of it at once than
// a piece: for values too large to read whole through a record set. Holds the
// connection from Open to Close, as a command does, and must be opened
// inside the calling thread's transaction (BeginReadTransaction), so that
// the row a query found and the bytes read are one state of the file.
class ZUSMS_API CMimerBlob {
 public:
  explicit CMimerBlob(CMimerConnection* connection);
  ~CMimerBlob();
  CMimerBlob(const CMimerBlob&) = delete;
  CMimerBlob& operator=(const CMimerBlob&) = delete;

  // Opens column `column` of the row of `table` whose integer primary key is
  // `id`. Raises when there is no transaction, no such row, or the value
  // is not bytes (NULL included). `write`: for Write, inside a write
  // transaction.
  int Open(const char* table, const char* column, int64_t id, bool write = false);
  // The value's length in bytes.
  uint64_t Length() const;
  // Copies the bytes from `offset` on into `dest`, at most `size` of them;
  // returns how many (0 at or past the end).
  size_t Read(uint64_t offset, uint8_t* dest, size_t size);
  // Overwrites `size` bytes from `offset` on with `src`; the value keeps its
  // length (raises for bytes beyond it).
  void Write(uint64_t offset, const uint8_t* src, size_t size);
  // Lets the value and the connection go; harmless when nothing is held.
  int Close();

 private:
  CMimerConnection* connection_;
  sqlite3_blob* blob_ = nullptr;
  bool locked_ = false;
};

// Base of the store: keeps the user id and the store's share of the
// process's connection.
class ZUSMS_API CMimerDatabase {
 public:
  CMimerDatabase(uint32_t userId, uint16_t kind);
  // A copy works on the same user id; it holds no share of the connection,
  // so closing both a store and its copy gives back one share, not two.
  CMimerDatabase(const CMimerDatabase& other);
  CMimerDatabase& operator=(const CMimerDatabase& other);
  virtual ~CMimerDatabase();

  // Takes one share of the process's connection (opening the file when this
  // is the first share) and makes sure this store's user exists. Returns 0,
  // or the SQLite result code of a failure; a store that already holds a
  // share takes none.
  int32_t Open();
  // Gives the share back; the last share closes the file. Returns 0.
  int32_t Close();
  // True while the process's connection is open on a file it cannot write
  // (a backup copy, a read-only mount): reads work, every write raises with
  // "read-only" in its message. Whatever an open would write (repairs,
  // missing indexes or tables) must be skipped on such a store.
  bool IsReadOnly() const;

  static CMimerConnection& GetConn(enMimerConnAccessType type);
  // Runs `fn` each time the process's last share of the connection is given
  // back. Never waits for the connection, so it may be called anywhere.
  static void AtLastClose(void (*fn)());

  // A transaction of the calling thread on the shared connection: from
  // BeginTransaction to CommitTransaction or RollbackTransaction, this
  // thread's statements run in one SQLite transaction (BEGIN IMMEDIATE, so it
  // holds the write lock from the start), and other threads wait for the
  // connection until it ends. Nested begins run inside the outermost one;
  // the outermost commit commits, a rollback at any depth rolls back all.
  // Each raises CMimerException on failure.
  static void BeginTransaction();
  // The same, holding only the read lock: its reads see one state of the
  // file, without waiting for another process's writer. A write inside it
  // may fail with "locked" at once where BeginTransaction's would wait.
  static void BeginReadTransaction();
  static void CommitTransaction();
  static void RollbackTransaction();
  // Ends the calling thread's innermost level without committing it: the
  // outermost is rolled back; an inner one that wrote nothing leaves the
  // transaction as it was, one that wrote rolls back all and leaves the
  // transaction failed (everything raises) until it is committed or rolled
  // back.
  static void LeaveTransaction();

  // Writes one condition on `column` for a query filter item into
  // `condition` and appends its values to `params`; leaves `condition` empty
  // and appends nothing for ZU_OP_NONE. `type` is how the value binds:
  // MimerPropInt (32 bits), MimerPropShort or MimerPropUShort (16 bits),
  // MimerPropText (text), MimerPropBytes (16 bytes, with ZU_OP_BYTES_EQ
  // only). Raises for an item it cannot honour (an
  // unknown op, an op that does not fit the type, a null pointer, a number
  // out of range), so that a query never runs wider than asked.
  int SetQuery(MimerPropType type, const char* column, const _MimerQueryFilterItem& item,
               std::u16string& condition, CMimerParameterSet& params) const;

  uint32_t UserId() const { return m_UserID; }

 protected:
  int32_t m_Ref;      // 1 while this object holds a share of the connection
  uint32_t m_UserID;  // every statement of the store binds it for UserID=?
  uint16_t m_Kind;    // the store passes 9; not interpreted
};

#endif  // ZUSMS_ENGINE_MIMERDATABASE_H_
