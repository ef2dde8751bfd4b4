// The exported C functions. Each checks its handle, runs the method, and
// keeps the thread's last error in step with the status it returns.
#include "Exports.h"

#include <algorithm>
#include <new>

using zusms::Call;

extern "C" {

ZUSMS_API int32_t ZUSMS_CALL InitZuSmsDB(SmsDatabase** handle, uint32_t userId) {
  if (!handle) {
    zusms::engine::SetLastError(u"null address for the store handle");
    return -1;
  }
  *handle = new (std::nothrow) SmsDatabase(userId);
  if (!*handle) {
    zusms::engine::SetLastError(u"out of memory");
    return -2;
  }
  zusms::engine::ClearLastError();
  return 0;
}

ZUSMS_API int32_t ZUSMS_CALL UninitZuSmsDB(SmsDatabase* handle) {
  if (zusms::t_in_sink) return -1;  // the store is being read for the sink
  delete handle;
  return 0;
}

ZUSMS_API int32_t ZUSMS_CALL OpenZuSmsDB(SmsDatabase* handle) {
  return Call(handle, [](SmsDatabase& db) { return db.Open(); });
}

ZUSMS_API int32_t ZUSMS_CALL CloseZuSmsDB(SmsDatabase* handle) {
  return Call(handle, [](SmsDatabase& db) { return db.Close(); });
}

ZUSMS_API int32_t ZUSMS_CALL GetZuSmsLastError(char16_t* buf, uint32_t capacity) {
  const std::u16string& error = zusms::engine::LastError();
  if (buf && capacity > 0) {
    const size_t n = std::min<size_t>(error.size(), capacity - 1);
    std::copy_n(error.data(), n, buf);
    buf[n] = 0;
  }
  return static_cast<int32_t>(error.size());
}

ZUSMS_API int32_t ZUSMS_CALL IsZuSmsLastErrorBusy(void) {
  return zusms::engine::LastErrorBusy() ? 1 : 0;
}

}  // extern "C"

extern "C" {

ZUSMS_API int32_t ZUSMS_CALL BeginZuSmsBatch(SmsDatabase* handle) {
  return Call(handle, [](SmsDatabase& db) { return db.BeginBatch(); });
}

ZUSMS_API int32_t ZUSMS_CALL CommitZuSmsBatch(SmsDatabase* handle) {
  return Call(handle, [](SmsDatabase& db) { return db.CommitBatch(); });
}

ZUSMS_API int32_t ZUSMS_CALL RollbackZuSmsBatch(SmsDatabase* handle) {
  return Call(handle, [](SmsDatabase& db) { return db.RollbackBatch(); });
}

}  // extern "C"
