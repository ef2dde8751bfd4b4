// Whole-store backups as JSON, and messages in the XML that phone SMS backup
// apps write and read.
#ifndef ZUSMS_CLI_INTERCHANGE_H_
#define ZUSMS_CLI_INTERCHANGE_H_

#include <cstddef>
#include <cstdint>
#include <istream>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "Store.h"

namespace zusms::cli {

struct ImportReport {
  size_t added = 0;                      // messages (JSON: records)
  size_t updated = 0;                    // default folders renamed
  size_t skipped = 0;                    // already there
  size_t invalid = 0;                    // records skipped as invalid (--skip-invalid)
  std::vector<std::string> problems;     // "line N: reason" of the first invalid records
  size_t mms = 0;                        // <mms> elements, not imported
  std::map<std::string, size_t> others;  // other elements, not imported
  size_t names_cut = 0;                  // contact names cut to the field's length
  std::string cut;                       // where the file stops being XML, when it was skipped
};

struct ImportOptions {
  bool skip_invalid = false;
  bool progress = false;
};

// The file to import: a path, or standard input kept in a temporary file,
// so that it can be read twice.
class InputFile {
 public:
  explicit InputFile(const std::string& path);
  std::unique_ptr<std::istream> Open() const;
  size_t size() const { return size_; }
  const std::string& path() const { return path_; }
  bool LooksLikeXml() const;

 private:
  std::string path_, spooled_;
  size_t size_ = 0;
};

// Raised when the user interrupts an import (Ctrl-C): the batch in
// progress is rolled back, `stored` messages of the file are in the store.
struct Interrupted {
  size_t stored;
};
// Set by the SIGINT handler that ImportXml and ImportJson install.
bool InterruptRequested();

void ExportJson(Store& store, std::ostream& out);
// The messages, one <sms> each (long messages joined); returns how many
// characters XML 1.0 cannot carry were written as U+FFFD.
size_t ExportXml(Store& store, std::ostream& out, bool progress);
// Both check the whole file first: unless `skip_invalid`, a malformed file
// or a record that cannot be stored whole is a Failure naming the line or
// record, and nothing is imported. Then records go in, in transactions of
// many rows. A message whose number, time and text the user has already is
// not added again.
ImportReport ImportJson(Store& store, std::string_view content, bool show_progress);
ImportReport ImportXml(Store& store, const InputFile& file, const ImportOptions& o);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_INTERCHANGE_H_
