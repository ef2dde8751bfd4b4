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

// Runs `sql` with the user bound as ?1 and hands each row to `row`; a
// table missing (a file without multimedia messages) gives no row.
template <typename Row>
void EachRow(sqlite3* db, const char* sql, uint32_t user, Row&& row) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK) {
    sqlite3_bind_int64(stmt, 1, user);
    while (sqlite3_step(stmt) == SQLITE_ROW) row(stmt);
  }
  sqlite3_finalize(stmt);
}

std::string ColumnText(sqlite3_stmt* stmt, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
  return text ? text : "";
}

// What the library's add never writes but another program can leave in the
// user's multimedia rows: parts or addresses not numbered from 0 without a
// gap (a row deleted or renumbered), an address of an unknown role, rows of
// a message without its own row (zu_mms). The parts left are read in their
// order and the backups write them; renumbering would not bring a deleted
// part back and addresses cannot be made up, so these are reported and
// left. Rows that have no head either are nobody's message: their ids go
// to `orphans`, which --repair removes.
void MultimediaRows(sqlite3* db, uint32_t user, std::vector<std::string>& out,
                    std::vector<uint32_t>& orphans) {
  static constexpr const char* kNumbered[][3] = {{"zu_mms_part", "PartNo", "parts"},
                                                 {"zu_mms_addr", "AddrNo", "addresses"}};
  for (const auto& numbered : kNumbered) {
    // (not a structured binding: clang 14 cannot capture one in a lambda)
    const char *table = numbered[0], *column = numbered[1], *what = numbered[2];
    const std::string sql = fmt::format(
        "select HeadId, group_concat(n, ', '), count(*) from (select HeadId, {1} as n from {0} "
        "where UserID=?1 and HeadId in (select HeadId from zu_mms where UserID=?1) order by "
        "HeadId, n) group by HeadId having min(n)<>0 or max(n)<>count(*)-1",
        table, column);
    EachRow(db, sql.c_str(), user, [&](sqlite3_stmt* row) {
      out.push_back(fmt::format(
          "multimedia message {} has {} numbered {} (not 0 to {}): rows deleted or renumbered "
          "by another program; those there are read in their order (left as it is)",
          sqlite3_column_int64(row, 0), what, ColumnText(row, 1),
          sqlite3_column_int64(row, 2) - 1));
    });
  }
  // Numbered densely but for rows deleted from the end: the rows kept of
  // each part's or address's attributes (part:N, addr:N, ...) still name them.
  for (const auto& numbered : kNumbered) {
    const char *table = numbered[0], *column = numbered[1], *what = numbered[2];
    const std::string prefix = column[0] == 'P' ? "part:" : "addr:";
    const std::string sql = fmt::format(
        "select HeadId, group_concat(distinct n) from (select HeadId, cast(substr(name, 6, "
        "instr(substr(name, 6) || ':', ':') - 1) as integer) as n from zu_mms_attr where "
        "UserID=?1 and substr(name, 1, 5)='{2}' and HeadId in (select HeadId from zu_mms where "
        "UserID=?1)) as kept where not exists (select 1 from {0} where HeadId=kept.HeadId and "
        "UserID=?1 and {1}=kept.n) and HeadId not in (select HeadId from {0} where UserID=?1 "
        "group by HeadId having min({1})<>0 or max({1})<>count(*)-1) group by HeadId order by "
        "HeadId",
        table, column, prefix);
    EachRow(db, sql.c_str(), user, [&](sqlite3_stmt* row) {
      out.push_back(fmt::format(
          "multimedia message {} lost its {} numbered {}: deleted by another program; those "
          "there are read in their order (left as it is)",
          sqlite3_column_int64(row, 0), what, ColumnText(row, 1)));
    });
  }
  EachRow(db,
          fmt::format("select HeadId, type from zu_mms_addr where UserID=?1 and coalesce(type, "
                      "0) not in ({}, {}, {}, {}) and HeadId in (select HeadId from zu_mms where "
                      "UserID=?1) order by HeadId, AddrNo",
                      ZU_MMS_FROM, ZU_MMS_TO, ZU_MMS_CC, ZU_MMS_BCC)
              .c_str(),
          user, [&](sqlite3_stmt* row) {
            out.push_back(fmt::format(
                "multimedia message {} has an address of the unknown type {}: a backup of it "
                "does not read back (left as it is)",
                sqlite3_column_int64(row, 0), ColumnText(row, 1)));
          });
  EachRow(db,
          "select HeadId, group_concat(t, ', '), exists(select 1 from SmsHead where id=HeadId "
          "and UserID=?1) from (select distinct HeadId, 'zu_mms_attr' as t from zu_mms_attr where "
          "UserID=?1 union all select distinct HeadId, 'zu_mms_part' from zu_mms_part where "
          "UserID=?1 union all select distinct HeadId, 'zu_mms_addr' from zu_mms_addr where "
          "UserID=?1) where HeadId not in (select HeadId from zu_mms where UserID=?1) group by "
          "HeadId order by HeadId",
          user, [&](sqlite3_stmt* row) {
            const auto id = static_cast<uint32_t>(sqlite3_column_int64(row, 0));
            const std::string tables = ColumnText(row, 1);
            if (sqlite3_column_int(row, 2) == 0) {
              out.push_back(
                  fmt::format("message {} has no head but multimedia rows ({}): nobody's message "
                              "(--repair removes them)",
                              id, tables));
              orphans.push_back(id);
            } else if (tables.find("zu_mms_part") != std::string::npos) {
              out.push_back(fmt::format(
                  "message {} has the parts of a multimedia message without its own row (zu_mms): "
                  "shown as a text message, its parts hidden (left as it is)",
                  id));
            } else {
              out.push_back(
                  fmt::format("message {} has rows of a multimedia message ({}) without its own "
                              "row (zu_mms) (left as it is)",
                              id, tables));
            }
          });
}

