// The engine layer on a real database file: sequences and stored statements,
// what the engine refuses, column access, record sets and commands.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "Dialect.h"
#include "TestDb.h"

namespace zusms::testing {
namespace {

class EngineTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    ASSERT_EQ(db_.Open(), 0) << LastError();
    // The schema of a small store: two tables drawing ids from one sequence.
    Run(u"create databank db of 10 pages in 'x.dbf' with trans option;");
    Run(u"create unique sequence seq initial_value=1;");
    Run(u"create statement seq_cur set ? = current_value of seq;");
    Run(u"create table A( id integer DEFAULT next_value OF seq, index smallint, n integer, "
        u"t nvarchar(5), u char(16), m timestamp, UserID integer, constraint pk_A primary "
        u"key(id), foreign key(userid) references tbl_zu_user(id) on delete cascade )in db;");
    Run(u"create table B( id integer DEFAULT next_value OF seq, t nvarchar(40), UserID integer, "
        u"constraint pk_B primary key(id), foreign key(userid) references tbl_zu_user(id) on "
        u"delete cascade )in db;");
  }

  CMimerConnection& Conn() { return CMimerDatabase::GetConn(MimerConnDefault); }

  // Runs `text` with `values` for its markers; the rows it changed.
  template <typename... Values>
  int Run(const char16_t* text, const Values&... values) {
    CMimerCommand cmd(&Conn());
    cmd.InitCommand(text);
    (cmd.AppendParameter(values), ...);
    return cmd.ExecuteNoQuery();
  }

  // Inserts into A for user 1 and returns the id read back through seq_cur.
  uint32_t InsertA(int16_t index, const char16_t* text) {
    Run(u"insert into A( index, n, t, UserID) VALUES (?, ?, ?, ?)", index, int32_t{7}, text,
        uint32_t{1});
    return CurrentId();
  }

  template <typename... Values>
  void Query(CMimerCommand& cmd, CMimerRecordSet& rows, const char16_t* text,
             const Values&... values) {
    cmd.InitCommand(text);
    (cmd.AppendParameter(values), ...);
    cmd.ExecuteQuery(rows);
  }

  template <typename T>
  static T Get(CMimerRecordSet& rows, const char* column) {
    T value{};
    rows.GetValue(column, &value, sizeof value);
    return value;
  }

  uint32_t CurrentId() {
    CMimerCommand cmd(&Conn());
    uint32_t id = 0;
    cmd.InitCommand(u"execute statement seq_cur");
    cmd.AppendOutParameter(id);
    cmd.ExecuteNoQuery();
    cmd.UninitCommand();
    return id;
  }

  CMimerDatabase db_{1, 9};
};

TEST_F(EngineTest, DefinitionsThatExistOrReferToNothingAreRefusedAndLeaveNothing) {
  const struct {
    const char16_t* text;
    const char* error;
  } kRefused[] = {
      {u"create databank db of 10 pages in 'x.dbf' with trans option;",
       "databank db already exists"},
      {u"create unique sequence seq initial_value=1;", "seq"},
      {u"create statement seq_cur set ? = current_value of seq;", "seq_cur"},
      {u"create table B( id integer )in db;", "B"},
      // Names compare without case, as unquoted Mimer SQL names do.
      {u"create unique sequence SEQ initial_value=1;", "SEQ"},
      {u"create table C( id integer )in nodb;", "databank nodb does not exist"},
      {u"create statement s set ? = current_value of noseq;", "noseq"},
      {u"create table C( id integer, k integer, foreign key(k) references nowhere(id) on delete "
       u"cascade )in db;",
       "nowhere"},
  };
  for (const auto& c : kRefused) {
    EXPECT_THROW(Run(c.text), CMimerException) << engine::ToUtf8(c.text);
    EXPECT_NE(LastError().find(c.error), std::string::npos) << LastError();
  }
  EXPECT_FALSE(Conn().HasTable("C"));
}

