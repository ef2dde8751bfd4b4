// The store as the command-line tool uses it: through the C API only.
#ifndef ZUSMS_CLI_MODEL_STORE_H_
#define ZUSMS_CLI_MODEL_STORE_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "ZuSmsDB.h"
#include "text/Text.h"

namespace zusms::cli {

// The folder of the library's default store: $XDG_DATA_HOME/zusms, else
// ~/.local/share/zusms ("" when HOME is not set either).
std::string DefaultFolder();
// The file a store opens for `db` (as the library finds it): `db`, else
// $ZUSMS_DB, else zuSms.dbf in DefaultFolder().
std::string StoreFile(const std::string& db);

// Throws a Failure saying what failed and the library's last-error text when
// `status` is not 0.
void Check(int32_t status, const std::string& what);

class Store {
 public:
  // `db`: the database file (empty: the library's default).
  Store(const std::string& db, uint32_t user);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  SmsDatabase* operator*() const { return handle_; }
  uint32_t user() const { return user_; }

  std::vector<SmsHead> Heads(MimerQueryFilter* filter, uint32_t limit);
  uint32_t Count(MimerQueryFilter* filter);
  // Every head that matches.
  std::vector<SmsHead> AllHeads(MimerQueryFilter* filter);
  // Visits every head of the user with an id above `after` in id order, a
  // page at a time, so that memory does not grow with the store; returns the
  // highest id visited (`after` when none). With `also`, only the heads that
  // meet those conditions too: none may name a column an index starts with
  // (fid), or each page would read the whole folder.
  int32_t ForEachHead(const std::function<void(const SmsHead&)>& visit, int32_t after = 0,
                      std::span<const _MimerQueryFilterItem> also = {});
  // The highest batid of the user's heads (0 when none has one). Inside a
  // batch, nobody else can take the next one before the batch ends.
  int32_t MaxBatid();
  std::vector<SmsFolder> Folders();
  // Messages matching one condition; of a folder number; with a UUID.
  uint32_t CountMatching(const _MimerQueryFilterItem& condition);
  uint32_t CountInFolder(int32_t fid);
  bool HasUuid(const uint8_t* uuid);
  // The UUIDs of all the user's messages, as 16-byte strings.
  std::set<std::string> Uuids();

 private:
  SmsDatabase* handle_ = nullptr;
  uint32_t user_;
  // Queries of messages and the heads they returned; printed to standard
  // error at the end when ZUSMS_COUNT_READS is set, so that a test can see
  // how a command's reading grows with the store.
  uint64_t queries_ = 0, rows_ = 0;
};

// A batch that rolls back unless committed.
class Batch {
 public:
  explicit Batch(Store& store);
  ~Batch();
  void Commit();

 private:
  Store& store_;
  bool open_ = true;
};

// Commits every `rows` rows, so that a large import does not commit per row
// and a failure or an interruption loses only the batch in progress.
class Batches {
 public:
  explicit Batches(Store& store, size_t rows = 1000) : store_(store), every_(rows) { Open(); }
  // Counts `n` rows added; true when that committed the batch.
  bool Rows(size_t n = 1) {
    rows_ += n;
    if (rows_ < every_) return false;
    batch_->Commit();
    // SQLite does not queue writers: a process that begins its next batch
    // right after committing can keep another one waiting until that one's
    // busy timeout runs out. A pause longer than a waiter's polling interval
    // (a few milliseconds a thousand rows) lets it in.
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    Open();
    return true;
  }
  void Row() { Rows(1); }
  void Finish() { batch_->Commit(); }

 private:
  void Open() {
    batch_.reset();
    batch_ = std::make_unique<Batch>(store_);
    rows_ = 0;
  }
  Store& store_;
  size_t every_, rows_ = 0;
  std::unique_ptr<Batch> batch_;
};

// Every record of a kind, through its GetAll function.
template <typename Record, typename CountFn, typename AllFn>
std::vector<Record> ReadAll(const Store& store, CountFn count, AllFn all, const char* what) {
  uint32_t n = 0;
  Check(count(*store, &n), std::string("counting ") + what);
  std::vector<Record> records(n);
  Check(all(*store, records.data(), n, &n), std::string("reading ") + what);
  records.resize(n);
  return records;
}

// Hands part `part`'s data of message `id` to `on` a piece at a time (at
// most `piece` bytes), read through the store's one pass over the part
// (StreamZuSmsMmsPartData: time in proportion to the size); returns how
// many bytes. What `on` throws comes out after the store let the part go;
// a message deleted meanwhile is a Failure.
uint64_t StreamPartData(Store& store, uint32_t id, uint32_t part,
                        const std::function<void(const uint8_t*, size_t)>& on,
                        uint32_t piece = 64 * 1024);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_MODEL_STORE_H_
