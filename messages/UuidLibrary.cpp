#include "UuidLibrary.h"

#include "MimerDatabase.h"

namespace zusms {

const char16_t* g_uuid_library_name = platform::kUuidLibraryFile;

UuidLibrary::UuidLibrary() : module_(platform::LoadLibraryW(g_uuid_library_name)) {
  if (!module_) return;
  is_valid_ = reinterpret_cast<IsValidFn>(platform::GetProcAddress(module_, "IsUUIDValid"));
  create_ = reinterpret_cast<CreateFn>(platform::GetProcAddress(module_, "CreateUUID"));
}

UuidLibrary::~UuidLibrary() { Release(); }

void UuidLibrary::MakeValid(uint8_t* uuid) const {
  if (is_valid_(uuid) != 0) return;
  // Left as it was, an all-zero UUID would make two messages look like one
  // to a synchronisation partner.
  if (create_(uuid, 0) != 0) throw CMimerException(u"no UUID could be created for the message", -1);
}

void UuidLibrary::Release() {
  if (module_) platform::FreeLibrary(module_);
  module_ = nullptr;
  is_valid_ = nullptr;
  create_ = nullptr;
}

}  // namespace zusms