// Each thread reads the value it drew itself.
TEST_F(EngineTest, SequenceDrawsIdsAcrossTablesAndExecuteStatementReadsTheThreadsOwn) {
  EXPECT_THROW(CurrentId(), CMimerException);  // nothing drawn yet
  EXPECT_EQ(InsertA(1, u"a"), 1u);
  EXPECT_EQ(InsertA(2, u"b"), 2u);
  Run(u"insert into B( t, UserID) VALUES (?, ?)", u"b", uint32_t{1});
  EXPECT_EQ(CurrentId(), 3u);
  EXPECT_EQ(Raw("select id from A union all select id from B order by 1"), "1\n2\n3\n");

  // A refused insert consumes nothing.
  EXPECT_THROW(InsertA(3, u"too long"), CMimerException);
  EXPECT_EQ(InsertA(4, u"c"), 4u);

  // A row put in with an explicit id by another tool is never handed out again.
  Raw("insert into A (id, UserID) values (10, 1)");
  EXPECT_EQ(InsertA(5, u"d"), 11u);

  uint32_t theirs = 0, theirs_read = 0;
  std::thread other([&] {
    theirs = InsertA(6, u"e");
    theirs_read = CurrentId();
  });
  other.join();
  EXPECT_EQ(theirs, 12u);
  EXPECT_EQ(theirs_read, 12u);
  EXPECT_EQ(CurrentId(), 11u);
}

TEST_F(EngineTest, RefusesTextsAndNumbersTheirColumnsCannotHold) {
  EXPECT_EQ(InsertA(1, u"12345"), 1u);
  EXPECT_THROW(InsertA(1, u"123456"), CMimerException);  // nvarchar(5)
  EXPECT_EQ(InsertA(-32768, u"x"), 2u);
  EXPECT_THROW(Run(u"insert into A( index, UserID) VALUES (?, ?)", int32_t{32768}, uint32_t{1}),
               CMimerException);  // smallint
  CMimerCommand cmd(&Conn());
  cmd.InitCommand(u"insert into A( u, UserID) VALUES (?, ?)");
  const uint8_t bytes[17] = {};
  cmd.AppendParameter(bytes, 17);  // char(16)
  cmd.AppendParameter(uint32_t{1});
  EXPECT_THROW(cmd.ExecuteNoQuery(), CMimerException);
  cmd.UninitCommand();
  // Nor does another program put a text in a number column.
  EXPECT_NE(Raw("insert into A (id, n, UserID) values (50, 'x', 1)").find("error"),
            std::string::npos);
  EXPECT_EQ(Raw("select count(*) from A"), "2\n");
}

TEST_F(EngineTest, DeletingAUserCascadesToItsRowsOnly) {
  Raw("insert into tbl_zu_user values (2)");
  InsertA(1, u"a");
  Raw("insert into A (id, UserID) values (100, 2)");
  EXPECT_EQ(Raw("delete from tbl_zu_user where id = 1; select id, UserID from A"), "100|2\n");
  // Foreign keys are indexed, as Mimer SQL does on its own.
  EXPECT_NE(Raw("pragma index_list('A')").find("A_fk_userid"), std::string::npos);
}

TEST_F(EngineTest, KeywordColumnsQuotedLiteralsAndColumnNamesInAnyCase) {
  InsertA(3, u"x");
  InsertA(9, u"y'z");
  EXPECT_EQ(
      Run(u"update A set index=? where index=? and UserID=?", int16_t{4}, int16_t{3}, uint32_t{1}),
      1);
  EXPECT_EQ(Run(u"update A set n=n where t like 'y''%' escape '\\'"), 1);
  CMimerCommand cmd(&Conn());
  CMimerRecordSet rows;
  Query(cmd, rows, u"select * from A where UserID=? order by Index desc", uint32_t{1});
  EXPECT_EQ(Get<int32_t>(rows, "ID"), 2);
  EXPECT_EQ(Get<uint32_t>(rows, "Id"), 2u);
  EXPECT_EQ(Get<int16_t>(rows, "INDEX"), 9);
  EXPECT_EQ(rows.MoveNext(), 0);
  EXPECT_EQ(Get<int16_t>(rows, "index"), 4);
  EXPECT_THROW(Get<int32_t>(rows, "nosuch"), CMimerException);
  EXPECT_EQ(rows.MoveNext(), 100);
  EXPECT_THROW(Get<int32_t>(rows, "id"), CMimerException);  // on no row
}

