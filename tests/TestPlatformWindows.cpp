#include <stdlib.h>
#include <windows.h>

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

std::string ProgramBeside(const std::string& name) {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, length);
  path = path.substr(0, path.find_last_of(L"\\/") + 1);
  return engine::ToUtf8(std::u16string(path.begin(), path.end())) + name + ".exe";
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args) {
  std::wstring command = L"\"" + Wide(program) + L"\"";
  for (const auto& a : args) command += L" \"" + Wide(a) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (CreateProcessW(Wide(program).c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     nullptr, &startup, &info)) {
    CloseHandle(info.hThread);
    handle_ = reinterpret_cast<intptr_t>(info.hProcess);
  }
}

ChildProcess::~ChildProcess() {
  if (!Started()) return;
  if (!ended_) Kill();
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

int ChildProcess::Wait(std::chrono::seconds limit) {
  const HANDLE process = reinterpret_cast<HANDLE>(handle_);
  if (WaitForSingleObject(process, static_cast<DWORD>(limit.count() * 1000)) != WAIT_OBJECT_0)
    return -1;
  ended_ = true;
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  return static_cast<int>(code);
}

void ChildProcess::Kill() {
  const HANDLE process = reinterpret_cast<HANDLE>(handle_);
  TerminateProcess(process, 137);
  WaitForSingleObject(process, INFINITE);
  ended_ = true;
}

}  // namespace zusms::testing
