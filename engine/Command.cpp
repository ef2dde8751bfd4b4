#include <climits>

#include "Catalog.h"
#include "Connection.h"
#include "MimerDatabase.h"
#include "Text.h"

using zusms::engine::Connection;
using zusms::engine::Cursor;
using zusms::engine::StatementKind;

namespace {

// The first step of a read. A reader of another user's store reads through
// the owner's log without writing its index; while the owner's connection
// makes or recovers that index, SQLite refuses the read with one of these
// codes, and the same read succeeds a moment later. Retried like a lock.
int FirstStepOfARead(sqlite3_stmt* stmt) {
  for (zusms::engine::BusyRetry retry;;) {
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW || rc == SQLITE_DONE) return rc;
    const int code = sqlite3_extended_errcode(sqlite3_db_handle(stmt));
    if (!zusms::engine::LogIndexBeingMade(code) || !retry.Again()) return rc;
    sqlite3_reset(stmt);
  }
}

}  // namespace

CMimerCommand::CMimerCommand(CMimerConnection* connection) : connection_(connection) {}

CMimerCommand::~CMimerCommand() { UninitCommand(); }

int CMimerCommand::InitCommand(const char16_t* text) {
  UninitCommand();
  if (!connection_ || !connection_->Impl()) throw CMimerException(u"no connection", -1);
  if (!text) throw CMimerException(u"a null statement text", -1);
  Connection& c = *connection_->Impl();
  c.Mutex().lock();
  try {
    c.RequireLiveTransaction();
    if (!lease_) lease_ = std::make_unique<zusms::engine::Lease>();
    *lease_ = c.Take(text, max_rows_ > 0);
    row_limit_ = max_rows_;
    max_rows_ = 0;
  } catch (...) {
    c.Mutex().unlock();
    throw;
  }
  locked_ = true;
  bound_ = 0;
  out_ = nullptr;
  return 0;
}

int CMimerCommand::UninitCommand() {
  if (cursor_) {
    cursor_->stmt = nullptr;
    cursor_->has_row = false;
    cursor_.reset();
  }
  if (!locked_) return 0;
  Connection& c = *connection_->Impl();
  lease_->Reset();
  locked_ = false;
  c.Mutex().unlock();
  return 0;
}

void CMimerCommand::RequireStatement() const {
  if (!lease_ || !*lease_) throw CMimerException(u"no statement: InitCommand was not called", -1);
}

zusms::engine::Prepared& CMimerCommand::Current() const { return **lease_; }

void CMimerCommand::Fail(int rc) {
  sqlite3* db = connection_->Impl()->Db();
  std::string message = sqlite3_errmsg(db);
  if (sqlite3_stmt* stmt = Current().stmt.get()) sqlite3_reset(stmt);
  throw CMimerException::FromUtf8(message, rc);
}

void CMimerCommand::CheckBind(int rc) {
  if (rc == SQLITE_RANGE) {
    throw CMimerException::FromUtf8(
        "more values than the statement has markers (" +
            std::to_string(sqlite3_bind_parameter_count(Current().stmt.get())) + ")",
        rc);
  }
  if (rc != SQLITE_OK) Fail(rc);
}

void CMimerCommand::CheckParameterCount() const {
  sqlite3_stmt* stmt = Current().stmt.get();
  int expected = stmt ? sqlite3_bind_parameter_count(stmt) : 0;
  if (Current().limited) --expected;  // the row bound, bound by the command
  if (bound_ != expected) {
    throw CMimerException::FromUtf8("the statement has " + std::to_string(expected) +
                                        " markers but " + std::to_string(bound_) +
                                        " values were bound",
                                    -1);
  }
}

void CMimerCommand::BindInt(int64_t value) {
  RequireStatement();
  if (!Current().stmt.get()) CheckBind(SQLITE_RANGE);
  CheckBind(sqlite3_bind_int64(Current().stmt.get(), ++bound_, value));
}

void CMimerCommand::BindText16(const char16_t* text, size_t length) {
  RequireStatement();
  // Texts that SQLite cannot give back as they were given are refused: it
  // would join an unpaired surrogate with whatever follows it, and reads the
  // noncharacters U+FFFE and U+FFFF back as U+FFFD.
  for (size_t i = 0; i < length; ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      throw CMimerException(u"a text holds an unpaired surrogate (invalid UTF-16)", -1);
    } else if (c == 0xFFFE || c == 0xFFFF) {
      throw CMimerException(u"a text holds the noncharacter U+FFFE or U+FFFF", -1);
    }
  }
  if (!Current().stmt.get()) CheckBind(SQLITE_RANGE);
  if (length > INT_MAX / 2) throw CMimerException(u"a text too long to bind", -1);
  // SQLite takes a leading U+FEFF of UTF-16 for a byte order mark and drops
  // it; such a text goes in as UTF-8, which SQLite keeps as given.
  if (length > 0 && text[0] == 0xFEFF) {
    const std::string utf8 = zusms::engine::ToUtf8(std::u16string_view(text, length));
    return BindText8(utf8.data(), utf8.size());
  }
  CheckBind(sqlite3_bind_text16(Current().stmt.get(), ++bound_, text, static_cast<int>(length * 2),
                                SQLITE_TRANSIENT));
}

