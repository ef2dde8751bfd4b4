// The run-time-loaded UUID library of message heads.
#ifndef ZUSMS_MESSAGES_UUIDLIBRARY_H_
#define ZUSMS_MESSAGES_UUIDLIBRARY_H_

#include <cstdint>

#include "Platform.h"

namespace zusms {

// The library's file name: a bare name, found the platform's way. Tests
// point it at a library that is missing or lacks a function.
extern const char16_t* g_uuid_library_name;

// Loads the library and looks up IsUUIDValid and CreateUUID; releases it when
// destroyed unless Release ran first.
class UuidLibrary {
 public:
  UuidLibrary();
  ~UuidLibrary();
  UuidLibrary(const UuidLibrary&) = delete;
  UuidLibrary& operator=(const UuidLibrary&) = delete;

  // False when the library could not be loaded or lacks a function.
  bool Usable() const { return is_valid_ && create_; }
  // Leaves a valid UUID as it is; writes a new one over an invalid one.
  // Raises when no new one can be created.
  void MakeValid(uint8_t* uuid) const;
  void Release();

 private:
  using IsValidFn = int32_t (*)(const uint8_t*);
  using CreateFn = int32_t (*)(uint8_t*, int32_t);
  platform::HMODULE module_ = nullptr;
  IsValidFn is_valid_ = nullptr;
  CreateFn create_ = nullptr;
};

}  // namespace zusms

#endif  // ZUSMS_MESSAGES_UUIDLIBRARY_H_
