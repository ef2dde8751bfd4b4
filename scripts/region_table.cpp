// Writes search/Regions.inc, the table search/Numbers.cpp reads numbers
// with: for each country libphonenumber knows, its calling code, the
// prefix its numbers take at home (trunk prefix) and the prefix it dials
// abroad with. Run once per libphonenumber release, from the repository's
// top folder:
//
//   g++ -std=c++20 -O2 scripts/region_table.cpp -lphonenumber -o /tmp/region_table &&
//     /tmp/region_table > search/Regions.inc
//
// The library then needs no libphonenumber.
#include <phonenumbers/phonenumberutil.h>

#include <cstdio>
#include <set>
#include <string>

using i18n::phonenumbers::PhoneNumber;
using i18n::phonenumbers::PhoneNumberUtil;

int main() {
  const PhoneNumberUtil& util = *PhoneNumberUtil::GetInstance();
  std::set<std::string> regions;
  util.GetSupportedRegions(&regions);
  // A number of another country, written as a caller in `region` dials it:
  // what comes before that country's code is the region's prefix.
  PhoneNumber abroad;
  abroad.set_country_code(41);
  abroad.set_national_number(446681800ULL);
  std::printf(
      "// The countries numbers are read by, made by scripts/region_table.cpp from\n"
      "// libphonenumber: code, calling code, trunk prefix, international prefix.\n");
  for (const std::string& region : regions) {
    std::string trunk, dialled;
    util.GetNddPrefixForRegion(region, true, &trunk);
    if (region != "CH") {
      util.FormatOutOfCountryCallingNumber(abroad, region, &dialled);
    } else {
      PhoneNumber other;
      other.set_country_code(44);
      other.set_national_number(2079460000ULL);
      util.FormatOutOfCountryCallingNumber(other, region, &dialled);
    }
    std::string idd;
    for (const char c : dialled) {
      if (c == ' ') break;
      if (c >= '0' && c <= '9') idd += c;
    }
    if (dialled.empty() || dialled[0] == '+') idd.clear();
    std::printf("{\"%s\", %d, \"%s\", \"%s\"},\n", region.c_str(),
                util.GetCountryCodeForRegion(region), trunk.c_str(), idd.c_str());
  }
}
