// Backup XML as it reaches the import: the byte filter, the streaming
// parser and the conversion of each <sms> to heads and each <mms> to its
// records (its parts' base64 decoded by the filter). Nothing may crash, the
// filter's output may not depend on how the input is cut into chunks and is
// UTF-8 whatever the input holds, and every head made must fit its fields.
#include <utf8cpp/utf8.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "backup/Interchange.h"
#include "backup/XmlReader.h"

using namespace zusms::cli;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t split = data[0] % (size + 1);
  const std::string_view xml(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string filtered = FilterXml(xml, split);
  if (filtered != FilterXml(xml, xml.size())) std::abort();
  if (!utf8::is_valid(filtered.begin(), filtered.end())) std::abort();
  std::istringstream in{std::string(xml)};
  ReadXmlBackup(
      in,
      [](const XmlSms& sms) {
        try {
          for (const SmsHead& h : SmsHeads(sms)) {
            if (h.content[std::size(h.content) - 1] != 0 || h.tel[std::size(h.tel) - 1] != 0 ||
                h.name[std::size(h.name) - 1] != 0)
              std::abort();
          }
        } catch (const Failure&) {
        }
      },
      [](XmlMms& mms) {
        try {
          const MmsRecord m = MmsRecordOf(mms);
          if (m.head.tel[std::size(m.head.tel) - 1] != 0 ||
              m.head.content[std::size(m.head.content) - 1] != 0 || m.addrs.empty())
            std::abort();
          for (const MmsPart& p : m.parts)
            if (p.data.size > ZU_MMS_PART_MAX || p.desc.datalen != p.data.size) std::abort();
        } catch (const Failure&) {
        }
      },
      [](size_t) {});
  return 0;
}
