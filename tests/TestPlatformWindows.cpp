#include <stdlib.h>

#include "TestPlatform.h"
#include "Text.h"

namespace zusms::testing {

namespace {

std::wstring Wide(const std::string& utf8) {
  const std::u16string text = engine::ToUtf16(utf8);
  return std::wstring(text.begin(), text.end());
}

}  // namespace

void SetEnv(const char* name, const std::string& value) {
  _wputenv_s(Wide(name).c_str(), Wide(value).c_str());
}
// An empty value removes the variable.
void UnsetEnv(const char* name) { _wputenv_s(Wide(name).c_str(), L""); }

const char kDataHomeVariable[] = "LOCALAPPDATA";
const char16_t kLibraryWithoutUuidFunctions[] = u"kernel32.dll";

std::optional<unsigned> FileMode(const std::string&) { return std::nullopt; }

}  // namespace zusms::testing
