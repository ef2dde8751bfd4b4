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

void RequireFolder(Store& store, int32_t number) {
  for (const SmsFolder& f : store.Folders()) {
    if (f.FdId == number) return;
  }
  throw Failure(fmt::format("no folder {} (zusms folders lists them)", number));
}

}  // namespace zusms::cli
