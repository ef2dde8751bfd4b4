// Folders as the tool shows them: the stored name, and for the default
// folders a role name in the user's language.
#ifndef ZUSMS_CLI_MODEL_FOLDERS_H_
#define ZUSMS_CLI_MODEL_FOLDERS_H_

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "model/Store.h"

namespace zusms::cli {

// The role of a default folder (numbers 1 to 14) in the user's language
// (Chinese for a Chinese locale, English otherwise);
// "" for other folders.
std::string RoleName(const SmsFolder& f);
// Folder number to the name shown in listings.
std::map<int32_t, std::string> FolderNames(Store& store);
// The folder a person names, wherever the tool asks for one: its number,
// its stored name, or the role name of a default folder in English or
// Chinese ("inbox", "sent", "drafts", ...), in any letter case. A stored name
// given exactly wins; a text that several folders answer to, or none, is a
// Failure that says so.
SmsFolder FindFolder(Store& store, const std::string& text);
// Whether `name` is the role name of a default folder (in any letter case,
// in either language): no folder of the user's own may take it.
bool IsRoleName(const std::string& name);
// Why a folder of the user's own cannot take `name` (digits alone would
// read as a number, a role's name as that default folder), or null.
const char* WhyNotAFolderName(const std::string& name);

// Where messages of a folder number that no folder has are kept: the
// user's folder "Recovered", made (and told to `made`) when there is none.
inline constexpr const char* kRecovered = "Recovered";
SmsFolder RecoveredFolder(Store& store, const std::function<void(const SmsFolder&)>& made);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_MODEL_FOLDERS_H_
