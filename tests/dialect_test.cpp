// Reading the Mimer SQL dialect: what the engine's behaviour on a file does
// not show (engine_test runs the rest), and what is refused.
#include "Dialect.h"

#include <gtest/gtest.h>

#include "MimerDatabase.h"
#include "Text.h"

namespace zusms::engine {
namespace {

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
  for (const char16_t* text : refused) {
    EXPECT_THROW(Parse(text), CMimerException) << ToUtf8(text);
  }
}

}  // namespace
}  // namespace zusms::engine
