// The calling thread's transaction for the length of a scope: committed by
// Commit, left uncommitted when the scope is left any other way (rolled back
// when it is the outermost; see CMimerDatabase::LeaveTransaction inside a
// caller's batch).
#ifndef ZUSMS_STORE_TRANSACTION_H_
#define ZUSMS_STORE_TRANSACTION_H_

#include "MimerDatabase.h"

namespace zusms {

class Transaction {
 public:
  enum class Lock { kWrite, kRead };
  // kWrite holds the write lock from the start; kRead only reads.
  explicit Transaction(Lock lock = Lock::kWrite) {
    if (lock == Lock::kWrite) {
      CMimerDatabase::BeginTransaction();
    } else {
      CMimerDatabase::BeginReadTransaction();
    }
  }
  ~Transaction() {
    if (open_) {
      try {
        CMimerDatabase::LeaveTransaction();
      } catch (...) {
        // Nothing more can be done while unwinding.
      }
    }
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  void Commit() {
    open_ = false;
    CMimerDatabase::CommitTransaction();
  }

 private:
  bool open_ = true;
};

}  // namespace zusms

#endif  // ZUSMS_STORE_TRANSACTION_H_
