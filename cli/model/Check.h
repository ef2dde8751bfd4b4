// What `zusms check` looks for: what the tool can see is wrong in a store
// (written by another program, or by older versions of the tool), and
// SQLite's own integrity check of the file.
#ifndef ZUSMS_CLI_MODEL_CHECK_H_
#define ZUSMS_CLI_MODEL_CHECK_H_

#include <string>
#include <vector>

#include "model/Store.h"

namespace zusms::cli {

struct CheckReport {
  std::vector<std::string> findings;  // what is wrong, one line each
  std::vector<std::string> repairs;   // with `repair`: what was done, one line each
  size_t repaired = 0;                // findings that the repairs settled
};

// Looks at the user's folders, messages and filter rules: messages of a
// folder number no folder has, filter rules of one, a folder number two
// folders share, parts of a long message without its first part, what a
// multimedia message left when its head was deleted, a head with parts but
// without its multimedia row, a multimedia message without addresses (these
// two only reported); and runs SQLite's
// integrity_check on `file` (the store's file, opened read-only beside the
// store), and compares the store's search index with the messages. With
// `repair`, what headless multimedia messages left is removed, the messages
// of missing folders move to the user's folder "Recovered" (made when
// needed), each in one batch, and a search index that differs is made anew.
CheckReport CheckStore(Store& store, const std::string& file, bool repair);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_MODEL_CHECK_H_
