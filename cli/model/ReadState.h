// Whether messages have been read. The store keeps the state per head
// (SetZuSmsHeadRead); the tool keeps it per message: all parts of a long
// message alike, and a message whose parts differ counts as unread.
#ifndef ZUSMS_CLI_MODEL_READSTATE_H_
#define ZUSMS_CLI_MODEL_READSTATE_H_

#include <cstdint>
#include <map>
#include <unordered_set>
#include <vector>

#include "model/Messages.h"
#include "model/Store.h"

namespace zusms::cli {

// The user's unread heads, read once.
class UnreadHeads {
 public:
  explicit UnreadHeads(Store& store);
  bool Contains(int32_t head) const { return ids_.contains(head); }
  // Whether any part of `m` is unread.
  bool Unread(const Message& m) const;
  size_t size() const { return ids_.size(); }

 private:
  std::unordered_set<int32_t> ids_;
};

// Marks every part of `m` read or unread; true when any part changed.
bool SetRead(Store& store, const Message& m, bool read);
// Unread messages per folder number (a long message once), and in all.
struct UnreadCounts {
  std::map<int32_t, uint32_t> per_folder;
  uint32_t total = 0;
  uint32_t In(int32_t fid) const {
    const auto it = per_folder.find(fid);
    return it == per_folder.end() ? 0 : it->second;
  }
};
UnreadCounts CountUnread(Store& store);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_MODEL_READSTATE_H_
