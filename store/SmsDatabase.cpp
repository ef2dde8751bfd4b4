#include "SmsDatabase.h"

#include <string>

#include "Boundary.h"
#include "Guard.h"
#include "Indexes.h"
#include "Platform.h"
#include "Transaction.h"

SmsDatabase::SmsDatabase(uint32_t userId) : CMimerDatabase(userId, 9) {}

SmsDatabase::~SmsDatabase() = default;

int32_t SmsDatabase::Open() {
  return zusms::Guard([&]() -> int32_t {
    // The platform keeps the libraries the store loads until the connection
    // closes. Registered here, where the connection opens, and never from
    // inside a load: a load may run while another thread holds the
    // connection for a batch.
    static const bool registered = (AtLastClose(&zusms::platform::ReleasePinnedLibraries), true);
    (void)registered;
    const int32_t rc = CMimerDatabase::Open();
    if (rc != 0) return rc;
    // Nearly every open finds everything in place. Finding that out under
    // the read lock alone keeps an open from waiting, and failing after the
    // busy timeout, behind another process's steady writes.
    if (!IsReadOnly() && OpenFindsAllInPlace()) return 0;
    // One transaction, holding the write lock from its start: two processes
    // opening a fresh file at once create the schema and seed the folders
    // once, and the one that comes second finds them.
    zusms::Transaction transaction;
    int32_t result = OpenSchema();
    if (result == 0) result = OpenChangeLog();
    if (result == 0) result = OpenReadState();
    if (result == 0) result = OpenMms();
    if (result == 0) result = OpenSettings();
    transaction.Commit();
    // Outside the open's transaction: building an index on a large file
    // holds the write lock for a while, and the store works without it. A
    // read-only store makes none.
    if (result == 0 && !IsReadOnly()) zusms::CreateQueryIndexes();
    return result;
  });
}

bool SmsDatabase::OpenFindsAllInPlace() {
  // Any failure here only sends the open down its full path, which reports.
  const zusms::engine::KeptLastError earlier;
  bool in_place = false;
  try {
    zusms::Transaction transaction(zusms::Transaction::Lock::kRead);
    stAppVer ver{};
    in_place = GetAppVer(ver) == 0 && MissingRecordTable() == nullptr && HasDefaultFolders() &&
               ChangeLogInPlace() && ReadStateInPlace() && MmsInPlace() && SettingsInPlace() &&
               zusms::QueryIndexesInPlace();
    transaction.Commit();
  } catch (const CMimerException&) {
    in_place = false;
  }
  return in_place;
}

int32_t SmsDatabase::OpenSchema() {
  stAppVer ver{};
  if (IsReadOnly()) {
    // Nothing is written at open: the schema, the user and its folders must
    // be there already.
    if (GetAppVer(ver) != 0 || MissingRecordTable() != nullptr) {
      zusms::engine::SetLastError(u"the store is read-only and its schema is incomplete");
      return -1;
    }
    return InitFolder();
  }
  // The schema is there only when its version reads and every record table
  // exists; otherwise the creation sequence runs (again).
  int32_t result = 0;
  std::u16string failure;
  if (GetAppVer(ver) != 0 || MissingRecordTable() != nullptr) {
    result = CreateSmsTables() != 0 ? 0 : -1;
    if (const char* missing = MissingRecordTable()) {
      failure = u"table " + zusms::engine::ToUtf16(missing) + u" could not be created: " +
                zusms::engine::LastError();
      result = -1;
    }
  }
  if (InitFolder() != 0 && failure.empty()) result = -1;
  if (!failure.empty()) zusms::engine::SetLastError(failure);
  return result;
}

int32_t SmsDatabase::BeginBatch() {
  return zusms::Guard([] {
    BeginTransaction();
    return 0;
  });
}

int32_t SmsDatabase::CommitBatch() {
  return zusms::Guard([] {
    CommitTransaction();
    return 0;
  });
}

int32_t SmsDatabase::RollbackBatch() {
  return zusms::Guard([] {
    RollbackTransaction();
    return 0;
  });
}

tagTIMESTAMP_STRUCT& SmsDatabase::GetCurrentSysTime(tagTIMESTAMP_STRUCT& out) {
  zusms::platform::SYSTEMTIME now{};
  zusms::platform::GetSystemTime(&now);
  out = tagTIMESTAMP_STRUCT{};
  out.year = static_cast<int16_t>(now.wYear);
  out.month = now.wMonth;
  out.day = now.wDay;
  out.hour = now.wHour;
  out.minute = now.wMinute;
  out.second = now.wSecond;
  return out;
}
