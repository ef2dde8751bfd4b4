// Whole-store backups as JSON, and messages in the XML that phone SMS backup
// apps write and read.
#ifndef ZUSMS_CLI_BACKUP_INTERCHANGE_H_
#define ZUSMS_CLI_BACKUP_INTERCHANGE_H_

#include <cstddef>
#include <ostream>
#include <unordered_set>
#include <vector>

#include "backup/Importer.h"
#include "backup/MmsRecord.h"
#include "model/Store.h"

namespace zusms::cli {

// What an export wrote.
struct ExportReport {
  size_t messages = 0;  // a long message once
  size_t records = 0;   // JSON: records of the kinds other than messages and folders
  size_t folders = 0;   // JSON
  size_t replaced = 0;  // XML: characters XML 1.0 cannot carry, written as U+FFFD
  size_t left_out = 0;  // XML: multimedia attributes named as XML allows no name, or twice
};
// The heads an export writes: all of them, or those whose ids `only` holds.
using HeadIds = std::unordered_set<int32_t>;
ExportReport ExportJson(Store& store, std::ostream& out, const HeadIds* only = nullptr);
// The messages, one <sms> each (long messages joined), a multimedia
// message as an <mms> with its parts and addresses.
ExportReport ExportXml(Store& store, std::ostream& out, bool progress,
                       const HeadIds* only = nullptr);
// Both import in two passes (backup/Importer.h). A message whose number,
// time and text the user has already is not added again; from JSON, nor
// one with one of its UUIDs, nor a record of another kind with all its
// fields.
ImportReport ImportJson(Store& store, const InputFile& file, const ImportOptions& o);
ImportReport ImportXml(Store& store, const InputFile& file, const ImportOptions& o);

struct XmlSms;
struct XmlMms;
// The heads that store one <sms>; a Failure names what is wrong with it.
std::vector<SmsHead> SmsHeads(const XmlSms& sms);
// The records that store one <mms>; likewise.
MmsRecord MmsRecordOf(XmlMms& mms);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_BACKUP_INTERCHANGE_H_
