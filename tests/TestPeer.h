// Reaches the store's private operations for the tests that need them.
#ifndef ZUSMS_TESTS_TESTPEER_H_
#define ZUSMS_TESTS_TESTPEER_H_

#include <string>

#include "SmsDatabase.h"

class SmsDatabaseTestPeer {
 public:
  static int32_t DropTables(SmsDatabase& db) { return db.DropTables(); }
  static tagTIMESTAMP_STRUCT Now(SmsDatabase& db) {
    tagTIMESTAMP_STRUCT t{};
    db.GetCurrentSysTime(t);
    return t;
  }
  // The statements the query builders compose on a base statement.
  static std::u16string HeadQuery(SmsDatabase& db, const MimerQueryFilter* filters, uint32_t count,
                                  CMimerParameterSet& params) {
    char16_t statement[1024] = u"B";
    db.CombSmsHeadQuery(filters, count, statement, params);
    return statement;
  }
  static std::u16string FolderQuery(SmsDatabase& db, const MimerQueryFilter& filter,
                                    CMimerParameterSet& params) {
    char16_t statement[1024] = u"B";
    db.CombSmsFolderQuery(filter, statement, params);
    return statement;
  }
};

#endif  // ZUSMS_TESTS_TESTPEER_H_
