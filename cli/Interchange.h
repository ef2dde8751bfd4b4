// Whole-store backups as JSON, and messages in the XML that phone SMS backup
// apps write and read.
#ifndef ZUSMS_CLI_INTERCHANGE_H_
#define ZUSMS_CLI_INTERCHANGE_H_

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "Store.h"

namespace zusms::cli {

struct ImportReport {
  size_t added = 0;
  size_t updated = 0;
  size_t skipped = 0;  // already there
};

void ExportJson(Store& store, std::ostream& out);
void ExportXml(Store& store, std::ostream& out);
// Both check the whole file first: a malformed file or a record that cannot
// be stored whole is a Failure naming the line or record, and nothing is
// imported. Then records go in, in transactions of many rows.
ImportReport ImportJson(Store& store, std::string_view content);
ImportReport ImportXml(Store& store, std::string_view content);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_INTERCHANGE_H_
