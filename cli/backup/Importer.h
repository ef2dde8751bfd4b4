// One import of a backup file, whatever its format, in two passes over the
// file. The first checks every record and stores nothing. Then the verdict:
// a file that holds nothing to import is refused, and so, unless invalid
// records are to be skipped, is a file with any record that cannot be
// stored whole (each named, up to kProblemsShown). The second pass adds the
// valid records in batches of about 1,000 rows; a message the user has
// already is not added again. A format keeps only its reading: it hands
// the importer its records, in each pass (BackupFormat).
#ifndef ZUSMS_CLI_BACKUP_IMPORTER_H_
#define ZUSMS_CLI_BACKUP_IMPORTER_H_

#include <cstddef>
#include <functional>
#include <istream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backup/MmsRecord.h"
#include "backup/StoredMessages.h"
#include "model/Messages.h"
#include "model/Store.h"
#include "text/Interrupt.h"
#include "text/Print.h"

namespace zusms::cli {

struct ImportReport {
  size_t added = 0;                      // messages, a long one counting once
  size_t skipped = 0;                    // messages already there
  size_t records_added = 0;              // JSON: records of the other kinds
  size_t records_skipped = 0;            // JSON: ... already there
  size_t updated = 0;                    // JSON: default folders renamed
  size_t invalid = 0;                    // records skipped as invalid (--skip-invalid)
  std::vector<std::string> problems;     // "line N: reason" of the first invalid records
  size_t mms = 0;                        // multimedia messages added
  std::map<std::string, size_t> others;  // other elements, not imported
  size_t names_cut = 0;                  // contact names cut to the field's length
  size_t recovered = 0;                  // JSON: records of messages whose folder no one has ...
  int32_t recovered_into = 0;            // ... kept in this folder ("Recovered")
  std::string cut;                       // where the file stops being readable, when skipped
};

// Raised after the summary of an import that left records of the file out
// (skipped as invalid, or after the place where the file is cut): the tool
// exits with status 4.
struct ImportIncomplete {};
constexpr int kImportIncompleteStatus = 4;

// Raised when the user interrupts an import (Ctrl-C, text/Interrupt.h):
// the batch in progress is rolled back; of the first `read` messages of
// the file, `stored` are in the store once it is (whoever stored them,
// and when). While `checking` (the first pass, or waiting to begin adding)
// nothing was added; `read` counts the messages the first pass got to.
struct Interrupted {
  size_t stored, read;
  bool checking;
};

// How many invalid records an import names; the others are counted.
constexpr size_t kProblemsShown = 20;

struct ImportOptions {
  bool skip_invalid = false;
  bool progress = false;
};

// The file to import: a path, or standard input (a pipe, a device) kept in
// a temporary file that has no name, so that it can be read twice. A
// Failure that says why when the copy cannot be made whole (a full folder,
// more than any backup holds, Ctrl-C during the copy). A file packed with
// gzip or zip is read unpacked (kept so in a nameless temporary file); a
// file of another kind that people take for a backup (a vCard, an image, an
// SQLite database, other packers) is a Failure that says what it is.
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
  void Recognise();
  std::string path_;
  std::unique_ptr<TemporaryFile> spooled_;
  size_t size_ = 0;
};

// The error of an import refused for invalid records: each named, and how
// to store the valid ones.
std::string Refusal(const ImportReport& r);

// How the first pass found the file.
struct FirstPass {
  std::string cut;      // where the file stops being readable ("line N: ..."), empty when whole
  std::string nothing;  // why the file holds nothing to import, empty when it holds something
};

class Importer;

// What a format gives the importer: its reading of the file, twice.
class BackupFormat {
 public:
  virtual ~BackupFormat() = default;
  // Whether a message of the file is also known by its UUIDs (this tool's
  // own export keeps them).
  virtual bool MessagesHaveUuids() const = 0;
  // The first pass: tells `import` of every record (Checked).
  virtual FirstPass CheckFile(Importer& import) = 0;
  // The second pass, after the verdict: hands `import` every valid record
  // (AddMessage, AddRecord).
  virtual void AddFile(Importer& import) = 0;
};

// Imports `file` through `format`: a Failure when the verdict refuses it.
ImportReport Import(Store& store, const InputFile& file, const ImportOptions& o,
                    BackupFormat& format);

// What the formats tell the importer as they read.
class Importer {
 public:
  Importer(Store& store, const InputFile& file, const ImportOptions& o, bool by_uuid);
  Store& store() { return store_; }
  ImportReport& report() { return report_; }

  // At every record, in either pass: an Interrupted when Ctrl-C was pressed.
  void Next() const;
  // First pass: a valid message of the file, whole.
  void Seen(const Message& m) { read_.Add(m); }
  // First pass: a valid multimedia message of the file, with its identity.
  void SeenMms(const MmsRecord& m, const std::string& identity);
  // The bytes of the file read so far in this pass.
  void Bytes(size_t bytes) { progress_.Set((adding_ ? file_.size() : 0) + bytes); }

  // First pass: a record of the file, with why it cannot be stored (empty
  // when it can).
  void Checked(const std::string& problem);
  // First pass: a record checked already that cannot be stored after all.
  void Invalid(const std::string& problem);

  // Second pass: a message of the file (sealed), added unless the user has
  // it; `what` names it in the error of an add that fails. True when added.
  bool AddMessage(const Message& m, std::string_view what);
  // Second pass: a multimedia message of the file, added unless the user
  // has one with its identity. True when added.
  bool AddMms(MmsRecord& m, const std::string& identity, std::string_view what);
  // Second pass: a record of another kind; `add` stores it unless the user
  // has it, and says whether it did.
  void AddRecord(const std::function<bool()>& add);
  // The number of the batch in progress: it rises when a batch commits,
  // and what the user has is to be read again then, under the new batch's
  // write lock.
  size_t batch() const { return batch_; }

 private:
  friend ImportReport Import(Store&, const InputFile&, const ImportOptions&, BackupFormat&);
  void Verdict(const FirstPass& first);
  void StartAdding();
  void Rows(size_t n);
  void Finish() { batches_->Finish(); }
  // Rolls the batch in progress back and says how many of the messages
  // read the store holds.
  void Stopped(Interrupted& stop);

  Store& store_;
  const InputFile& file_;
  const ImportOptions& options_;
  ImportReport report_;
  Progress progress_;
  StoredMessages stored_;
  ReadMessages read_;   // of the pass in progress
  size_t records_ = 0;  // checked in the first pass
  bool adding_ = false;
  bool mms_ = false;  // the file holds multimedia messages
  std::optional<Batches> batches_;
  size_t batch_ = 0, refreshed_ = 0;
};

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_BACKUP_IMPORTER_H_
