// Telephone numbers compared as correspondents: written differently
// ("+86 138 0013 8000", "13800138000", "0086-13800138000"), one person.
#ifndef ZUSMS_CLI_MODEL_PHONE_H_
#define ZUSMS_CLI_MODEL_PHONE_H_

#include <string>

namespace zusms::cli {

// Whether libphonenumber knows `region` (ISO 3166, either case) as a country.
bool KnownRegion(const std::string& region);

class PhoneNumbers {
 public:
  // `region`: the country (ISO 3166 code, "CN") of numbers written without
  // one; empty: taken from LC_ALL, LC_MESSAGES or LANG ("zh_CN.UTF-8"), and
  // when none names a region libphonenumber knows, such numbers are
  // compared as written.
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

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_MODEL_PHONE_H_
