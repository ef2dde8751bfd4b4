// What the tests need from the operating system, one small file per platform
// (TestPlatformPosix.cpp, TestPlatformWindows.cpp).
#ifndef ZUSMS_TESTS_TESTPLATFORM_H_
#define ZUSMS_TESTS_TESTPLATFORM_H_

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

// The path of a program built beside the running test program ("name" gets
// ".exe" on Windows).
std::string ProgramBeside(const std::string& name);

// A child process running `program` with `args`; it inherits the
// environment. Killed when it is destroyed still running.
class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& args);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return handle_ != 0; }
  // The exit code; -1 when it has not ended within `limit` (it then runs on).
  int Wait(std::chrono::seconds limit);
  void Kill();

 private:
  intptr_t handle_ = 0;  // the process id, or its HANDLE on Windows
  bool ended_ = false;
};

}  // namespace zusms::testing

#endif  // ZUSMS_TESTS_TESTPLATFORM_H_
