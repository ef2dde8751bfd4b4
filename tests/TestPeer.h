// Reaches the store's private operations for the tests that need them.
#ifndef ZUSMS_TESTS_TESTPEER_H_
#define ZUSMS_TESTS_TESTPEER_H_

#include "SmsDatabase.h"

class SmsDatabaseTestPeer {
 public:
  static int32_t DropTables(SmsDatabase& db) { return db.DropTables(); }
  static tagTIMESTAMP_STRUCT Now(SmsDatabase& db) {
    tagTIMESTAMP_STRUCT t{};
    db.GetCurrentSysTime(t);
    return t;
  }
};

#endif  // ZUSMS_TESTS_TESTPEER_H_
