#include <climits>
#include <cstring>

#include "Connection.h"
#include "MimerDatabase.h"
#include "Text.h"

namespace zusms::engine {

// The row a copied record set keeps: its own copies of the values.
struct RowSnapshot {
  std::vector<std::string> names;
  std::vector<sqlite3_value*> values;
  ~RowSnapshot() {
    for (auto* v : values) sqlite3_value_free(v);
  }
};

}  // namespace zusms::engine

using zusms::engine::Cursor;
using zusms::engine::RowSnapshot;

// A column value of the current row: the statement's own (read in place:
// the connection serves one thread at a time, and the row stays until the
// set moves) or a snapshot's copy.
struct CMimerRecordSet::Source {
  sqlite3_value* value = nullptr;

  int Type() const { return sqlite3_value_type(value); }
  int64_t Int() const { return sqlite3_value_int64(value); }
  const void* Text16() const { return sqlite3_value_text16(value); }
  int Bytes16() const { return sqlite3_value_bytes16(value); }
  const unsigned char* Text8() const { return sqlite3_value_text(value); }
  const void* Blob() const { return sqlite3_value_blob(value); }
  int Bytes() const { return sqlite3_value_bytes(value); }
};

namespace {

// `lower` is already lower case; `name` may be in any case.
bool SameName(const std::string& lower, const char* name) {
  size_t i = 0;
  for (; name[i] != 0; ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (i >= lower.size() || lower[i] != c) return false;
  }
  return i == lower.size();
}

int FindColumn(sqlite3_stmt* stmt, zusms::engine::Prepared& p, const char* column) {
  // Row mappers read the columns in order, with the names the table gives
  // them: the column after the last one found, compared exactly, is nearly
  // always the one.
  const size_t hint = p.column_hint;
  if (hint < p.names.size() && std::strcmp(p.names[hint].c_str(), column) == 0) {
    p.column_hint = hint + 1 == p.names.size() ? 0 : hint + 1;
    return static_cast<int>(hint);
  }
  const auto count = static_cast<size_t>(sqlite3_column_count(stmt));
  if (p.columns.size() != count) {
    p.columns.clear();
    p.names.clear();
    for (size_t i = 0; i < count; ++i) {
      p.names.emplace_back(sqlite3_column_name(stmt, static_cast<int>(i)));
      p.columns.push_back(zusms::engine::Lower(p.names.back()));
    }
    p.column_hint = 0;
  }
  for (size_t k = 0; k < count; ++k) {
    const size_t i = (p.column_hint + k) % count;
    if (SameName(p.columns[i], column)) {
      p.column_hint = (i + 1) % count;
      return static_cast<int>(i);
    }
  }
  throw CMimerException::Engine(std::string("no column ") + column + " in the result");
}

void CheckSize(size_t size, size_t need, const char* column) {
  if (size < need)
    throw CMimerException::Engine(std::string("destination too small for column ") + column);
}

template <typename T>
void ReadInt(const CMimerRecordSet::Source& s, const char* column, T* dest, size_t size, int64_t lo,
             int64_t hi) {
  CheckSize(size, sizeof(T), column);
  if (!dest) throw CMimerException::Engine("null destination");
  const int type = s.Type();
  if (type == SQLITE_NULL) {
    *dest = 0;
    return;
  }
  if (type != SQLITE_INTEGER)
    throw CMimerException::Engine(std::string("column ") + column + " is not a whole number");
  const int64_t v = s.Int();
  if (v < lo || v > hi)
    throw CMimerException::Engine(std::string("value of column ") + column + " does not fit");
  *dest = static_cast<T>(v);
}

}  // namespace

CMimerRecordSet::CMimerRecordSet() = default;

CMimerRecordSet::CMimerRecordSet(const CMimerRecordSet& other)
    : cursor_(), snapshot_(other.snapshot_) {
  if (other.cursor_ && other.cursor_->stmt && other.cursor_->has_row) {
    auto snap = std::make_shared<RowSnapshot>();
    sqlite3_stmt* stmt = other.cursor_->stmt;
    const int count = sqlite3_column_count(stmt);
    for (int i = 0; i < count; ++i) {
      snap->names.emplace_back(sqlite3_column_name(stmt, i));
      sqlite3_value* v = sqlite3_value_dup(sqlite3_column_value(stmt, i));
      if (!v) throw std::bad_alloc();
      snap->values.push_back(v);
    }
    snapshot_ = std::move(snap);
  }
}

CMimerRecordSet& CMimerRecordSet::operator=(const CMimerRecordSet& other) {
  if (this != &other) {
    CMimerRecordSet copy(other);
    cursor_.reset();
    snapshot_ = std::move(copy.snapshot_);
  }
  return *this;
}

CMimerRecordSet::~CMimerRecordSet() = default;

bool CMimerRecordSet::HasRow() const {
  if (snapshot_) return true;
  return cursor_ && cursor_->stmt && cursor_->has_row;
}

