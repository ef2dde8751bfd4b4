// Helpers for the exported C functions: each checks its handle and pointer
// arguments, runs the method under a guard, and keeps the thread's last
// error in step with the status it returns.
#ifndef ZUSMS_STORE_EXPORTS_H_
#define ZUSMS_STORE_EXPORTS_H_

#include <stdexcept>
#include <string>
#include <type_traits>

#include "Boundary.h"
#include "Guard.h"
#include "SmsDatabase.h"
#include "TextIndex.h"

namespace zusms {

// Whether the calling thread is inside a caller's sink of
// StreamZuSmsMmsPartData or source of AddZuSmsMmsFrom: the call holds the
// connection and a read or write of the file for it, so the sink may not
// call the library again.
inline thread_local bool t_in_sink = false;
static_assert(std::is_trivially_destructible_v<decltype(t_in_sink)>);

// Marks the calling thread as inside a sink for its scope.
class SinkScope {
 public:
  SinkScope() { t_in_sink = true; }
  ~SinkScope() { t_in_sink = false; }
  SinkScope(const SinkScope&) = delete;
  SinkScope& operator=(const SinkScope&) = delete;
};

template <typename Fn>
int32_t Call(SmsDatabase* handle, Fn&& fn) noexcept {
  if (!handle) {
    engine::SetLastError(u"null store handle");
    return -1;
  }
  if (t_in_sink) {
    engine::SetLastError(u"the library was called from inside a sink or source of its own call");
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

// The message heads as the search reads them (messages/SmsHeadSearch.cpp).
const CMimerTextSource& HeadSearchSource();

}  // namespace zusms

// The eight exported record functions of a family, each forwarding to the
// method whose name it carries without "Zu".
#define ZU_EXPORT_RECORD_FUNCTIONS(Record, Name)                                               \
  extern "C" {                                                                                 \
  ZUSMS_API int32_t ZUSMS_CALL AddZu##Name(SmsDatabase* h, Record* rec, uint32_t* newId) {     \
    return ::zusms::Call(h, [&](SmsDatabase& db) {                                             \
      return db.Add##Name(::zusms::Ref(rec, "rec"), ::zusms::Ref(newId, "newId"));             \
    });                                                                                        \
  }                                                                                            \
  ZUSMS_API int32_t ZUSMS_CALL UpdateZu##Name(SmsDatabase* h, Record* rec) {                   \
    return ::zusms::Call(                                                                      \
        h, [&](SmsDatabase& db) { return db.Update##Name(::zusms::Ref(rec, "rec")); });        \
  }                                                                                            \
  ZUSMS_API int32_t ZUSMS_CALL DeleteZu##Name(SmsDatabase* h, uint32_t id) {                   \
    return ::zusms::Call(h, [&](SmsDatabase& db) { return db.Delete##Name(id); });             \
  }                                                                                            \
  ZUSMS_API int32_t ZUSMS_CALL DeleteAllZu##Name(SmsDatabase* h) {                             \
    return ::zusms::Call(h, [&](SmsDatabase& db) { return db.DeleteAll##Name(); });            \
  }                                                                                            \
  ZUSMS_API int32_t ZUSMS_CALL GetZu##Name(SmsDatabase* h, uint32_t id, Record* rec) {         \
    return ::zusms::Call(                                                                      \
        h, [&](SmsDatabase& db) { return db.Get##Name(id, ::zusms::Ref(rec, "rec")); });       \
  }                                                                                            \
  ZUSMS_API int32_t ZUSMS_CALL GetZu##Name##Count(SmsDatabase* h, uint32_t* n) {               \
    return ::zusms::Call(                                                                      \
        h, [&](SmsDatabase& db) { return db.Get##Name##Count(::zusms::Ref(n, "n")); });        \
  }                                                                                            \
  ZUSMS_API int32_t ZUSMS_CALL GetAllZu##Name##ID(SmsDatabase* h, uint32_t* ids,               \
                                                  uint32_t capacity, uint32_t* n) {            \
    return ::zusms::Call(h, [&](SmsDatabase& db) {                                             \
      return db.GetAll##Name##ID(ids, capacity, ::zusms::Ref(n, "n"));                         \
    });                                                                                        \
  }                                                                                            \
  ZUSMS_API int32_t ZUSMS_CALL GetAllZu##Name(SmsDatabase* h, Record* recs, uint32_t capacity, \
                                              uint32_t* n) {                                   \
    return ::zusms::Call(h, [&](SmsDatabase& db) {                                             \
      return db.GetAll##Name(recs, capacity, ::zusms::Ref(n, "n"));                            \
    });                                                                                        \
  }                                                                                            \
  }

#endif  // ZUSMS_STORE_EXPORTS_H_
