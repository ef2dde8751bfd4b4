// Telephone numbers compared as correspondents: written differently
// ("+86 138 0013 8000", "13800138000", "0086-13800138000"), one person.
#ifndef ZUSMS_CLI_PHONE_H_
#define ZUSMS_CLI_PHONE_H_

#include <string>

namespace zusms::cli {

class PhoneNumbers {
 public:
  // `region`: the country (ISO 3166 code, "CN") of numbers written without
  // one; empty: taken from LC_ALL, LC_MESSAGES or LANG ("zh_CN.UTF-8"), and
  // when none names one, such numbers are compared as written.
  explicit PhoneNumbers(std::string region);
  // The number in E.164 ("+8613800138000") when libphonenumber reads it as
  // a possible number; otherwise (short codes like "98765", words) the
  // number as written, without blanks.
  std::string Key(const std::string& written) const;
  const std::string& region() const { return region_; }

 private:
  std::string region_;
};

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_PHONE_H_
