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

  // A batch: this thread's operations between BeginBatch and CommitBatch (or
  // RollbackBatch) run in one transaction; other threads wait for the
  // connection until it ends. Batches nest; a rollback ends them all.
  int32_t BeginBatch();
  int32_t CommitBatch();
  int32_t RollbackBatch();

  // Runs the schema creation sequence. 1 when it ran (whatever single
  // statements did), 0 when the connection or a command could not be had.
  int32_t CreateSmsTables();

  // The eight record operations of one family, for example
  // ZU_RECORD_METHODS(SmsHead, SmsHead): AddSmsHead(rec, newId),
  // UpdateSmsHead(rec), DeleteSmsHead(id), DeleteAllSmsHead(),
  // GetSmsHead(id, rec), GetSmsHeadCount(n), GetAllSmsHeadID(ids, capacity, n)
  // and GetAllSmsHead(recs, capacity, n), as the C functions of ZuSmsDB.h.
#define ZU_RECORD_METHODS(Record, Name)                                    \
  int32_t Add##Name(Record& rec, uint32_t& newId);                         \
  int32_t Update##Name(Record& rec);                                       \
  int32_t Delete##Name(uint32_t id);                                       \
  int32_t DeleteAll##Name();                                               \
  int32_t Get##Name(uint32_t id, Record& rec);                             \
  int32_t Get##Name##Count(uint32_t& n);                                   \
  int32_t GetAll##Name##ID(uint32_t* ids, uint32_t capacity, uint32_t& n); \
  int32_t GetAll##Name(Record* recs, uint32_t capacity, uint32_t& n);
  ZU_RECORD_METHODS(SmsHead, SmsHead)                        // messages/SmsHead.cpp
  ZU_RECORD_METHODS(SmsContent, SmsContent)                  // messages/SmsContent.cpp
  ZU_RECORD_METHODS(SmsAreaBroadcast, SmsAreaBroadcast)      // messages/SmsAreaBroadcast.cpp
  ZU_RECORD_METHODS(SmsFolder, SmsFolder)                    // folders/SmsFolder.cpp
  ZU_RECORD_METHODS(SmsFilter, SmsFilter)                    // folders/SmsFilter.cpp
  ZU_RECORD_METHODS(SmsRecieverHistory, SmsReceiverHistory)  // folders/SmsReceiverHistory.cpp
  ZU_RECORD_METHODS(SmsPhrase, SmsPhrase)                    // folders/SmsPhrase.cpp
#undef ZU_RECORD_METHODS

  // Queries over message heads (messages/SmsHeadQuery.cpp) and folders
  // (folders/SmsFolderQuery.cpp), as the C functions of ZuSmsDB.h.
  int32_t QuerySmsHeadCount(MimerQueryFilter& filter, uint32_t& n);
  int32_t QuerySmsHead(MimerQueryFilter& filter, SmsHead* recs, uint32_t capacity, uint32_t& n);
  int32_t QuerySmsHeadID(MimerQueryFilter& filter, uint32_t* ids, uint32_t capacity, uint32_t& n);
  int32_t CombineQuerySmsHeadCount(MimerQueryFilter* filters, uint32_t filterCount, uint32_t& n);
  int32_t CombineQuerySmsHead(MimerQueryFilter* filters, uint32_t filterCount, SmsHead* recs,
                              uint32_t capacity, uint32_t& n);
  int32_t CombineQuerySmsHeadID(MimerQueryFilter* filters, uint32_t filterCount, uint32_t* ids,
                                uint32_t capacity, uint32_t& n);
  int32_t QuerySmsFolderCount(MimerQueryFilter& filter, uint32_t& n);
  int32_t QuerySmsFolder(MimerQueryFilter& filter, SmsFolder* recs, uint32_t capacity, uint32_t& n);
  int32_t QuerySmsFolderID(MimerQueryFilter& filter, uint32_t* ids, uint32_t capacity, uint32_t& n);

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

  // Changes since a token (store/ChangeLog.cpp), as the C functions of
  // ZuSmsDB.h: 0, ZU_RESYNC when the token cannot be served, -1 on failure.
  int32_t GetSmsChangeToken(uint64_t& token);
  int32_t ListSmsHeadChanges(uint64_t since, stSmsChange* items, uint32_t capacity, uint32_t& n,
                             uint64_t& next);
  int32_t ListSmsFolderChanges(uint64_t since, stSmsChange* items, uint32_t capacity, uint32_t& n,
                               uint64_t& next);

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
  void GetSmsContentAllFieldData(SmsContent& rec, CMimerRecordSet& rows);
  // Reads from its own copy of the caller's record set, made at its row.
  void GetSmsAreaBroadcastAllFieldData(SmsAreaBroadcast& rec, CMimerRecordSet rows);
  void GetSmsFolderAllFieldData(SmsFolder& rec, CMimerRecordSet& rows);
  void GetSmsFilterAllFielderData(SmsFilter& rec, CMimerRecordSet& rows);
  void GetSmsReceiverHistoryAllFieldData(SmsRecieverHistory& rec, CMimerRecordSet& rows);
  void GetSmsPhraseAllFieldData(SmsPhrase& rec, CMimerRecordSet& rows);

  // Query builders: append the filters' conditions and ordering to the
  // statement (1024 characters) and their values to the parameter set.
  void CombSmsHeadQuery(const MimerQueryFilter* filters, uint32_t filterCount, char16_t* statement,
                        CMimerParameterSet& params);
  void CombSmsFolderQuery(const MimerQueryFilter& filter, char16_t* statement,
                          CMimerParameterSet& params);

  // Folder numbering.
  int32_t AddSmsFolderBase(SmsFolder& rec, uint32_t& newId);
  int32_t GetMaxFolderId(uint32_t& highest);
  int32_t InitFolder();

  // The change log at open: created on a writable file that has none (every
  // existing head and folder entered once as added), and old tombstones
  // pruned. A read-only file is left as it is.
  int32_t OpenChangeLog();

  // The part of Open after the connection: schema check and creation, and
  // the default folders.
  int32_t OpenSchema();

  // Runs the statements of one table on one command: the engine's result of
  // the last, or -1 when one raised (those after it are skipped).
  int32_t RunTableStatements(const char16_t* const* statements, int count);
  // The first record table that does not exist, or null when all do.
  const char* MissingRecordTable();
};

#endif  // ZUSMS_STORE_SMSDATABASE_H_
