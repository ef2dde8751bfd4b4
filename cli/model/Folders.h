// Folders as the tool shows them: the stored name, and for the default
// folders a role name in the user's language.
#ifndef ZUSMS_CLI_MODEL_FOLDERS_H_
#define ZUSMS_CLI_MODEL_FOLDERS_H_

#include <cstdint>
#include <map>
#include <string>

#include "model/Store.h"

namespace zusms::cli {

// The role of a default folder (numbers 1 to 14) in the user's language
// (Chinese for a Chinese locale, English otherwise);
// "" for other folders.
std::string RoleName(const SmsFolder& f);
// Folder number to the name shown in listings.
std::map<int32_t, std::string> FolderNames(Store& store);
// A Failure unless the user has a folder with this number.
void RequireFolder(Store& store, int32_t number);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_MODEL_FOLDERS_H_
