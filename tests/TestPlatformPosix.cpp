#include <stdlib.h>
#include <sys/stat.h>

#include "TestPlatform.h"

namespace zusms::testing {

void SetEnv(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }
void UnsetEnv(const char* name) { unsetenv(name); }

const char kDataHomeVariable[] = "XDG_DATA_HOME";
const char16_t kLibraryWithoutUuidFunctions[] = u"libsqlite3.so.0";

std::optional<unsigned> FileMode(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  return st.st_mode & 0777;
}

}  // namespace zusms::testing
