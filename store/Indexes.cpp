#include "Indexes.h"

#include <string>

#include "Boundary.h"
#include "MimerDatabase.h"

namespace zusms {

namespace {

// Each checked with EXPLAIN QUERY PLAN (tests/index_test.cpp):
// - a folder page by either time, and the count of a folder
//   (fid = ? ... order by CreateTime or RecvTime, limited; count(*) ...
//   fid = ?);
// - a message found by its UUID (uuid = ?), once the planner has statistics
//   (the close gathers them); before, it takes the UserID index, as it
//   would without this index.
// None starts with UserID: the listings without an ordering (GetAll...,
// the synchronisation listings) select by UserID alone, so they keep using
// the foreign-key index on UserID, whose entries run in id order, and keep
// returning rows in id order. An index that starts with UserID, or that
// holds both UserID and uuid, would cover some of them (a scan of it costs
// less than the table's when one user owns most rows) and hand the rows out
// in its own order.
constexpr const char16_t* kStatements[] = {
    u"create index if not exists SmsHead_fid_user_ctime on SmsHead (fid, UserID, createtime);",
    u"create index if not exists SmsHead_fid_user_rtime on SmsHead (fid, UserID, recvtime);",
    u"create index if not exists SmsHead_uuid on SmsHead (uuid);",
};

}  // namespace

std::span<const char16_t* const> QueryIndexStatements() { return kStatements; }

void CreateQueryIndexes() {
  const std::u16string earlier = engine::LastError();
  for (const char16_t* statement : kStatements) {
    CMimerCommand cmd(&CMimerDatabase::GetConn(MimerConnDefault));
    try {
      cmd.InitCommand(statement);
      cmd.ExecuteNoQuery();
      cmd.UninitCommand();
    } catch (const CMimerException&) {
      cmd.UninitCommand();
    }
  }
  engine::SetLastError(earlier);
}

}  // namespace zusms
