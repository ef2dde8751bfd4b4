// The store's home region: the country of the numbers its messages write
// without one, kept with the store (the library's setting "region") so that
// a number is read alike whatever the locale of the command that reads it;
// and the numbers of the store as the one matching rule (NumberMatch) reads
// them.
#ifndef ZUSMS_CLI_MODEL_REGION_H_
#define ZUSMS_CLI_MODEL_REGION_H_

#include <string>
#include <vector>

#include "model/Phone.h"
#include "model/Store.h"

namespace zusms::cli {

// The store's region ("" when none is kept), and keeping one ("" removes it).
std::string StoreRegion(Store& store);
void KeepRegion(Store& store, const std::string& region);

// How a command reads numbers: as the --region option says (`option`), else
// as the store's region, else as the locale's (PhoneNumbers).
PhoneNumbers NumbersOf(Store& store, const std::string& option);

// Every way the user's messages write the number `match` wants, each text
// once: one pass over the store. What `list --number` and every selection
// by number look for.
std::vector<std::string> WrittenForms(Store& store, const NumberMatch& match);

// The region the store's numbers suggest: the country most of the numbers
// written with a country code belong to (each number counted once); else
// LocaleRegion(); "" when neither names one. `why` says which.
std::string GuessRegion(Store& store, std::string& why);

// After an import into a store that keeps no region: keeps `option` when
// given, else the guess; when there is none, asks on a terminal (`may_ask`:
// standard input is free for it). Says on standard error what it kept, or
// that numbers without a country stay compared as written, and how to set
// the region.
void SettleRegionAfterImport(Store& store, const std::string& option, bool may_ask);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_MODEL_REGION_H_
