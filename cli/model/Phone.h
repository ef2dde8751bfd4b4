// Telephone numbers compared as correspondents: written differently
// ("+86 138 0013 8000", "13800138000", "0086-13800138000"), one person.
#ifndef ZUSMS_CLI_MODEL_PHONE_H_
#define ZUSMS_CLI_MODEL_PHONE_H_

#include <string>
#include <unordered_map>
#include <utility>

namespace zusms::cli {

// Whether libphonenumber knows `region` (ISO 3166, either case) as a country.
bool KnownRegion(const std::string& region);
// `region` in capitals when libphonenumber knows it, else "".
std::string RegionCode(const std::string& region);
// The region LC_ALL, LC_MESSAGES or LANG names ("zh_CN.UTF-8": "CN"), in
// capitals, when libphonenumber knows it; "" otherwise ("C.UTF-8").
std::string LocaleRegion();
// The country of a number written with its country code ("+86 138 0013
// 8000": "CN"; for a code several countries share, the one the number
// belongs to, else the code's main country); "" for a number written
// without one, or not a number.
std::string CountryOf(const std::string& written);
// The digits of such a number without its country code and trunk prefix
// ("+49 151 1234 5678": "15112345678"), direction controls in it left out;
// "" for a number written without one.
std::string NationalDigits(const std::string& written);

class PhoneNumbers {
 public:
  // `region`: the country (ISO 3166 code, "CN") of numbers written without
  // one; empty: LocaleRegion(), and when that is empty too, such numbers
  // are compared as written.
  explicit PhoneNumbers(std::string region);
  // The number in E.164 ("+8613800138000") when libphonenumber reads it as
  // a possible number; otherwise the number as written, without blanks. So
  // stays a short code ("98765", "10086"): a number written without a
  // country that libphonenumber takes for a possible short number of the
  // region and no valid full number; it has no international form.
  std::string Key(const std::string& written) const;
  const std::string& region() const { return region_; }

 private:
  std::string region_;
};

// The one rule by which the tool finds a correspondent's messages (list
// --number, conversation, conversations and every selection by number):
// a number written in a message is the one wanted when both have the same
// Key.
class NumberMatch {
 public:
  NumberMatch(PhoneNumbers numbers, const std::string& wanted)
      : numbers_(std::move(numbers)), key_(numbers_.Key(wanted)) {}
  bool operator()(const std::string& written) const;

 private:
  PhoneNumbers numbers_;
  std::string key_;
  mutable std::unordered_map<std::string, bool> seen_;  // each text read once
};

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_MODEL_PHONE_H_
