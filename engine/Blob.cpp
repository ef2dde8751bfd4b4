#include <climits>

#include "Connection.h"
#include "MimerDatabase.h"

using zusms::engine::Connection;

CMimerBlob::CMimerBlob(CMimerConnection* connection) : connection_(connection) {}

CMimerBlob::~CMimerBlob() { Close(); }

int CMimerBlob::Open(const char* table, const char* column, int64_t id, bool write) {
  Close();
  if (!connection_ || !connection_->Impl()) throw CMimerException(u"no connection", -1);
  if (!table || !column) throw CMimerException::Engine("a null table or column name");
  Connection& c = *connection_->Impl();
  c.Mutex().lock();
  locked_ = true;
  // A transaction holds the mutex from its begin to its end: with the mutex
  // held, an open transaction is this thread's.
  if (c.TransactionDepth() == 0) {
    Close();
    throw CMimerException::Engine("a large object is read inside a transaction only");
  }
  c.RequireLiveTransaction();
  const int rc = sqlite3_blob_open(c.Db(), "main", table, column, id, write ? 1 : 0, &blob_);
  if (rc != SQLITE_OK) {
    const std::string message = sqlite3_errmsg(c.Db());
    blob_ = nullptr;
    Close();
    throw CMimerException::FromUtf8(message, rc);
  }
  return 0;
}

uint64_t CMimerBlob::Length() const {
  if (!blob_) throw CMimerException::Engine("no large object is open");
  return static_cast<uint64_t>(sqlite3_blob_bytes(blob_));
}

size_t CMimerBlob::Read(uint64_t offset, uint8_t* dest, size_t size) {
  const uint64_t length = Length();
  if (offset >= length || size == 0) return 0;
  if (!dest) throw CMimerException::Engine("null destination");
  uint64_t n = length - offset;
  if (n > size) n = size;
  const int rc = sqlite3_blob_read(blob_, dest, static_cast<int>(n), static_cast<int>(offset));
  if (rc != SQLITE_OK) {
    throw CMimerException::FromUtf8(sqlite3_errmsg(connection_->Impl()->Db()), rc);
  }
  return static_cast<size_t>(n);
}

void CMimerBlob::Write(uint64_t offset, const uint8_t* src, size_t size) {
  if (size == 0) return;
  if (!src) throw CMimerException::Engine("null source");
  if (offset > Length() || size > Length() - offset) {
    throw CMimerException::Engine("bytes beyond the end of a large object");
  }
  const int rc = sqlite3_blob_write(blob_, src, static_cast<int>(size), static_cast<int>(offset));
  if (rc != SQLITE_OK) {
    throw CMimerException::FromUtf8(sqlite3_errmsg(connection_->Impl()->Db()), rc);
  }
}

int CMimerBlob::Close() {
  if (blob_) {
    sqlite3_blob_close(blob_);
    blob_ = nullptr;
  }
  if (locked_) {
    locked_ = false;
    connection_->Impl()->Mutex().unlock();
  }
  return 0;
}