TEST_F(EngineTest, GetValueNeverWritesPastTheSizeItIsGiven) {
  InsertA(1, u"abcde");
  CMimerCommand cmd(&Conn());
  CMimerRecordSet rows;
  Query(cmd, rows, u"select t, u, n, max(n) as max from A where id=?", uint32_t{1});

  char16_t text[8];
  std::fill(std::begin(text), std::end(text), u'#');
  rows.GetValue("t", text, 3 * sizeof(char16_t));  // room for two characters
  EXPECT_EQ(std::u16string(text, 4), std::u16string(u"ab\0#", 4));
  rows.GetValue("t", text, sizeof text);
  EXPECT_EQ(std::u16string(text), u"abcde");
  rows.GetValue("t", text, 0);  // nothing at all
  EXPECT_EQ(std::u16string(text), u"abcde");

  int16_t small = 0;
  EXPECT_THROW(rows.GetValue("n", reinterpret_cast<int32_t*>(&small), sizeof small),
               CMimerException);
  uint8_t bytes[4] = {1, 2, 3, 4};
  rows.GetValue("u", bytes, 2);  // NULL reads as zero bytes, within the size
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[2], 3);
  EXPECT_THROW(rows.GetValue("t", &small, sizeof small), CMimerException);  // text into number
  EXPECT_EQ(Get<int32_t>(rows, "max"), 7);  // a function's name without "(" names a column
}

TEST_F(EngineTest, LargeObjectsKeepTheirLengthAndReadInPieces) {
  const struct {
    const char16_t* type;
    size_t limit;  // 0: none of its own
  } kCases[] = {{u"blob", 0},
                {u"BINARY LARGE OBJECT", 0},
                {u"Blob(3K)", 3072},
                {u"binary large object(100)", 100},
                {u"blob(2 M)", 2u << 20}};
  std::string data(5000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 256);
  const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
  for (const auto& c : kCases) {
    SCOPED_TRACE(engine::ToUtf8(c.type));
    const std::string table = "L" + std::to_string(&c - kCases);
    const std::u16string name = engine::ToUtf16(table);
    Run((u"create table " + name + u"( id integer, d " + c.type + u", constraint pk_" + name +
         u" primary key(id) )in db;")
            .c_str());
    auto insert = [&](size_t length) {
      CMimerCommand cmd(&Conn());
      cmd.InitCommand((u"insert into " + name + u"( id, d) VALUES (?, ?)").c_str());
      cmd.AppendParameter(static_cast<int32_t>(length));
      cmd.AppendParameter(bytes, length);
      cmd.ExecuteNoQuery();
    };
    const size_t fits = c.limit && c.limit < data.size() ? c.limit : data.size();
    insert(0);
    insert(fits);
    if (fits == c.limit) {
      EXPECT_THROW(insert(fits + 1), CMimerException);
    }
    // Read whole with its length, cut to a smaller destination, and in pieces.
    CMimerCommand cmd(&Conn());
    CMimerRecordSet rows;
    Query(cmd, rows, (u"select d, length(d) as n from " + name + u" where id=?").c_str(),
          static_cast<int32_t>(fits));
    std::string back(fits + 1, '#');
    size_t length = 0;
    rows.GetValue("d", reinterpret_cast<uint8_t*>(back.data()), fits, &length);
    EXPECT_EQ(length, fits);
    EXPECT_EQ(static_cast<size_t>(Get<int32_t>(rows, "n")), fits);
    EXPECT_EQ(back, data.substr(0, fits) + "#");
    rows.GetValue("d", reinterpret_cast<uint8_t*>(back.data()), 10, &length);
    EXPECT_EQ(length, fits);
    cmd.UninitCommand();

    CMimerDatabase::BeginReadTransaction();
    CMimerBlob blob(&Conn());
    blob.Open(table.c_str(), "d", static_cast<int64_t>(fits));
    EXPECT_EQ(blob.Length(), fits);
    std::string pieces;
    uint8_t piece[333];
    for (size_t got = 0; (got = blob.Read(pieces.size(), piece, sizeof piece)) > 0;)
      pieces.append(reinterpret_cast<char*>(piece), got);
    EXPECT_EQ(pieces, data.substr(0, fits));
    EXPECT_EQ(blob.Read(fits + 10, piece, sizeof piece), 0u);
    EXPECT_THROW(blob.Open(table.c_str(), "d", 999999), CMimerException);  // no such row
    blob.Open(table.c_str(), "d", 0);                                      // empty, not NULL
    EXPECT_EQ(blob.Length(), 0u);
    blob.Close();
    CMimerDatabase::CommitTransaction();
    EXPECT_THROW(blob.Open(table.c_str(), "d", 0), CMimerException);  // outside a transaction
    Run((u"insert into " + name + u"( id) VALUES (7777)").c_str());
    CMimerDatabase::BeginReadTransaction();
    EXPECT_THROW(blob.Open(table.c_str(), "d", 7777), CMimerException);  // NULL
    CMimerDatabase::CommitTransaction();
  }
}

