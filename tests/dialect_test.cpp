// Reading the Mimer SQL dialect: what each statement becomes, and what is refused.
#include "Dialect.h"

#include <gtest/gtest.h>

#include "Catalog.h"
#include "MimerDatabase.h"

namespace zusms::engine {
namespace {

TEST(DialectTest, DataStatementsQuoteEveryNameAndKeepKeywords) {
  Statement s = Parse(u"select count(*) as cnt from SmsHead where id=? and UserID=?");
  EXPECT_EQ(s.kind, StatementKind::kSelect);
  EXPECT_EQ(s.sql,
            "select count ( * ) as \"cnt\" from \"SmsHead\" where \"id\" = ? and \"UserID\" = ?");

  // `index` is a keyword of SQLite and a column of the store.
  s = Parse(u"update SmsHead set id=?, index=?\twhere ID=? and UserID=? order by Index desc");
  EXPECT_EQ(s.sql,
            "update \"SmsHead\" set \"id\" = ? , \"index\" = ? where \"ID\" = ? and \"UserID\" = ? "
            "order by \"Index\" desc");

  s = Parse(u"delete from SmsFolder where UserID=? and system<>1");
  EXPECT_EQ(s.sql, "delete from \"SmsFolder\" where \"UserID\" = ? and \"system\" <> 1");

  // A name that is a function only when a parenthesis follows it.
  s = Parse(u"select max(fdid) as maxid, count from T where name like 'a''%' escape '\\'");
  EXPECT_EQ(
      s.sql,
      "select max ( \"fdid\" ) as \"maxid\" , \"count\" from \"T\" where \"name\" like 'a''%' "
      "escape '\\'");

  // A count bounded by a row limit, over a subquery.
  s = Parse(u"select count(*) as cnt from (select id from SmsHead where (UserID=?) limit ?)");
  EXPECT_EQ(s.sql,
            "select count ( * ) as \"cnt\" from ( select \"id\" from \"SmsHead\" where ( "
            "\"UserID\" = ? ) limit ? )");
}

TEST(DialectTest, InsertKeepsItsColumnsAndValues) {
  Statement s = Parse(u"insert into SmsPhrase( content, impBool, UserID) VALUES (?, ?, ?)");
  EXPECT_EQ(s.kind, StatementKind::kInsert);
  EXPECT_EQ(s.name, "SmsPhrase");
  EXPECT_EQ(s.insert_columns, (std::vector<std::string>{"content", "impBool", "UserID"}));
  EXPECT_EQ(s.sql, "? , ? , ?");

  s = Parse(u"insert into tbl_zu_sms_ver values ('20080910');");
  EXPECT_TRUE(s.insert_columns.empty());
  EXPECT_EQ(s.sql, "'20080910'");
}

TEST(DialectTest, DefinitionsAreRead) {
  Statement s = Parse(u"create databank zu_sms_db of 100 pages in 'zuSms.dbf' with trans option;");
  EXPECT_EQ(s.kind, StatementKind::kCreateDatabank);
  EXPECT_EQ(s.name, "zu_sms_db");
  EXPECT_EQ(s.file, "zuSms.dbf");
  EXPECT_EQ(s.pages, 100);
  EXPECT_EQ(s.option, "trans");

  s = Parse(u"create unique sequence sms_id_seq initial_value=5;");
  EXPECT_EQ(s.kind, StatementKind::kCreateSequence);
  EXPECT_EQ(s.initial, 5);
  EXPECT_EQ(s.increment, 1);

  s = Parse(u"create statement sms_id_seq_cur set ? = current_value of sms_id_seq;");
  EXPECT_EQ(s.kind, StatementKind::kCreateStatement);
  EXPECT_EQ(s.body, "set ? = current_value of sms_id_seq");
  EXPECT_EQ(ParseStoredBody(s.body).sequence, "sms_id_seq");

  s = Parse(u"create index SmsHead_id_user on SmsHead (ID, UserID);");
  EXPECT_EQ(s.kind, StatementKind::kCreateIndex);
  EXPECT_EQ(s.index_columns, (std::vector<std::string>{"ID", "UserID"}));
  EXPECT_FALSE(s.if_not_exists);
  s = Parse(u"create index if not exists I on SmsHead (UserID, fid);");
  EXPECT_TRUE(s.if_not_exists);
  EXPECT_EQ(s.name, "I");
  EXPECT_THROW(Parse(u"create index if exists I on SmsHead (fid);"), CMimerException);

  s = Parse(u"drop databank zu_sms_db cascade;");
  EXPECT_EQ(s.kind, StatementKind::kDropDatabank);
  EXPECT_TRUE(s.cascade);

  s = Parse(u"execute statement sms_id_seq_cur");
  EXPECT_EQ(s.kind, StatementKind::kExecuteStatement);
  EXPECT_EQ(s.name, "sms_id_seq_cur");
}

TEST(DialectTest, CreateTableBecomesStrictTableWithWidthAndRangeChecks) {
  Statement s = Parse(
      u"create table T( id integer DEFAULT next_value OF seq, index smallint, t nvarchar(15), "
      u"u char(16), m timestamp, UserID integer, constraint pk_T primary key(id), "
      u"foreign key(userid) references tbl_zu_user(id) on delete cascade )in db;");
  ASSERT_EQ(s.kind, StatementKind::kCreateTable);
  const TableDef& t = s.table;
  EXPECT_EQ(t.databank, "db");
  ASSERT_EQ(t.columns.size(), 6u);
  EXPECT_EQ(t.columns[0].sequence, "seq");
  EXPECT_EQ(t.columns[2].type, ColumnType::kNvarchar);
  EXPECT_EQ(t.columns[2].width, 15);
  EXPECT_EQ(t.columns[3].type, ColumnType::kChar);
  ASSERT_EQ(t.foreign_keys.size(), 1u);
  EXPECT_TRUE(t.foreign_keys[0].cascade);

  const std::string sql = TableSql(t);
  EXPECT_NE(sql.find("\"index\" INTEGER CHECK (\"index\" BETWEEN -32768 AND 32767)"),
            std::string::npos);
  EXPECT_NE(sql.find("\"t\" TEXT CHECK (length(\"t\") <= 15)"), std::string::npos);
  EXPECT_NE(sql.find("\"u\" BLOB"), std::string::npos);
  EXPECT_NE(sql.find("CONSTRAINT \"pk_T\" PRIMARY KEY (\"id\")"), std::string::npos);
  EXPECT_NE(sql.find("ON DELETE CASCADE) STRICT"), std::string::npos);
}

TEST(DialectTest, RefusesWhatItDoesNotKnow) {
  const char16_t* refused[] = {
      u"grant select on SmsHead to x",
      u"select * from SmsHead; drop table SmsHead",
      u"select * from T where a = 'unterminated",
      u"select * from T where a = \"\"",
      u"select * from T where a = #1",
      u"create table T ( a float )",
      u"create table T ( a integer, a integer )",
      u"create table T ( a integer, primary key (b) )",
      u"create table T ( a integer DEFAULT 5 )",
      u"create sequence s increment=0",
      u"create statement s set ? = something of q",
      u"create view v as select 1",
      u"insert into T (a) select 1",
      u"drop table T",
      u"",
  };
  for (const char16_t* text : refused) {
    EXPECT_THROW(Parse(text), CMimerException);
  }
}

}  // namespace
}  // namespace zusms::engine
