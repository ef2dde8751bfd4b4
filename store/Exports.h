// Helpers for the exported C functions: each checks its handle and pointer
// arguments, runs the method under a guard, and keeps the thread's last
// error in step with the status it returns.
#ifndef ZUSMS_STORE_EXPORTS_H_
#define ZUSMS_STORE_EXPORTS_H_

#include <stdexcept>
#include <string>

#include "Guard.h"
#include "LastError.h"
#include "SmsDatabase.h"

namespace zusms {

template <typename Fn>
int32_t Call(SmsDatabase* handle, Fn&& fn) noexcept {
  if (!handle) {
    engine::SetLastError(u"null store handle");
    return -1;
  }
  engine::ClearLastError();
  const int32_t status = Guard([&] { return fn(*handle); });
  if (status == 0) engine::ClearLastError();
  return status;
}

// The object behind a pointer argument; a null one fails the call with -1.
template <typename T>
T& Ref(T* pointer, const char* what) {
  if (!pointer) throw std::invalid_argument(std::string("null ") + what);
  return *pointer;
}

}  // namespace zusms

// The eight exported record functions of a family, each forwarding to the
// method whose name it carries without "Zu".
#define ZU_EXPORT_RECORD_FUNCTIONS(Family)                                                       \
  extern "C" {                                                                                   \
  ZUSMS_API int32_t ZUSMS_CALL AddZu##Family(SmsDatabase* h, Family* rec, uint32_t* newId) {     \
    return ::zusms::Call(h, [&](SmsDatabase& db) {                                               \
      return db.Add##Family(::zusms::Ref(rec, "rec"), ::zusms::Ref(newId, "newId"));             \
    });                                                                                          \
  }                                                                                              \
  ZUSMS_API int32_t ZUSMS_CALL UpdateZu##Family(SmsDatabase* h, Family* rec) {                   \
    return ::zusms::Call(                                                                        \
        h, [&](SmsDatabase& db) { return db.Update##Family(::zusms::Ref(rec, "rec")); });        \
  }                                                                                              \
  ZUSMS_API int32_t ZUSMS_CALL DeleteZu##Family(SmsDatabase* h, uint32_t id) {                   \
    return ::zusms::Call(h, [&](SmsDatabase& db) { return db.Delete##Family(id); });             \
  }                                                                                              \
  ZUSMS_API int32_t ZUSMS_CALL DeleteAllZu##Family(SmsDatabase* h) {                             \
    return ::zusms::Call(h, [&](SmsDatabase& db) { return db.DeleteAll##Family(); });            \
  }                                                                                              \
  ZUSMS_API int32_t ZUSMS_CALL GetZu##Family(SmsDatabase* h, uint32_t id, Family* rec) {         \
    return ::zusms::Call(                                                                        \
        h, [&](SmsDatabase& db) { return db.Get##Family(id, ::zusms::Ref(rec, "rec")); });       \
  }                                                                                              \
  ZUSMS_API int32_t ZUSMS_CALL GetZu##Family##Count(SmsDatabase* h, uint32_t* n) {               \
    return ::zusms::Call(                                                                        \
        h, [&](SmsDatabase& db) { return db.Get##Family##Count(::zusms::Ref(n, "n")); });        \
  }                                                                                              \
  ZUSMS_API int32_t ZUSMS_CALL GetAllZu##Family##ID(SmsDatabase* h, uint32_t* ids,               \
                                                    uint32_t capacity, uint32_t* n) {            \
    return ::zusms::Call(h, [&](SmsDatabase& db) {                                               \
      return db.GetAll##Family##ID(ids, capacity, ::zusms::Ref(n, "n"));                         \
    });                                                                                          \
  }                                                                                              \
  ZUSMS_API int32_t ZUSMS_CALL GetAllZu##Family(SmsDatabase* h, Family* recs, uint32_t capacity, \
                                                uint32_t* n) {                                   \
    return ::zusms::Call(h, [&](SmsDatabase& db) {                                               \
      return db.GetAll##Family(recs, capacity, ::zusms::Ref(n, "n"));                            \
    });                                                                                          \
  }                                                                                              \
  }

#endif  // ZUSMS_STORE_EXPORTS_H_
