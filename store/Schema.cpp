// The schema: databank, id sequence, the statement that reads it back, the
// version table and the seven record tables, created in this order.
#include <iterator>
#include <string>

#include "Boundary.h"
#include "RecordFrame.h"
#include "SmsDatabase.h"

namespace {

constexpr const char16_t* kGroup1[] = {
    u"create databank zu_sms_db of 100 pages in 'zuSms.dbf' with trans option;",
    u"create unique sequence sms_id_seq initial_value=1;",
    u"create statement sms_id_seq_cur set ? = current_value of sms_id_seq;",
    u"create table tbl_zu_sms_ver ( ver nvarchar(32) )in zu_sms_db;",
    u"insert into tbl_zu_sms_ver values ('20080910');",
};

constexpr const char16_t* kHead[] = {
    u"create table SmsHead( id integer DEFAULT next_value OF sms_id_seq, index smallint, type "
    u"smallint, fid integer, batid integer, createtime nvarchar(15), tel nvarchar(33), name "
    u"nvarchar(40), recvtime nvarchar(15), content nvarchar(671), privmode smallint, ccid "
    u"smallint, lockflag smallint, oldfid integer, impt smallint, longsms smallint, operid "
    u"nvarchar(10), uuid char(16), UserID integer, ModifyTime timestamp, constraint "
    u"pk_SmsHead_id primary key(id), foreign key(userid) references tbl_zu_user(id) on delete "
    u"cascade )in zu_sms_db;",
    u"create index SmsHead_id_user on SmsHead (ID, UserID);",
};

constexpr const char16_t* kContent[] = {
    u"create table SmsContent( id integer DEFAULT next_value OF sms_id_seq, BatId integer, type "
    u"smallint, savepos smallint, rivmode smallint, location integer, name nvarchar(40), tel "
    u"nvarchar(33), UserID integer, constraint pk_SmsContent_id primary key(id), foreign "
    u"key(userid) references tbl_zu_user(id) on delete cascade )in zu_sms_db;",
};

constexpr const char16_t* kAreaBroadcast[] = {
    u"create table SmsAreaBroadcast( id integer DEFAULT next_value OF sms_id_seq, status "
    u"smallint, sn integer, msgid integer, pageindex integer, dctype integer, recvtime "
    u"nvarchar(15), datalen smallint, data nvarchar(671), UserID integer, constraint "
    u"pk_SmsAreaBroadcast_id primary key(id), foreign key(userid) references tbl_zu_user(id) on "
    u"delete cascade )in zu_sms_db;",
};

constexpr const char16_t* kPhrase[] = {
    u"create table SmsPhrase( id integer DEFAULT next_value OF sms_id_seq, content "
    u"nvarchar(100), impBool smallint, UserID integer, constraint pk_SmsPhrase_id primary "
    u"key(id), foreign key(userid) references tbl_zu_user(id) on delete cascade )in zu_sms_db;",
};

constexpr const char16_t* kFolder[] = {
    u"create table SmsFolder( id integer DEFAULT next_value OF sms_id_seq, FdId integer, fname "
    u"nvarchar(40), system smallint, password smallint, privmode smallint, UserID integer, "
    u"constraint pk_SmsFolder_id primary key(id), foreign key(userid) references tbl_zu_user(id) "
    u"on delete cascade )in zu_sms_db;",
};

constexpr const char16_t* kFilter[] = {
    u"create table SmsFilter( id integer DEFAULT next_value OF sms_id_seq, folderid integer, "
    u"ftype smallint, fattr smallint, tel nvarchar(33), name nvarchar(40), UserID integer, "
    u"constraint pk_SmsFilter_id primary key(id), foreign key(userid) references tbl_zu_user(id) "
    u"on delete cascade )in zu_sms_db;",
};

constexpr const char16_t* kReceiverHistory[] = {
    u"create table SmsReceiverHistory( id integer DEFAULT next_value OF sms_id_seq, tel "
    u"nvarchar(33), name nvarchar(40), privmode smallint, lastdate nvarchar(15), UserID integer, "
    u"constraint pk_SmsReceiverHistory_id primary key(id), foreign key(userid) references "
    u"tbl_zu_user(id) on delete cascade )in zu_sms_db;",
};

struct RecordTable {
  const char* name;
  const char16_t* const* statements;  // the statements that create it
};
constexpr RecordTable kRecordTables[] = {{"SmsHead", kHead},
                                         {"SmsContent", kContent},
                                         {"SmsAreaBroadcast", kAreaBroadcast},
                                         {"SmsPhrase", kPhrase},
                                         {"SmsFolder", kFolder},
                                         {"SmsFilter", kFilter},
                                         {"SmsReceiverHistory", kReceiverHistory}};

// The error each table's creation ended with in this thread's last creation
// run, so that a missing table is reported with its own reason.
// Plain data, as thread-local state must be (see FixedText).
thread_local zusms::engine::FixedText<512> t_creation_errors[std::size(kRecordTables)];

zusms::engine::FixedText<512>& CreationError(const char16_t* const* statements) {
  size_t i = 0;
  while (i + 1 < std::size(kRecordTables) && kRecordTables[i].statements != statements) ++i;
  return t_creation_errors[i];
}

// The schema's statements bind nothing.
constexpr auto kNoValues = [](CMimerCommand&) {};

template <size_t N>
constexpr int Count(const char16_t* const (&)[N]) {
  return static_cast<int>(N);
}

}  // namespace