void CMimerCommand::BindText8(const char* text, size_t length) {
  RequireStatement();
  if (!Current().stmt.get()) CheckBind(SQLITE_RANGE);
  if (length > INT_MAX) throw CMimerException(u"a text too long to bind", -1);
  CheckBind(sqlite3_bind_text(Current().stmt.get(), ++bound_, text, static_cast<int>(length),
                              SQLITE_TRANSIENT));
}

void CMimerCommand::BindBlob(const uint8_t* bytes, size_t length) {
  BindBlobAs(bytes, length, SQLITE_TRANSIENT);
}

int CMimerCommand::AppendParameterZeros(size_t length) {
  RequireStatement();
  if (!Current().stmt.get()) CheckBind(SQLITE_RANGE);
  CheckBind(sqlite3_bind_zeroblob64(Current().stmt.get(), ++bound_, length));
  return 0;
}

void CMimerCommand::BindBlobAs(const uint8_t* bytes, size_t length, void (*lifetime)(void*)) {
  RequireStatement();
  if (!Current().stmt.get()) CheckBind(SQLITE_RANGE);
  if (length > INT_MAX) throw CMimerException(u"a value too long to bind", -1);
  CheckBind(sqlite3_bind_blob(Current().stmt.get(), ++bound_,
                              length ? bytes : reinterpret_cast<const uint8_t*>(""),
                              static_cast<int>(length), lifetime));
}

int CMimerCommand::ExecuteNoQuery() {
  RequireStatement();
  Connection& c = *connection_->Impl();
  sqlite3* db = c.Db();
  if (!db) throw CMimerException(u"the database is not open", -1);
  zusms::engine::Prepared& p = Current();
  const bool reads =
      p.kind == StatementKind::kSelect || (p.kind == StatementKind::kExecuteStatement && !p.next);
  if (!reads || p.definition) c.RequireWritable();
  if (p.definition) {
    zusms::engine::CarryOut(db, *p.definition);
    return 0;
  }
  if (p.kind == StatementKind::kExecuteStatement) {
    int64_t value = p.next ? zusms::engine::DrawNext(db, p.sequence) : c.CurrentValue(p.sequence);
    if (p.next) c.NoteDrawn(p.sequence, value);
    if (!out_) throw CMimerException(u"execute statement without an output variable", -1);
    *out_ = static_cast<uint32_t>(value);
    return 0;
  }
  CheckParameterCount();
  int rc = reads ? FirstStepOfARead(p.stmt.get()) : sqlite3_step(p.stmt.get());
  bool drawn = false;
  for (; rc == SQLITE_ROW; rc = sqlite3_step(p.stmt.get())) {
    if (!p.sequence.empty() && !drawn) {
      c.NoteDrawn(p.sequence, sqlite3_column_int64(p.stmt.get(), 0));
      drawn = true;
    }
  }
  if (rc != SQLITE_DONE) Fail(rc);
  const int changes = sqlite3_changes(db);
  sqlite3_reset(p.stmt.get());
  return changes;
}

int CMimerCommand::ExecuteQuery(CMimerRecordSet& rows) {
  RequireStatement();
  zusms::engine::Prepared& p = Current();
  if (!p.stmt.get() || p.kind != StatementKind::kSelect) {
    throw CMimerException(u"ExecuteQuery on a statement that is not a select", -1);
  }
  CheckParameterCount();
  if (p.limited) {
    CheckBind(sqlite3_bind_int64(p.stmt.get(), bound_ + 1, row_limit_));
  }
  if (cursor_) {
    cursor_->stmt = nullptr;
    cursor_->has_row = false;
  }
  sqlite3_reset(p.stmt.get());
  int rc = FirstStepOfARead(p.stmt.get());
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) Fail(rc);
  cursor_ = std::make_shared<Cursor>();
  cursor_->stmt = p.stmt.get();
  cursor_->prepared = &p;
  cursor_->has_row = rc == SQLITE_ROW;
  rows.cursor_ = cursor_;
  rows.snapshot_.reset();
  return 0;
}
