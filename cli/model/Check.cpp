#include "model/Check.h"

#include <fmt/format.h>
#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "DatabaseFile.h"
#include "model/Folders.h"
#include "model/Messages.h"
#include "model/Multimedia.h"
#include "model/Selection.h"

namespace zusms::cli {

namespace {

// What SQLite's integrity_check says of the file open as `db`.
std::vector<std::string> CheckOpenFile(sqlite3* db) {
  std::vector<std::string> out;
  sqlite3_busy_timeout(db, 5000);
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA integrity_check(20)", -1, &stmt, nullptr) == SQLITE_OK) {
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      const auto* line = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
      if (line && std::string_view(line) != "ok") out.push_back(std::string("file: ") + line);
    }
    if (rc != SQLITE_DONE) out.push_back(std::string("integrity check: ") + sqlite3_errmsg(db));
  } else {
    out.push_back(std::string("integrity check: ") + sqlite3_errmsg(db));
  }
  sqlite3_finalize(stmt);
  return out;
}

// SQLite's integrity_check of the file, read-only: each problem it names.
// The file is opened as the library opens it: one this user cannot write
// (another user's store) without making, writing or removing any file
// beside it, since a -wal or -shm file of this user would lock its owner
// out; one read as unchanging under the read lock the library's reader
// holds for each read.
std::vector<std::string> IntegrityProblems(const std::string& file) {
  engine::DatabaseFile how;
  std::string why;
  if (engine::PrepareDatabaseFile(file, false, &how, &why) != SQLITE_OK) {
    return {"the file cannot be opened for its integrity check: " + why};
  }
  if (!how.read_only) how.open_flags = SQLITE_OPEN_READONLY;  // its owner's: as any reader
  sqlite3* db = nullptr;
  std::vector<std::string> out;
  if (sqlite3_open_v2(how.path.c_str(), &db, how.open_flags, how.vfs) != SQLITE_OK) {
    out.push_back(fmt::format("the file cannot be opened for its integrity check: {}",
                              db ? sqlite3_errmsg(db) : "out of memory"));
  } else {
    const int watch = how.watched ? engine::OpenWatch(how.real) : -1;
    engine::HoldWatch(watch, true);
    out = CheckOpenFile(db);
    engine::CloseWatch(watch);
  }
  sqlite3_close(db);
  return out;
}

}  // namespace

namespace {
void Inspect(Store& store, CheckReport& r, bool repair);
}  // namespace

CheckReport CheckStore(Store& store, const std::string& file, bool repair) {
  CheckReport r;
  // The file first: damage can keep the rest from being read.
  for (std::string& problem : IntegrityProblems(file)) r.findings.push_back(std::move(problem));
  try {
    Inspect(store, r, repair);
  } catch (const Failure& e) {
    r.findings.push_back(fmt::format("the store cannot be read whole: {}", e.what()));
  }
  // The search index against the messages; repaired by making it anew.
  const int32_t index = CheckZuSmsIndexes(*store, repair ? 1 : 0);
  try {
    Check(index, "the search index");
  } catch (const Failure& e) {
    r.findings.push_back(e.what());
    // Made anew where the store could drop it (not in a read-only one).
    if (index == 1 && repair) {
      RefreshSearch(store, false);
      if (CheckZuSmsIndexes(*store, 0) == 0) {
        r.repairs.push_back("made the search index anew");
        ++r.repaired;
      }
    }
  }
  return r;
}

