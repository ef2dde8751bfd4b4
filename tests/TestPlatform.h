// What the tests need from the operating system, one small file per platform
// (TestPlatformPosix.cpp, TestPlatformWindows.cpp).
#ifndef ZUSMS_TESTS_TESTPLATFORM_H_
#define ZUSMS_TESTS_TESTPLATFORM_H_

#include <optional>
#include <string>

namespace zusms::testing {

// Sets or removes an environment variable of this process; names and values
// are UTF-8 (Windows keeps them as wide characters, where the library reads
// them).
void SetEnv(const char* name, const std::string& value);
void UnsetEnv(const char* name);

// The variable that names the folder in which the default database folder
// zusms/ is made: XDG_DATA_HOME, or LOCALAPPDATA on Windows.
extern const char kDataHomeVariable[];

// A library that loads but has no UUID functions.
extern const char16_t kLibraryWithoutUuidFunctions[];

// The file's permission bits, where the platform has them (not on Windows).
std::optional<unsigned> FileMode(const std::string& path);

}  // namespace zusms::testing

#endif  // ZUSMS_TESTS_TESTPLATFORM_H_