TEST_F(EngineTest, CommandsCatchMisuseAndLeaveTheConnectionUsable) {
  CMimerCommand cmd(&Conn());
  EXPECT_THROW(cmd.ExecuteNoQuery(), CMimerException);  // nothing initialised
  EXPECT_THROW(cmd.InitCommand(u"select * from Nowhere"), CMimerException);
  EXPECT_NE(LastError().find("Nowhere"), std::string::npos) << LastError();
  EXPECT_THROW(cmd.InitCommand(u"this is not sql"), CMimerException);

  cmd.InitCommand(u"select * from A where id=? and UserID=?");
  cmd.AppendParameter(uint32_t{1});
  EXPECT_THROW(cmd.ExecuteNoQuery(), CMimerException);  // one value for two markers
  cmd.AppendParameter(uint32_t{1});
  EXPECT_THROW(cmd.AppendParameter(uint32_t{1}), CMimerException);  // three for two
  cmd.UninitCommand();

  const char16_t unterminated[3] = {u'a', u'b', u'c'};
  cmd.InitCommand(u"insert into B( t, UserID) VALUES (?, ?)");
  EXPECT_THROW(cmd.AppendParameter(unterminated, 3), CMimerException);
  EXPECT_THROW(cmd.AppendParameter(static_cast<const char16_t*>(nullptr)), CMimerException);
  cmd.UninitCommand();

  // Another thread can take the connection: nothing above kept it.
  uint32_t id = 0;
  std::thread other([&] { id = InsertA(1, u"ok"); });
  other.join();
  EXPECT_EQ(id, 1u);
}

