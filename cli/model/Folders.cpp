#include "model/Folders.h"

#include <fmt/format.h>

#include <cstdlib>
#include <string_view>

#include "text/Print.h"

namespace zusms::cli {

namespace {

constexpr const char* kEnglish[] = {"inbox",
                                    "SIM 1",
                                    "SIM 1 (inactive)",
                                    "SIM 2",
                                    "SIM 2 (inactive)",
                                    "outbox",
                                    "sent",
                                    "drafts",
                                    "trash",
                                    "cell broadcasts",
                                    "voicemail (CDMA)",
                                    "voicemail (GSM)",
                                    "notifications",
                                    "memory card"};
constexpr const char* kChinese[] = {"\u6536\u4ef6\u7bb1",
                                    "SIM\u53611",
                                    "SIM\u53611\uff08\u672a\u6fc0\u6d3b\uff09",
                                    "SIM\u53612",
                                    "SIM\u53612\uff08\u672a\u6fc0\u6d3b\uff09",
                                    "\u53d1\u4ef6\u7bb1",
                                    "\u5df2\u53d1\u9001",
                                    "\u8349\u7a3f\u7bb1",
                                    "\u5e9f\u4ef6\u7bb1",
                                    "\u5c0f\u533a\u5e7f\u64ad",
                                    "\u8bed\u97f3\u4fe1\u7bb1\uff08CDMA\uff09",
                                    "\u8bed\u97f3\u4fe1\u7bb1\uff08GSM\uff09",
                                    "\u901a\u77e5\u7bb1",
                                    "\u6269\u5c55\u5361"};

}  // namespace

std::string RoleName(const SmsFolder& f) {
  if (f.system != 1 || f.FdId < 1 || f.FdId > 14) return "";
  return (ChineseLocale() ? kChinese : kEnglish)[f.FdId - 1];
}

std::map<int32_t, std::string> FolderNames(Store& store) {
  std::map<int32_t, std::string> names;
  for (const SmsFolder& f : store.Folders()) names[f.FdId] = Utf8(f.fname);
  return names;
}

bool IsRoleName(const std::string& name) {
  for (const auto* roles : {kEnglish, kChinese}) {
    for (size_t i = 0; i < std::size(kEnglish); ++i) {
      if (SameButForCase(name, roles[i])) return true;
    }
  }
  return false;
}

const char* WhyNotAFolderName(const std::string& name) {
  if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos) {
    return "would read as a folder number wherever a folder is asked";
  }
  if (IsRoleName(name)) return "is the role of a default folder";
  return nullptr;
}

SmsFolder FindFolder(Store& store, const std::string& text) {
  const std::vector<SmsFolder> folders = store.Folders();
  const bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
  std::vector<SmsFolder> found;
  for (const SmsFolder& f : folders) {
    if (digits ? text.size() < 10 && f.FdId == std::stoi(text) : Utf8(f.fname) == text) {
      found.push_back(f);
    }
  }
  // No number and no stored name given exactly: names and roles in any case.
  for (const SmsFolder& f : found.empty() && !digits ? folders : std::vector<SmsFolder>()) {
    const bool role =
        f.system == 1 && f.FdId >= 1 && f.FdId <= 14 &&
        (SameButForCase(text, kEnglish[f.FdId - 1]) || SameButForCase(text, kChinese[f.FdId - 1]));
    if (role || SameButForCase(text, Utf8(f.fname))) found.push_back(f);
  }
  if (found.size() == 1) return found.front();
  if (found.empty()) {
    throw Failure(
        fmt::format("no folder {} (zusms folders lists them)", digits ? text : "\"" + text + "\""));
  }
  if (digits) {
    throw Failure(fmt::format("folder number {} is taken by {} (zusms check reports it)", text,
                              Counted(found.size(), "folder")));
  }
  std::string numbers;
  for (const SmsFolder& f : found) {
    numbers += (numbers.empty() ? "" : ", ") + std::to_string(f.FdId);
  }
  throw Failure(
      fmt::format("\"{}\" names more than one folder ({}): give the number", text, numbers));
}

SmsFolder RecoveredFolder(Store& store, const std::function<void(const SmsFolder&)>& made) {
  for (const SmsFolder& f : store.Folders()) {
    if (!f.system && Utf8(f.fname) == kRecovered) return f;
  }
  SmsFolder f{};
  SetText(f.fname, kRecovered);
  uint32_t id = 0;
  Check(AddZuSmsFolder(*store, &f, &id), "adding the folder Recovered");
  made(f);
  return f;
}

}  // namespace zusms::cli
