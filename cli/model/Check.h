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
// multimedia message left when its head was deleted, multimedia rows
// without the message's own row (with or without a head), a multimedia
// message without addresses, with parts or addresses not numbered 0 to n-1
// or an address of an unknown role (these reported and left); and runs
// SQLite's integrity_check on `file` (the store's file, opened read-only
// beside the store), and compares the store's search index with the
// messages. With `repair`, what headless multimedia messages left and
// multimedia rows with no head are removed, the messages of missing
// folders move to the user's folder "Recovered" (made when needed), each in
// one batch, and a search index that differs is made anew.
CheckReport CheckStore(Store& store, const std::string& file, bool repair);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_MODEL_CHECK_H_