CMimerRecordSet::Source CMimerRecordSet::Current(const char* column) const {
  if (!column) throw CMimerException::Engine("a null column name");
  if (snapshot_) {
    for (size_t i = 0; i < snapshot_->names.size(); ++i) {
      if (zusms::engine::EqualsNoCase(snapshot_->names[i], column)) {
        return Source{snapshot_->values[i]};
      }
    }
    throw CMimerException::Engine(std::string("no column ") + column + " in the result");
  }
  if (!cursor_ || !cursor_->stmt || !cursor_->has_row)
    throw CMimerException::Engine("the record set stands on no row");
  const int i = FindColumn(cursor_->stmt, *cursor_->prepared, column);
  return Source{sqlite3_column_value(cursor_->stmt, i)};
}

int CMimerRecordSet::GetValue(const char* column, int32_t* dest, size_t size) {
  ReadInt(Current(column), column, dest, size, INT32_MIN, INT32_MAX);
  return 0;
}

int CMimerRecordSet::GetValue(const char* column, uint32_t* dest, size_t size) {
  ReadInt(Current(column), column, dest, size, INT32_MIN, UINT32_MAX);
  return 0;
}

int CMimerRecordSet::GetValue(const char* column, int16_t* dest, size_t size) {
  ReadInt(Current(column), column, dest, size, INT16_MIN, INT16_MAX);
  return 0;
}

int CMimerRecordSet::GetValue(const char* column, char16_t* dest, size_t size) {
  const Source s = Current(column);
  const size_t capacity = size / sizeof(char16_t);
  if (capacity == 0) return 0;
  if (!dest) throw CMimerException::Engine("null destination");
  const int type = s.Type();
  if (type == SQLITE_NULL) {
    dest[0] = 0;
    return 0;
  }
  if (type != SQLITE_TEXT)
    throw CMimerException::Engine(std::string("column ") + column + " is not text");
  const auto* text = static_cast<const char16_t*>(s.Text16());
  if (!text) throw std::bad_alloc();
  size_t length = static_cast<size_t>(s.Bytes16()) / sizeof(char16_t);
  if (length > capacity - 1) {
    // Cut where a character ends: half a surrogate pair could not be
    // written back.
    length = capacity - 1;
    if (length > 0 && text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF) --length;
  }
  std::memcpy(dest, text, length * sizeof(char16_t));
  dest[length] = 0;
  return 0;
}

int CMimerRecordSet::GetValue(const char* column, uint8_t* dest, size_t size) {
  const Source s = Current(column);
  if (size == 0) return 0;
  if (!dest) throw CMimerException::Engine("null destination");
  const int type = s.Type();
  if (type == SQLITE_NULL) {
    std::memset(dest, 0, size);
    return 0;
  }
  if (type != SQLITE_BLOB)
    throw CMimerException::Engine(std::string("column ") + column + " does not hold bytes");
  const void* bytes = s.Blob();
  size_t length = static_cast<size_t>(s.Bytes());
  if (length > size) length = size;
  if (length) std::memcpy(dest, bytes, length);
  std::memset(dest + length, 0, size - length);
  return 0;
}

int CMimerRecordSet::GetValue(const char* column, uint8_t* dest, size_t size, size_t* length) {
  const Source s = Current(column);
  if (!length || (!dest && size > 0)) throw CMimerException::Engine("null destination");
  const int type = s.Type();
  if (type == SQLITE_NULL) {
    *length = 0;
    return 0;
  }
  if (type != SQLITE_BLOB)
    throw CMimerException::Engine(std::string("column ") + column + " does not hold bytes");
  const void* bytes = s.Blob();
  const auto whole = static_cast<size_t>(s.Bytes());
  if (whole > 0 && !bytes) throw std::bad_alloc();
  if (size > 0 && whole > 0) std::memcpy(dest, bytes, whole < size ? whole : size);
  *length = whole;
  return 0;
}

int CMimerRecordSet::GetValue(const char* column, tagTIMESTAMP_STRUCT* dest, size_t size) {
  const Source s = Current(column);
  CheckSize(size, sizeof(tagTIMESTAMP_STRUCT), column);
  if (!dest) throw CMimerException::Engine("null destination");
  // A time no form of SQLite's reads (written by another program) is the
  // zero time: one odd value does not fail a whole listing.
  tagTIMESTAMP_STRUCT t{};
  if (s.Type() != SQLITE_NULL) {
    zusms::engine::ParseTimestamp(reinterpret_cast<const char*>(s.Text8()), t);
  }
  *dest = t;
  return 0;
}

int CMimerRecordSet::MoveNext() {
  if (snapshot_) {
    snapshot_.reset();
    return 100;
  }
  if (!cursor_ || !cursor_->stmt || !cursor_->has_row) return 100;
  int rc = sqlite3_step(cursor_->stmt);
  if (rc == SQLITE_ROW) return 0;
  cursor_->has_row = false;
  if (rc == SQLITE_DONE) return 100;
  throw CMimerException::FromUtf8(sqlite3_errmsg(sqlite3_db_handle(cursor_->stmt)), rc);
}
