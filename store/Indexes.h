// Indexes that serve the store's common queries, beyond those of the schema.
#ifndef ZUSMS_STORE_INDEXES_H_
#define ZUSMS_STORE_INDEXES_H_

#include <span>

namespace zusms {

// The index statements, in the order they are run.
std::span<const char16_t* const> QueryIndexStatements();

// Creates each index that is missing, so that files made before it existed
// get it too. Runs after the open's own transaction: each index is built in
// a transaction of its own, and a failure (another process holding the
// write lock past the busy timeout, a full disk) leaves the store working
// without it until the next open; the thread's last error is left as it was.
// Not for a store opened read-only.
void CreateQueryIndexes();

// True when every one of them exists.
bool QueryIndexesInPlace();

}  // namespace zusms

#endif  // ZUSMS_STORE_INDEXES_H_
