#include "Boundary.h"
#include "Catalog.h"
#include "Connection.h"
#include "MimerDatabase.h"
#include "Text.h"

using zusms::engine::Connection;

bool CMimerConnection::IsOpen() const {
  std::lock_guard lock(impl_->Mutex());
  return impl_->IsOpen();
}

bool CMimerConnection::HasTable(const char* name) {
  std::lock_guard lock(impl_->Mutex());
  if (!impl_->IsOpen()) throw CMimerException(u"the database is not open", -1);
  return zusms::engine::TableExists(impl_->Db(), name);
}

bool CMimerConnection::HasIndex(const char* name) {
  std::lock_guard lock(impl_->Mutex());
  if (!impl_->IsOpen()) throw CMimerException(u"the database is not open", -1);
  return zusms::engine::IndexExists(impl_->Db(), name);
}

CMimerDatabase::CMimerDatabase(uint32_t userId, uint16_t kind)
    : m_Ref(0), m_UserID(userId), m_Kind(kind) {}

CMimerDatabase::CMimerDatabase(const CMimerDatabase& other)
    : m_Ref(0), m_UserID(other.m_UserID), m_Kind(other.m_Kind) {}

CMimerDatabase& CMimerDatabase::operator=(const CMimerDatabase& other) {
  // The share of the connection stays with the object that took it.
  m_UserID = other.m_UserID;
  m_Kind = other.m_Kind;
  return *this;
}

CMimerDatabase::~CMimerDatabase() = default;

int32_t CMimerDatabase::Open() {
  Connection& c = Connection::Default();
  std::lock_guard lock(c.Mutex());
  const bool took = m_Ref == 0;
  if (took) {
    std::string error;
    int rc = c.Acquire(&error);
    if (rc != SQLITE_OK) {
      zusms::engine::SetLastError(zusms::engine::ToUtf16(error), CMimerException::Busy(rc));
      return rc;
    }
    m_Ref = 1;
  }
  try {
    c.EnsureUser(static_cast<int32_t>(m_UserID));
  } catch (const CMimerException& e) {
    if (took) {
      m_Ref = 0;
      c.Release();
    }
    zusms::engine::SetLastError(u"cannot register the store's user: " + e.Message(), e.Busy());
    return e.Code() > 0 ? e.Code() : SQLITE_ERROR;
  }
  return 0;
}

bool CMimerDatabase::IsReadOnly() const {
  Connection& c = Connection::Default();
  std::lock_guard lock(c.Mutex());
  return c.IsOpen() && c.ReadOnly();
}

int32_t CMimerDatabase::Close() {
  Connection& c = Connection::Default();
  std::lock_guard lock(c.Mutex());
  if (m_Ref == 0) return 0;
  m_Ref = 0;
  c.Release();
  return 0;
}

CMimerConnection& CMimerDatabase::GetConn(enMimerConnAccessType) {
  static CMimerConnection* connection = new CMimerConnection(&Connection::Default());
  return *connection;
}

void CMimerDatabase::AtLastClose(void (*fn)()) { Connection::AtLastClose(fn); }

void CMimerDatabase::BeginTransaction() { Connection::Default().Begin(); }
void CMimerDatabase::BeginReadTransaction() { Connection::Default().Begin(false); }
void CMimerDatabase::CommitTransaction() { Connection::Default().Commit(); }
void CMimerDatabase::RollbackTransaction() { Connection::Default().Rollback(); }
void CMimerDatabase::LeaveTransaction() { Connection::Default().Leave(); }
