// Which messages a command acts on: the conditions every listing and every
// change of messages takes, all of which a message must meet. A message is
// taken whole: its time, folder and number are its first part's; it is
// unread or locked when any part is; its text is all its parts'.
#ifndef ZUSMS_CLI_MODEL_SELECTION_H_
#define ZUSMS_CLI_MODEL_SELECTION_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/Messages.h"
#include "model/Phone.h"
#include "model/Search.h"

namespace zusms::cli {

struct Selection {
  std::vector<uint32_t> ids;  // only these messages (each whole); none: any
  std::optional<int32_t> folder;
  // Written exactly as one of these (the ways the user's messages write
  // the wanted correspondents' numbers); none: any number.
  std::optional<std::vector<std::string>> numbers;
  // Group messages that the wanted number is a member of (sorted ids): they
  // meet `numbers` whatever their head's number is.
  std::vector<uint32_t> groups;
  // Or any number this says is the wanted one (one pass over all heads).
  std::function<bool(std::u16string_view)> number_is;
  std::string since, until;  // time texts: since <= time < until
  TextQuery text;            // in the text, or with `anywhere` also number or name
  bool anywhere = false;
  bool unread = false, locked = false, long_only = false;

  // Whether the store's own ordered listing serves it (no condition the
  // tool has to check itself, and few ways of writing the number).
  bool Plain() const;
  // Whether it selects every message (no condition at all).
  bool All() const;
};

// Visits each selected message once, whole, in no particular order. Memory
// does not grow with the store: a short message is handed on as it is
// read, a long one when its parts are together.
void ForEachSelected(Store& store, const Selection& s, const std::function<void(Message&&)>& visit);

// The first `limit` selected messages in time order (newest first unless
// `oldest`; 0: all of them), and how many there are in all when that was
// counted: always with `count`, and whenever the tool read every message
// anyway (a search). Otherwise `more` says whether the limit cut the page:
// the store's ordered page costs a moment, counting all its rows much more.
struct SelectedPage {
  std::vector<Message> messages;
  std::optional<uint64_t> total;
  bool more = false;
};
SelectedPage SelectPage(Store& store, const Selection& s, bool oldest, uint32_t limit,
                        bool count = false);

// Brings the store's search index up to date, with a progress bar when
// `shown` while it is made from nothing (after an import, on the first
// search of a store made by an earlier version).
void RefreshSearch(Store& store, bool shown);

// The store's persons (ListZuSmsPersons), all of them, read at one moment,
// the one with the newest message first; the index brought up to date first.
std::vector<stSmsPerson> StorePersons(Store& store);
// The ids of the newest `limit` messages (0: all) of the store's person
// `key`, newest first, and how many it has in all.
std::vector<uint32_t> PersonMessages(Store& store, const char16_t* key, uint32_t limit,
                                     uint64_t& total);

// A correspondent as the tool knows one: the number's Key, the ways the
// user's messages write it, and the names its messages and the recipient
// history give it.
struct Person {
  std::string key;
  std::vector<std::string> numbers;
  std::vector<std::string> names;
};
// The people a name stands for, ignoring case and accents: those called
// exactly so when there are any, else those whose name contains it. One
// pass over the store.
std::vector<Person> PeopleNamed(Store& store, const PhoneNumbers& numbers, const std::string& name);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_MODEL_SELECTION_H_