namespace {

// What another program's deletes that did not enforce foreign keys left of
// multimedia messages: a head with parts but without the
// message's own row (`texts`: the heads not in `mms`), shown as a text
// message with its parts hidden; a multimedia message (`headed`) without
// addresses, which no backup reads back. Reported, never repaired: the message's own row
// (subject, type) is gone, and addresses cannot be made up; deleting would
// take the person's pictures.
void MultimediaRemains(Store& store, const std::vector<uint32_t>& texts,
                       const std::vector<uint32_t>& headed, CheckReport& r) {
  for (const uint32_t id : texts) {
    // One query a head: whether it has a first part.
    uint32_t length = 0;
    const int32_t status = GetZuSmsMmsPartText(*store, id, 0, nullptr, 0, &length);
    if (status == 100) continue;
    Check(status, "reading a message's parts");
    r.findings.push_back(fmt::format(
        "message {} has the parts of a multimedia message without its own row (zu_mms): shown "
        "as a text message, its parts hidden (left as it is)",
        id));
  }
  for (const uint32_t id : headed) {
    SmsMms m{};
    uint32_t attributes = 0, parts = 0, addresses = 0;
    if (GetZuSmsMms(*store, id, &m, &attributes, &parts, &addresses) != 0 || addresses > 0)
      continue;
    r.findings.push_back(fmt::format(
        "multimedia message {} has no address: a backup of it does not read back (left as it is)",
        id));
  }
}

// Folders, messages and filter rules as the store gives them.
void Inspect(Store& store, CheckReport& r, bool repair) {
  std::map<int32_t, std::vector<std::string>> names;  // folder number: stored names
  for (const SmsFolder& f : store.Folders()) names[f.FdId].push_back(Utf8(f.fname));
  for (const auto& [number, held] : names) {
    if (held.size() < 2) continue;
    std::string which;
    for (const std::string& n : held) which += (which.empty() ? "\"" : ", \"") + n + "\"";
    r.findings.push_back(fmt::format("folder number {} is taken by {} ({})", number,
                                     Counted(held.size(), "folder"), which));
  }
  for (int32_t number = 1; number <= 14; ++number) {
    if (!names.contains(number)) {
      r.findings.push_back(fmt::format("default folder number {} is missing", number));
    }
  }
  std::vector<Message> stranded;
  MessageAssembler gather([&](Message&& m) { stranded.push_back(std::move(m)); });
  std::map<std::tuple<int32_t, std::u16string>, std::set<int16_t>> parts;  // long: indexes seen
  const std::vector<uint32_t> mms =
      ReadAll<uint32_t>(store, GetZuSmsMmsCount, GetAllZuSmsMmsID, "multimedia messages");
  std::vector<uint32_t> texts, headed;  // heads that are not multimedia messages, that are
  store.ForEachHead([&](const SmsHead& h) {
    const auto id = static_cast<uint32_t>(h.id);
    (std::binary_search(mms.begin(), mms.end(), id) ? headed : texts).push_back(id);
    if (!names.contains(h.fid)) gather.Add(h);
    if (IsPart(h))
      parts[{h.batid, std::u16string(FieldText(h.tel, std::size(h.tel)))}].insert(h.index);
  });
  gather.Finish();
  for (const auto& [key, indexes] : parts) {
    if (indexes.contains(1)) continue;
    r.findings.push_back(fmt::format("a long message from {} (batid {}) lacks its first part",
                                     Utf8(std::get<1>(key).c_str(), std::get<1>(key).size()),
                                     std::get<0>(key)));
  }
  for (const SmsFilter& f :
       ReadAll<SmsFilter>(store, GetZuSmsFilterCount, GetAllZuSmsFilter, "filters")) {
    if (names.contains(f.folderid)) continue;
    r.findings.push_back(fmt::format(
        "filter rule {} files into folder number {}, which no folder has (zusms filter delete {})",
        f.id, f.folderid, f.id));
  }
  for (const Message& m : stranded) {
    r.findings.push_back(fmt::format("message {} is in folder number {}, which no folder has",
                                     m.id(), m.head().fid));
  }
  MultimediaRemains(store, texts, headed, r);
  const std::vector<uint32_t> headless = HeadlessMultimedia(store);
  for (const uint32_t id : headless) {
    r.findings.push_back(fmt::format(
        "multimedia message {} has no head: its parts, addresses and attributes are left", id));
  }
  if (repair && !headless.empty()) {
    // The library's delete of a head takes what the message owns, head or not.
    Batch batch(store);
    for (const uint32_t id : headless) {
      Check(DeleteZuSmsHead(*store, id), "removing what a multimedia message left");
      r.repairs.push_back(fmt::format("removed what multimedia message {} left", id));
    }
    batch.Commit();
    r.repaired += headless.size();
  }
  if (!repair || stranded.empty()) return;

  Batch batch(store);
  const SmsFolder to = RecoveredFolder(store, [&](const SmsFolder& made) {
    r.repairs.push_back(fmt::format("made folder {} ({})", made.FdId, kRecovered));
  });
  for (Message& m : stranded) {
    const int32_t from = m.head().fid;
    for (SmsHead& p : m.parts) {
      p.oldfid = p.fid;
      p.fid = to.FdId;
      Check(UpdateZuSmsHead(*store, &p), "moving a message");
    }
    r.repairs.push_back(fmt::format("moved message {} from folder number {} to folder {} ({})",
                                    m.id(), from, to.FdId, kRecovered));
  }
  batch.Commit();
  r.repaired += stranded.size();
}

}  // namespace

}  // namespace zusms::cli
