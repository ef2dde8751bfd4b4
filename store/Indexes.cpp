#include "Indexes.h"

#include <string>

#include "Boundary.h"
#include "MimerDatabase.h"
#include "RecordFrame.h"

namespace zusms {

namespace {

// Each checked with EXPLAIN QUERY PLAN (tests/index_test.cpp):
// - a folder page by either time, and the count of a folder
//   (fid = ? ... order by CreateTime or RecvTime, limited; count(*) ...
//   fid = ?);
// None starts with UserID: the listings without an ordering (GetAll...,
// the synchronisation listings) select by UserID alone, so they keep using
// the foreign-key index on UserID, whose entries run in id order, and keep
// returning rows in id order. An index that starts with UserID, or that
// holds both UserID and uuid, would cover some of them (a scan of it costs
// less than the table's when one user owns most rows) and hand the rows out
// in its own order.
// A lookup by UUID has no index of its own: one on uuid alone would serve
// it, but its random keys more than double the cost of adding a message
// (docs/PERFORMANCE.md), and neither the store nor the tool looks messages
// up by UUID; partners match UUIDs through the UUID listing.
constexpr const char16_t* kStatements[] = {
    u"create index if not exists SmsHead_fid_user_ctime on SmsHead (fid, UserID, createtime);",
    u"create index if not exists SmsHead_fid_user_rtime on SmsHead (fid, UserID, recvtime);",
};

// The index a statement creates: the name after "if not exists".
std::string IndexName(const char16_t* statement) {
  const std::u16string text(statement);
  const size_t from = text.find(u"exists ") + 7;
  return engine::ToUtf8(text.substr(from, text.find(u' ', from) - from));
}

}  // namespace

std::span<const char16_t* const> QueryIndexStatements() { return kStatements; }

void CreateQueryIndexes() {
  const engine::KeptLastError earlier;
  for (const char16_t* statement : kStatements) {
    Guarded([statement](CMimerCommand& cmd) {
      Execute(cmd, statement, [](CMimerCommand&) {});
      return 0;
    });
  }
}

bool QueryIndexesInPlace() {
  for (const char16_t* statement : kStatements) {
    if (!CMimerDatabase::GetConn(MimerConnDefault).HasIndex(IndexName(statement).c_str())) {
      return false;
    }
  }
  return true;
}

}  // namespace zusms
