// Whose a message is: the person a telephone number stands for, however it
// is written. "+86 138 0013 8000", "138-0013-8000" and "008613800138000"
// are one person in China; "10086" stays a short number of its own and
// "BANK" a sender's name. The countries' calling codes and prefixes
// (Regions.inc) are made from libphonenumber once, by
// scripts/region_table.cpp; nothing here needs it at run time.
#ifndef ZUSMS_SEARCH_NUMBERS_H_
#define ZUSMS_SEARCH_NUMBERS_H_

#include <string>
#include <string_view>

namespace zusms::search {

// The shortest number, without its trunk prefix, that is read as a full
// national number: shorter ones (service numbers, short codes) are kept as
// they are written.
constexpr size_t kShortestNational = 7;

// Whether `region` (ISO 3166, "CN"; either case) is a country numbers can be
// read by.
bool KnownRegion(std::string_view region);

// The person `tel` stands for, as a text: a number written with its country
// ("+", or the international prefix of `region`) becomes "+" and its digits;
// a number of `region` written without it becomes "+", the country's calling
// code and its national digits (the trunk prefix dropped), unless it is
// shorter than kShortestNational; anything else is the text without
// spaces, dashes, dots, slashes and parentheses. Without a known region only
// numbers written with "+" are read. A key is its own key.
std::u16string PersonKey(std::u16string_view tel, std::string_view region);

}  // namespace zusms::search

#endif  // ZUSMS_SEARCH_NUMBERS_H_
