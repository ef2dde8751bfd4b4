// Whole-store backups as JSON, and messages in the XML that phone SMS backup
// apps write and read.
#ifndef ZUSMS_CLI_BACKUP_INTERCHANGE_H_
#define ZUSMS_CLI_BACKUP_INTERCHANGE_H_

#include <cstddef>
#include <cstdint>
#include <istream>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "model/Store.h"

namespace zusms::cli {

struct ImportReport {
  size_t added = 0;                      // messages, a long one counting once
  size_t skipped = 0;                    // messages already there
  size_t records_added = 0;              // JSON: records of the other kinds
  size_t records_skipped = 0;            // JSON: ... already there
  size_t updated = 0;                    // JSON: default folders renamed
  size_t invalid = 0;                    // records skipped as invalid (--skip-invalid)
  std::vector<std::string> problems;     // "line N: reason" of the first invalid records
  size_t mms = 0;                        // <mms> elements, not imported
  std::map<std::string, size_t> others;  // other elements, not imported
  size_t names_cut = 0;                  // contact names cut to the field's length
  std::string cut;                       // where the file stops being XML, when it was skipped
};

// Raised after the summary of an import that left records of the file out
// (skipped as invalid, or after the place where the file is cut): the tool
// exits with status 4.
struct ImportIncomplete {};
constexpr int kImportIncompleteStatus = 4;

struct ImportOptions {
  bool skip_invalid = false;
  bool progress = false;
};

// The file to import: a path, or standard input kept in a temporary file,
// so that it can be read twice.
class InputFile {
 public:
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  std::unique_ptr<std::istream> Open() const;
  size_t size() const { return size_; }
  const std::string& path() const { return path_; }
  bool LooksLikeXml() const;

 private:
  std::string path_, spooled_;
  size_t size_ = 0;
};

// Raised when the user interrupts an import (Ctrl-C, text/Interrupt.h):
// the batch in progress is rolled back, `stored` messages of the file are
// in the store.
struct Interrupted {
  size_t stored;
};

// How many invalid records an import names; the others are counted.
constexpr size_t kProblemsShown = 20;

void ExportJson(Store& store, std::ostream& out);
// The messages, one <sms> each (long messages joined); returns how many
// characters XML 1.0 cannot carry were written as U+FFFD.
size_t ExportXml(Store& store, std::ostream& out, bool progress);
// Both check the whole file first: unless `skip_invalid`, a malformed file
// or a record that cannot be stored whole is a Failure naming the line or
// record, and nothing is imported. Then records go in, in transactions of
// many rows. A message whose number, time and text the user has already is
// not added again.
ImportReport ImportJson(Store& store, const InputFile& file, const ImportOptions& o);
// The error of an import refused for invalid records: each named, and how
// to store the valid ones.
std::string Refusal(const ImportReport& r);
ImportReport ImportXml(Store& store, const InputFile& file, const ImportOptions& o);

struct XmlSms;
// The heads that store one <sms>; a Failure names what is wrong with it.
std::vector<SmsHead> SmsHeads(const XmlSms& sms);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_BACKUP_INTERCHANGE_H_
