// Whether a message head has been read. The head's record and its columns
// know nothing of it: the unread heads are rows of a table of their own,
// keyed by head id and user, so a head added by any caller or program is
// read until it is marked unread. A row goes with its head (a foreign key
// that deletes it with the head, on every connection that enforces foreign
// keys, the library's among them); a row left behind by a program that does
// not is never counted, because every count and listing joins the heads.
// A read-only file without the table reads as all read.
#include "Boundary.h"
#include "Exports.h"
#include "RecordFrame.h"
#include "SmsDatabase.h"

namespace {

constexpr const char* kTable = "zu_head_unread";

constexpr const char16_t* kCreate =
    u"create table zu_head_unread( id integer not null, UserID integer not null, constraint "
    u"pk_zu_head_unread primary key(id, UserID), foreign key(id) references SmsHead(id) on "
    u"delete cascade )in zu_sms_db;";

constexpr const char16_t* kHeadExists =
    u"select count(*) as cnt from SmsHead where id=? and UserID=?";
constexpr const char16_t* kIsUnread =
    u"select count(*) as cnt from zu_head_unread where id=? and UserID=?";
constexpr const char16_t* kMarkUnread = u"insert into zu_head_unread( id, UserID) VALUES (?, ?)";
constexpr const char16_t* kMarkRead = u"delete from zu_head_unread where id=? and UserID=?";
// A change of read state is a change of the message: partners see it by
// its modification time and in the change log.
constexpr const char16_t* kStamp = u"update SmsHead set ModifyTime=? where id=? and UserID=?";
constexpr const char16_t* kCountUnread =
    u"select count(*) as cnt from zu_head_unread u, SmsHead h where u.UserID=? and h.id=u.id "
    u"and h.UserID=u.UserID";
constexpr const char16_t* kUnreadIds =
    u"select u.id from zu_head_unread u, SmsHead h where u.UserID=? and h.id=u.id and "
    u"h.UserID=u.UserID order by u.id";

// The status of a head the user does not have.
constexpr int32_t kNoHead = 100;

// Whether user `user` has head `id`; the last error says so when not.
bool HeadThere(CMimerCommand& cmd, uint32_t id, uint32_t user) {
  uint32_t count = 0;
  zusms::CountRows(cmd, kHeadExists, zusms::IdUser(id, user), count);
  if (count == 0) {
    zusms::engine::SetLastError(u"no message head " + zusms::engine::ToUtf16(std::to_string(id)));
  }
  return count > 0;
}

bool TableThere() { return CMimerDatabase::GetConn(MimerConnDefault).HasTable(kTable); }

}  // namespace

int32_t SmsDatabase::OpenReadState() {
  if (IsReadOnly() || TableThere()) return 0;
  return zusms::Guarded([](CMimerCommand& cmd) {
    zusms::Execute(cmd, kCreate, [](CMimerCommand&) {});
    return 0;
  });
}

bool SmsDatabase::ReadStateInPlace() { return TableThere(); }

int32_t SmsDatabase::GetSmsHeadRead(uint32_t id, int32_t& read) {
  return zusms::Guarded([&](CMimerCommand& cmd) {
    if (!HeadThere(cmd, id, m_UserID)) return kNoHead;
    uint32_t count = 0;
    if (TableThere())
      zusms::CountRows(cmd, kIsUnread, zusms::IdUser(id, m_UserID), count);
    else
      count = 0;
    read = count == 0 ? 1 : 0;
    return 0;
  });
}

int32_t SmsDatabase::SetSmsHeadRead(uint32_t id, int32_t read) {
  return zusms::Guarded([&](CMimerCommand& cmd) {
    if (!HeadThere(cmd, id, m_UserID)) return kNoHead;
    uint32_t count = 0;
    zusms::CountRows(cmd, kIsUnread, zusms::IdUser(id, m_UserID), count);
    const bool unread_now = count > 0;
    if (unread_now == (read == 0)) return 0;  // as asked already: nothing changes
    zusms::Execute(cmd, read ? kMarkRead : kMarkUnread, zusms::IdUser(id, m_UserID));
    tagTIMESTAMP_STRUCT now{};
    zusms::Execute(cmd, kStamp, [&](CMimerCommand& c) {
      c.AppendParameter(GetCurrentSysTime(now));
      zusms::IdUser(id, m_UserID)(c);
    });
    return 0;
  });
}

int32_t SmsDatabase::GetSmsUnreadHeadCount(uint32_t& n) {
  return zusms::Guarded([&](CMimerCommand& cmd) {
    uint32_t count = 0;
    if (TableThere()) zusms::CountRows(cmd, kCountUnread, zusms::User(m_UserID), count);
    n = count;
    return 0;
  });
}

int32_t SmsDatabase::GetAllSmsUnreadHeadID(uint32_t* ids, uint32_t capacity, uint32_t& n) {
  return zusms::Guarded([&](CMimerCommand& cmd) {
    if (!ids && capacity > 0) throw CMimerException(u"a null id array", -1);
    uint32_t read = 0;
    if (TableThere() && capacity > 0) {
      read = capacity;
      zusms::ReadRows(
          cmd, kUnreadIds, zusms::User(m_UserID), read,
          [&](CMimerRecordSet& rows, uint32_t i) { rows.GetValue("id", &ids[i], sizeof ids[i]); });
    }
    n = read;
    return 0;
  });
}

extern "C" {

ZUSMS_API int32_t ZUSMS_CALL SetZuSmsHeadRead(SmsDatabase* h, uint32_t id, int32_t read) {
  return zusms::Call(h, [&](SmsDatabase& db) { return db.SetSmsHeadRead(id, read); });
}

ZUSMS_API int32_t ZUSMS_CALL GetZuSmsHeadRead(SmsDatabase* h, uint32_t id, int32_t* read) {
  return zusms::Call(
      h, [&](SmsDatabase& db) { return db.GetSmsHeadRead(id, zusms::Ref(read, "read")); });
}

ZUSMS_API int32_t ZUSMS_CALL GetZuSmsUnreadHeadCount(SmsDatabase* h, uint32_t* n) {
  return zusms::Call(h,
                     [&](SmsDatabase& db) { return db.GetSmsUnreadHeadCount(zusms::Ref(n, "n")); });
}

ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsUnreadHeadID(SmsDatabase* h, uint32_t* ids,
                                                     uint32_t capacity, uint32_t* n) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.GetAllSmsUnreadHeadID(ids, capacity, zusms::Ref(n, "n"));
  });
}

}  // extern "C"
