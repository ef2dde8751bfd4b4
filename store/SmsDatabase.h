// SmsDatabase: one user's message store, for C++ callers.
//
// Every public method returns a status (0 success, -1 failure unless its
// comment says otherwise) and never lets an exception out; after a failure,
// GetZuSmsLastError tells why. The C functions of ZuSmsDB.h forward to these
// methods.
#ifndef ZUSMS_STORE_SMSDATABASE_H_
#define ZUSMS_STORE_SMSDATABASE_H_

#include <cstdint>

#include "MimerDatabase.h"
#include "ZuSmsDB.h"

// The schema version record: the version text, zero-terminated.
struct stAppVer {
  char16_t ver[31];
};

class ZUSMS_API SmsDatabase : public CMimerDatabase {
 public:
  explicit SmsDatabase(uint32_t userId);
  SmsDatabase(const SmsDatabase&) = default;
  SmsDatabase& operator=(const SmsDatabase&) = default;
  ~SmsDatabase() override;

  // Opens the connection, creates the schema when it is not all there, and
  // seeds the user's default folders. Returns 0; -1 when the schema could
  // not be created whole (the next Open tries again); or the connection's own
  // nonzero status, in which case nothing else is touched.
  int32_t Open();

  // Runs the schema creation sequence. 1 when it ran (whatever single
  // statements did), 0 when the connection or a command could not be had.
  int32_t CreateSmsTables();

  // Message heads (messages/SmsHead.cpp).
  int32_t AddSmsHead(SmsHead& rec, uint32_t& newId);
  int32_t UpdateSmsHead(SmsHead& rec);
  int32_t DeleteSmsHead(uint32_t id);
  int32_t DeleteAllSmsHead();
  int32_t GetSmsHead(uint32_t id, SmsHead& rec);
  int32_t GetSmsHeadCount(uint32_t& n);
  int32_t GetAllSmsHeadID(uint32_t* ids, uint32_t capacity, uint32_t& n);
  int32_t GetAllSmsHead(SmsHead* recs, uint32_t capacity, uint32_t& n);

  // Synchronisation listings (messages/SyncListings.cpp). Only message heads
  // have a modification time and a UUID; the other families' listings
  // return 0 and write nothing.
  int32_t GetAllSmsHeadIDModifyTime(stIDModifyTime* recs, uint32_t capacity, uint32_t& n);
  int32_t GetAllSmsHeadIDUUID(stIDUUID* recs, uint32_t capacity, uint32_t& n);
  int32_t GetSmsHeadModifyTime(uint32_t id, stDateTime& t);
#define ZU_DECLARE_NO_SYNC_LISTINGS(Family)                                                   \
  int32_t GetAll##Family##IDModifyTime(stIDModifyTime* recs, uint32_t capacity, uint32_t& n); \
  int32_t GetAll##Family##IDUUID(stIDUUID* recs, uint32_t capacity, uint32_t& n);             \
  int32_t Get##Family##ModifyTime(uint32_t id, stDateTime& t);
  ZU_DECLARE_NO_SYNC_LISTINGS(SmsContent)
  ZU_DECLARE_NO_SYNC_LISTINGS(SmsAreaBroadcast)
  ZU_DECLARE_NO_SYNC_LISTINGS(SmsFolder)
  ZU_DECLARE_NO_SYNC_LISTINGS(SmsFilter)
  ZU_DECLARE_NO_SYNC_LISTINGS(SmsReceiverHistory)
  ZU_DECLARE_NO_SYNC_LISTINGS(SmsPhrase)
#undef ZU_DECLARE_NO_SYNC_LISTINGS

  // Folders (folders/SmsFolder.cpp).
  int32_t AddSmsFolder(SmsFolder& rec, uint32_t& newId);
  int32_t UpdateSmsFolder(SmsFolder& rec);
  int32_t DeleteSmsFolder(uint32_t id);
  int32_t DeleteAllSmsFolder();
  int32_t GetSmsFolder(uint32_t id, SmsFolder& rec);
  int32_t GetSmsFolderCount(uint32_t& n);
  int32_t GetAllSmsFolderID(uint32_t* ids, uint32_t capacity, uint32_t& n);
  int32_t GetAllSmsFolder(SmsFolder* recs, uint32_t capacity, uint32_t& n);

 private:
  friend class SmsDatabaseTestPeer;

  int32_t CreateAllTables();
  int32_t CreateSmsHaedTable();
  int32_t CreateSmsContentTable();
  int32_t CreateSmsAreaBroadcastTable();
  int32_t CreateSmsPhraseTable();
  int32_t CreateSmsFolderTable();
  int32_t CreateSmsFilterTables();
  int32_t CreateSmsReceiverHistoryTable();
  int32_t GetAppVer(stAppVer& ver);
  int32_t DropTables();
  tagTIMESTAMP_STRUCT& GetCurrentSysTime(tagTIMESTAMP_STRUCT& out);

  // Row mappers: one row of the family's table into its record.
  void GetSmsHeadAllFieldData(SmsHead& rec, CMimerRecordSet& rows);
  void GetSmsFolderAllFieldData(SmsFolder& rec, CMimerRecordSet& rows);

  // Folder numbering.
  int32_t AddSmsFolderBase(SmsFolder& rec, uint32_t& newId);
  int32_t GetMaxFolderId(uint32_t& highest);
  int32_t InitFolder();

  // Runs the statements of one table on one command: the engine's result of
  // the last, or -1 when one raised (those after it are skipped).
  int32_t RunTableStatements(const char16_t* const* statements, int count);
  // The first record table that does not exist, or null when all do.
  const char* MissingRecordTable();
};

#endif  // ZUSMS_STORE_SMSDATABASE_H_