// What the file open read-only beside the store shows: SQLite's
// integrity_check's problems and what MultimediaRows finds of `user`'s rows.
// The file is opened as the library opens it: one this user cannot write
// (another user's store) without making, writing or removing any file
// beside it, since a -wal or -shm file of this user would lock its owner
// out; one read as unchanging under the read lock the library's reader
// holds for each read.
std::vector<std::string> FileProblems(const std::string& file, uint32_t user,
                                      std::vector<uint32_t>& orphans) {
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
    if (out.empty()) MultimediaRows(db, user, out, orphans);
    engine::CloseWatch(watch);
  }
  sqlite3_close(db);
  return out;
}

}  // namespace

namespace {
void Inspect(Store& store, CheckReport& r, bool repair, std::vector<uint32_t> orphans);
}  // namespace

CheckReport CheckStore(Store& store, const std::string& file, bool repair) {
  CheckReport r;
  // The file first: damage can keep the rest from being read.
  std::vector<uint32_t> orphans;
  for (std::string& problem : FileProblems(file, store.user(), orphans))
    r.findings.push_back(std::move(problem));
  try {
    Inspect(store, r, repair, std::move(orphans));
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

// A multimedia message without addresses, which no backup reads back
// (left by another program's delete that did not enforce foreign keys).
// Reported, never repaired: addresses cannot be made up; deleting would
// take the person's pictures.
void Unaddressed(Store& store, const std::vector<uint32_t>& headed, CheckReport& r) {
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
void Inspect(Store& store, CheckReport& r, bool repair, std::vector<uint32_t> orphans) {
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
  std::vector<uint32_t> headed;  // heads that are multimedia messages
  store.ForEachHead([&](const SmsHead& h) {
    const auto id = static_cast<uint32_t>(h.id);
    if (std::binary_search(mms.begin(), mms.end(), id)) headed.push_back(id);
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
  Unaddressed(store, headed, r);
  std::vector<uint32_t> headless = HeadlessMultimedia(store);
  for (const uint32_t id : headless) {
    r.findings.push_back(fmt::format(
        "multimedia message {} has no head: its parts, addresses and attributes are left", id));
  }
  headless.insert(headless.end(), orphans.begin(), orphans.end());
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
