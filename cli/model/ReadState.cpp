#include "model/ReadState.h"

#include <algorithm>
#include <cstring>

namespace zusms::cli {

namespace {

std::vector<uint32_t> UnreadIds(Store& store) {
  return ReadAll<uint32_t>(store, GetZuSmsUnreadHeadCount, GetAllZuSmsUnreadHeadID,
                           "unread messages");
}

}  // namespace

UnreadHeads::UnreadHeads(Store& store) {
  for (const uint32_t id : UnreadIds(store)) ids_.insert(static_cast<int32_t>(id));
}

bool UnreadHeads::Unread(const Message& m) const {
  return std::any_of(m.parts.begin(), m.parts.end(),
                     [this](const SmsHead& p) { return ids_.contains(p.id); });
}

bool SetRead(Store& store, const Message& m, bool read) {
  bool changed = false;
  for (const SmsHead& p : m.parts) {
    const auto id = static_cast<uint32_t>(p.id);
    int32_t was = 0;
    Check(GetZuSmsHeadRead(*store, id, &was), "reading the read state of " + std::to_string(id));
    if ((was != 0) == read) continue;
    Check(SetZuSmsHeadRead(*store, id, read ? 1 : 0),
          "setting the read state of " + std::to_string(id));
    changed = true;
  }
  return changed;
}

// The unread heads are few beside the rest: each is read by its id.
UnreadCounts CountUnread(Store& store) {
  UnreadCounts counts;
  MessageCounter counter;
  for (const uint32_t id : UnreadIds(store)) {
    SmsHead h;
    std::memset(&h, 0, sizeof h);
    Check(GetZuSmsHead(*store, id, &h), "reading message " + std::to_string(id));
    if (h.id == 0 || !counter.Starts(h)) continue;
    ++counts.per_folder[h.fid];
    ++counts.total;
  }
  return counts;
}

}  // namespace zusms::cli