int32_t SmsDatabase::RunTableStatements(const char16_t* const* statements, int count) {
  const int32_t result = zusms::Guarded([&](CMimerCommand& cmd) {
    for (int i = 0; i < count; ++i) zusms::Execute(cmd, statements[i], kNoValues);
    return 0;
  });
  if (result != 0) CreationError(statements).Assign(zusms::engine::LastError());
  return result;
}

int32_t SmsDatabase::CreateSmsHaedTable() { return RunTableStatements(kHead, Count(kHead)); }
int32_t SmsDatabase::CreateSmsContentTable() {
  return RunTableStatements(kContent, Count(kContent));
}
int32_t SmsDatabase::CreateSmsAreaBroadcastTable() {
  return RunTableStatements(kAreaBroadcast, Count(kAreaBroadcast));
}
int32_t SmsDatabase::CreateSmsPhraseTable() { return RunTableStatements(kPhrase, Count(kPhrase)); }
int32_t SmsDatabase::CreateSmsFolderTable() { return RunTableStatements(kFolder, Count(kFolder)); }
int32_t SmsDatabase::CreateSmsFilterTables() { return RunTableStatements(kFilter, Count(kFilter)); }
int32_t SmsDatabase::CreateSmsReceiverHistoryTable() {
  return RunTableStatements(kReceiverHistory, Count(kReceiverHistory));
}

int32_t SmsDatabase::CreateAllTables() {
  for (auto& error : t_creation_errors) error.length = 0;
  // Group 1: the first failure ends the group.
  zusms::Guarded([](CMimerCommand& cmd) {
    for (const char16_t* statement : kGroup1) zusms::Execute(cmd, statement, kNoValues);
    return 0;
  });
  // Group 2: each table stands alone.
  int32_t result = CreateSmsHaedTable();
  result |= CreateSmsContentTable();
  result |= CreateSmsAreaBroadcastTable();
  result |= CreateSmsPhraseTable();
  result |= CreateSmsFolderTable();
  result |= CreateSmsFilterTables();
  result |= CreateSmsReceiverHistoryTable();
  return result;
}

int32_t SmsDatabase::CreateSmsTables() {
  try {
    CreateAllTables();
    return 1;
  } catch (...) {
    return 0;
  }
}

int32_t SmsDatabase::GetAppVer(stAppVer& ver) {
  return zusms::Guarded([&](CMimerCommand& cmd) {
    zusms::ReadRow(cmd, u"select ver from tbl_zu_sms_ver", kNoValues,
                   [&](CMimerRecordSet& rows) { rows.GetValue("ver", ver.ver, sizeof ver.ver); });
    return 0;
  });
}

int32_t SmsDatabase::DropTables() {
  zusms::Guarded([](CMimerCommand& cmd) {
    zusms::Execute(cmd, u"drop databank zu_sms_db cascade;", kNoValues);
    return 0;
  });
  return 0;
}

// A missing table whose creation failed in this thread's last run leaves
// that failure as the last error.
const char* SmsDatabase::MissingRecordTable() {
  for (const RecordTable& table : kRecordTables) {
    if (GetConn(MimerConnDefault).HasTable(table.name)) continue;
    if (const auto& error = CreationError(table.statements); error.length > 0) {
      zusms::engine::SetLastError(error.View());
    }
    return table.name;
  }
  return nullptr;
}
