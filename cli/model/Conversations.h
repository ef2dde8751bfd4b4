// The selected messages by person, as a readable export walks them: one
// conversation per correspondent (the Key of the number, so that the ways
// of writing one number are one person) and one per group (its members'
// keys, as `conversations` groups them), newest conversation first.
#ifndef ZUSMS_CLI_MODEL_CONVERSATIONS_H_
#define ZUSMS_CLI_MODEL_CONVERSATIONS_H_

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "model/Phone.h"
#include "model/Selection.h"
#include "model/Store.h"

namespace zusms::cli {

struct Conversation {
  // A message of the conversation: its first part's id and its time
  // (seconds since 1970; -1 for a time text that is no time).
  struct Entry {
    int64_t time;
    uint32_t id;
  };
  std::string key;  // the number's Key ("+8613800138000"; a short code as written);
                    // of a group, its GroupKey ("+15550001, +15550002")
  std::vector<std::string> members;       // of a group: each member's key; empty for a person
  std::vector<std::string> member_names;  // of a group: each member's name (NamesOf), or ""
  std::string name;            // the newest message's that has one, else the recipient history's;
                               // none for a group
  std::string first, last;     // time texts of the oldest and the newest message
  size_t unread = 0;           // messages
  std::vector<Entry> entries;  // oldest first (time, then id)
};

// The selected messages grouped by person, the conversation with the newest
// message first. One pass over the selection that keeps 16 bytes a message
// (its id and time) and a few texts a person, not the messages: the caller
// reads them again by id, a page at a time.
std::vector<Conversation> GroupByPerson(Store& store, const Selection& which,
                                        const PhoneNumbers& numbers);

// The names of the people of `keys` (numbers' keys) that have one, for the
// members of groups: the name `known` gives a key (what the caller's pass
// over the selection found: the newest of the person's own messages with a
// name); else, when that pass did not read every message (`all_read`), the
// newest of the person's own messages with a name (no group message, which
// `in_group` tells by id), in one more pass over the heads for all such
// keys at once; else the recipient history's. A name that shows nothing
// is none.
std::map<std::string, std::string> NamesOf(
    Store& store, const PhoneNumbers& numbers, const std::set<std::string>& keys,
    const std::function<std::string(const std::string&)>& known, bool all_read,
    const std::function<bool(uint32_t)>& in_group);

// Between the members of a group where they are named one after another:
// a name may hold a comma ("Smith, John; +15550002").
inline constexpr const char* kMemberSeparator = "; ";

// Each member's name in `names` (as NamesOf gives them), or "".
std::vector<std::string> MemberNames(const std::vector<std::string>& members,
                                     const std::map<std::string, std::string>& names);
// The members of a group as people read them, each by its name where it
// has one (`names`, as MemberNames), else its number: "Ann Lee; +15550002";
// "" when none has a name.
std::string MembersShown(const std::vector<std::string>& members,
                         const std::vector<std::string>& names);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_MODEL_CONVERSATIONS_H_