// A copy keeps the row it was made on and outlives its statement; one text
// runs twice at once; a row bound holds for the next select only.
TEST_F(EngineTest, RecordSetsCopiesSharedTextsAndRowBounds) {
  for (int16_t i = 1; i <= 5; ++i) InsertA(i, u"x");
  CMimerCommand cmd(&Conn());
  CMimerRecordSet rows;
  Query(cmd, rows, u"select * from A where UserID=?", uint32_t{1});
  CMimerRecordSet first(rows);
  rows.MoveNext();
  CMimerRecordSet second(rows);
  rows.MoveNext();
  EXPECT_EQ(Get<int16_t>(first, "index"), 1);
  EXPECT_EQ(Get<int16_t>(second, "index"), 2);
  EXPECT_EQ(Get<int16_t>(rows, "index"), 3);
  cmd.UninitCommand();
  EXPECT_EQ(Get<int16_t>(second, "index"), 2);
  EXPECT_THROW(Get<int16_t>(rows, "index"), CMimerException);

  const char16_t* text = u"select index from A where UserID=? and id>=?";
  CMimerParameterSet values;
  values.AppendParameter(uint32_t{1});
  values.AppendParameter(int32_t{1});
  EXPECT_EQ(values.Count(), 2u);
  CMimerCommand inner(&Conn());
  CMimerRecordSet b;
  Query(cmd, rows, text, values);
  Query(inner, b, text, values);
  b.MoveNext();
  EXPECT_EQ(Get<int16_t>(rows, "index"), 1);
  EXPECT_EQ(Get<int16_t>(b, "index"), 2);

  cmd.SetMaxRows(2);
  Query(cmd, rows, u"select index from A where UserID=? order by index desc", uint32_t{1});
  EXPECT_EQ(Get<int16_t>(rows, "index"), 5);
  EXPECT_EQ(rows.MoveNext(), 0);
  EXPECT_EQ(rows.MoveNext(), 100);  // two rows, then no more
  // The same text without a bound is another statement, with every row.
  Query(cmd, rows, u"select index from A where UserID=? order by index desc", uint32_t{1});
  int count = 1;
  while (rows.MoveNext() == 0) ++count;
  EXPECT_EQ(count, 5);
}

// The dialect reader refuses what it does not know.
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
      u"create index if exists I on SmsHead (fid);",
      u"create view v as select 1",
      u"insert into T (a) select 1",
      u"drop table T",
      u"",
  };
  for (const char16_t* text : refused)
    EXPECT_THROW(engine::Parse(text), CMimerException) << engine::ToUtf8(text);
}

// Ill-formed UTF-8 (utfcpp's replacement; a few cases) and unpaired
// surrogates (our own pass) become U+FFFD.
TEST(TextConversion, IllFormedSequencesBecomeTheReplacementCharacter) {
  const struct {
    const char* name;
    std::string utf8;
    std::u16string want;
  } kCases[] = {
      {"overlong slash", "a\xC0\xAFz", u"a\uFFFDz"},
      {"encoded lead surrogate", "\xED\xA0\x80", u"\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD"},
      {"sequence cut by the end", "ok\xF0\x9F\x98", u"ok\uFFFD"},
      {"valid text", "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\xF4\x8F\xBF\xBD",
       u"a\u00E9\u4E2D\U0001F600\U0010FFFD"},
      {"U+0000 itself", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::u16string got = engine::ToUtf16(c.utf8);
    EXPECT_EQ(got, c.want);
    // What comes back is well formed, and stays as it is both ways round.
    EXPECT_EQ(engine::ToUtf16(engine::ToUtf8(got)), got);
  }

  const struct {
    const char* name;
    std::u16string utf16;
    std::string want;
  } kUtf16Cases[] = {
      {"lone lead", u"a\xD83Dz", "a\xEF\xBF\xBDz"},
      {"trail before lead", u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"lead at the end", u"x\xD83D", "x\xEF\xBF\xBD"},
      {"pair", u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
  };
  for (const auto& c : kUtf16Cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(engine::ToUtf8(c.utf16), c.want);
  }
}

// The text of a deleted message is gone from the file, whatever the build of
// SQLite (the Windows DLL's keeps freed content by default).
TEST_F(EngineTest, ADeletedMessagesTextIsOverwrittenInTheFile) {
  {
    StoreHandle store;
    SmsHead head{};
    std::copy_n(u"secret-4711", 11, head.content);
    uint32_t id = 0;
    ASSERT_EQ(AddZuSmsHead(store, &head, &id), 0) << LastError();
    ASSERT_EQ(DeleteZuSmsHead(store, id), 0);
  }
  Release();
  EXPECT_EQ(ReadFile(file_).find("secret-4711"), std::string::npos);
}

}  // namespace
}  // namespace zusms::testing
