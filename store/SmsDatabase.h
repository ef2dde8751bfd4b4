// SmsDatabase: one user's message store, for C++ callers.
//
// Every public method returns a status (0 success, -1 failure unless its
// comment says otherwise) and never lets an exception out; after a failure,
// GetZuSmsLastError tells why. The C functions of ZuSmsDB.h forward to these
// methods.
#ifndef ZUSMS_STORE_SMSDATABASE_H_
#define ZUSMS_STORE_SMSDATABASE_H_

#include <cstdint>
#include <functional>

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

  // The eight record operations of each family, as the C functions of
  // ZuSmsDB.h.
  // messages/SmsHead.cpp
  int32_t AddSmsHead(SmsHead& rec, uint32_t& newId);
  int32_t UpdateSmsHead(SmsHead& rec);
  int32_t DeleteSmsHead(uint32_t id);
  int32_t DeleteAllSmsHead();
  int32_t GetSmsHead(uint32_t id, SmsHead& rec);
  int32_t GetSmsHeadCount(uint32_t& n);
  int32_t GetAllSmsHeadID(uint32_t* ids, uint32_t capacity, uint32_t& n);
  int32_t GetAllSmsHead(SmsHead* recs, uint32_t capacity, uint32_t& n);

  // messages/SmsContent.cpp
  int32_t AddSmsContent(SmsContent& rec, uint32_t& newId);
  int32_t UpdateSmsContent(SmsContent& rec);
  int32_t DeleteSmsContent(uint32_t id);
  int32_t DeleteAllSmsContent();
  int32_t GetSmsContent(uint32_t id, SmsContent& rec);
  int32_t GetSmsContentCount(uint32_t& n);
  int32_t GetAllSmsContentID(uint32_t* ids, uint32_t capacity, uint32_t& n);
  int32_t GetAllSmsContent(SmsContent* recs, uint32_t capacity, uint32_t& n);

  // messages/SmsAreaBroadcast.cpp
  int32_t AddSmsAreaBroadcast(SmsAreaBroadcast& rec, uint32_t& newId);
  int32_t UpdateSmsAreaBroadcast(SmsAreaBroadcast& rec);
  int32_t DeleteSmsAreaBroadcast(uint32_t id);
  int32_t DeleteAllSmsAreaBroadcast();
  int32_t GetSmsAreaBroadcast(uint32_t id, SmsAreaBroadcast& rec);
  int32_t GetSmsAreaBroadcastCount(uint32_t& n);
  int32_t GetAllSmsAreaBroadcastID(uint32_t* ids, uint32_t capacity, uint32_t& n);
  int32_t GetAllSmsAreaBroadcast(SmsAreaBroadcast* recs, uint32_t capacity, uint32_t& n);

  // folders/SmsFolder.cpp
  int32_t AddSmsFolder(SmsFolder& rec, uint32_t& newId);
  int32_t UpdateSmsFolder(SmsFolder& rec);
  int32_t DeleteSmsFolder(uint32_t id);
  int32_t DeleteAllSmsFolder();
  int32_t GetSmsFolder(uint32_t id, SmsFolder& rec);
  int32_t GetSmsFolderCount(uint32_t& n);
  int32_t GetAllSmsFolderID(uint32_t* ids, uint32_t capacity, uint32_t& n);
  int32_t GetAllSmsFolder(SmsFolder* recs, uint32_t capacity, uint32_t& n);

  // folders/SmsFilter.cpp
  int32_t AddSmsFilter(SmsFilter& rec, uint32_t& newId);
  int32_t UpdateSmsFilter(SmsFilter& rec);
  int32_t DeleteSmsFilter(uint32_t id);
  int32_t DeleteAllSmsFilter();
  int32_t GetSmsFilter(uint32_t id, SmsFilter& rec);
  int32_t GetSmsFilterCount(uint32_t& n);
  int32_t GetAllSmsFilterID(uint32_t* ids, uint32_t capacity, uint32_t& n);
  int32_t GetAllSmsFilter(SmsFilter* recs, uint32_t capacity, uint32_t& n);

  // folders/SmsReceiverHistory.cpp
  int32_t AddSmsReceiverHistory(SmsRecieverHistory& rec, uint32_t& newId);
  int32_t UpdateSmsReceiverHistory(SmsRecieverHistory& rec);
  int32_t DeleteSmsReceiverHistory(uint32_t id);
  int32_t DeleteAllSmsReceiverHistory();
  int32_t GetSmsReceiverHistory(uint32_t id, SmsRecieverHistory& rec);
  int32_t GetSmsReceiverHistoryCount(uint32_t& n);
  int32_t GetAllSmsReceiverHistoryID(uint32_t* ids, uint32_t capacity, uint32_t& n);
  int32_t GetAllSmsReceiverHistory(SmsRecieverHistory* recs, uint32_t capacity, uint32_t& n);

  // folders/SmsPhrase.cpp
  int32_t AddSmsPhrase(SmsPhrase& rec, uint32_t& newId);
  int32_t UpdateSmsPhrase(SmsPhrase& rec);
  int32_t DeleteSmsPhrase(uint32_t id);
  int32_t DeleteAllSmsPhrase();
  int32_t GetSmsPhrase(uint32_t id, SmsPhrase& rec);
  int32_t GetSmsPhraseCount(uint32_t& n);
  int32_t GetAllSmsPhraseID(uint32_t* ids, uint32_t capacity, uint32_t& n);
  int32_t GetAllSmsPhrase(SmsPhrase* recs, uint32_t capacity, uint32_t& n);

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
  int32_t GetAllSmsContentIDModifyTime(stIDModifyTime* recs, uint32_t capacity, uint32_t& n);
  int32_t GetAllSmsContentIDUUID(stIDUUID* recs, uint32_t capacity, uint32_t& n);
  int32_t GetSmsContentModifyTime(uint32_t id, stDateTime& t);
  int32_t GetAllSmsAreaBroadcastIDModifyTime(stIDModifyTime* recs, uint32_t capacity, uint32_t& n);
  int32_t GetAllSmsAreaBroadcastIDUUID(stIDUUID* recs, uint32_t capacity, uint32_t& n);
  int32_t GetSmsAreaBroadcastModifyTime(uint32_t id, stDateTime& t);
  int32_t GetAllSmsFolderIDModifyTime(stIDModifyTime* recs, uint32_t capacity, uint32_t& n);
  int32_t GetAllSmsFolderIDUUID(stIDUUID* recs, uint32_t capacity, uint32_t& n);
  int32_t GetSmsFolderModifyTime(uint32_t id, stDateTime& t);
  int32_t GetAllSmsFilterIDModifyTime(stIDModifyTime* recs, uint32_t capacity, uint32_t& n);
  int32_t GetAllSmsFilterIDUUID(stIDUUID* recs, uint32_t capacity, uint32_t& n);
  int32_t GetSmsFilterModifyTime(uint32_t id, stDateTime& t);
  int32_t GetAllSmsReceiverHistoryIDModifyTime(stIDModifyTime* recs, uint32_t capacity,
                                               uint32_t& n);
  int32_t GetAllSmsReceiverHistoryIDUUID(stIDUUID* recs, uint32_t capacity, uint32_t& n);
  int32_t GetSmsReceiverHistoryModifyTime(uint32_t id, stDateTime& t);
  int32_t GetAllSmsPhraseIDModifyTime(stIDModifyTime* recs, uint32_t capacity, uint32_t& n);
  int32_t GetAllSmsPhraseIDUUID(stIDUUID* recs, uint32_t capacity, uint32_t& n);
  int32_t GetSmsPhraseModifyTime(uint32_t id, stDateTime& t);

  // Changes since a token (changelog/ChangeListings.cpp), as the C functions of
  // ZuSmsDB.h: 0, ZU_RESYNC when the token cannot be served, -1 on failure.
  int32_t GetSmsChangeToken(uint64_t& token);
  int32_t ListSmsHeadChanges(uint64_t since, stSmsChange* items, uint32_t capacity, uint32_t& n,
                             uint64_t& next);
  int32_t ListSmsFolderChanges(uint64_t since, stSmsChange* items, uint32_t capacity, uint32_t& n,
                               uint64_t& next);

  // Read state of message heads (messages/ReadState.cpp), as the C functions
  // of ZuSmsDB.h: 0, 100 when the user has no head `id`, -1 on failure.
  int32_t SetSmsHeadRead(uint32_t id, int32_t read);
  int32_t GetSmsHeadRead(uint32_t id, int32_t& read);
  int32_t GetSmsUnreadHeadCount(uint32_t& n);
  int32_t GetAllSmsUnreadHeadID(uint32_t* ids, uint32_t capacity, uint32_t& n);
  // Finding messages by their text (messages/SmsHeadSearch.cpp), as the C
  // functions of ZuSmsDB.h.
  int32_t SearchSmsHead(const char16_t* terms, uint32_t flags, uint32_t* ids, uint32_t capacity,
                        uint32_t& n, uint64_t* total);
  int32_t ListSmsPersons(uint32_t offset, stSmsPerson* items, uint32_t capacity, uint32_t& n,
                         uint64_t* total);
  int32_t ListSmsConversation(const char16_t* number, uint32_t offset, uint32_t* ids,
                              uint32_t capacity, uint32_t& n, uint64_t* total);
  int32_t CheckSmsIndexes(int32_t repair);
  int32_t RefreshSmsIndexes(const std::function<void(uint64_t)>& progress = {});
  // Multimedia messages (messages/SmsMms.cpp), as the C functions of
  // ZuSmsDB.h.
  int32_t AddSmsMms(SmsHead& head, const SmsMms& mms, const SmsMmsAttribute* attrs,
                    uint32_t attrCount, const SmsMmsPartData* parts, uint32_t partCount,
                    const SmsMmsAddress* addrs, uint32_t addrCount, uint32_t& newId);
  int32_t AddSmsMmsFrom(SmsHead& head, const SmsMms& mms, const SmsMmsAttribute* attrs,
                        uint32_t attrCount, uint32_t partCount, ZuSmsPartSource source,
                        void* context, const SmsMmsAddress* addrs, uint32_t addrCount,
                        uint32_t& newId);
  int32_t CheckSmsMms(const SmsHead& head, const SmsMms& mms, const SmsMmsAttribute* attrs,
                      uint32_t attrCount, const SmsMmsPart* parts, uint32_t partCount,
                      const SmsMmsAddress* addrs, uint32_t addrCount);
  int32_t GetSmsMms(uint32_t id, SmsMms& mms, uint32_t& attrCount, uint32_t& partCount,
                    uint32_t& addrCount);
  int32_t GetSmsMmsCount(uint32_t& n);
  int32_t GetAllSmsMmsID(uint32_t* ids, uint32_t capacity, uint32_t& n);
  int32_t GetAllSmsMmsAttribute(uint32_t id, SmsMmsAttribute* recs, uint32_t capacity, uint32_t& n);
  int32_t GetAllSmsMmsPart(uint32_t id, SmsMmsPart* recs, uint32_t capacity, uint32_t& n);
  int32_t GetAllSmsMmsAddress(uint32_t id, SmsMmsAddress* recs, uint32_t capacity, uint32_t& n);
  int32_t GetSmsMmsPartText(uint32_t id, uint32_t part, char16_t* buf, uint32_t capacity,
                            uint32_t& length);
  int32_t GetSmsMmsPartData(uint32_t id, uint32_t part, uint64_t offset, uint8_t* buf,
                            uint32_t size, uint32_t& read);
  int32_t StreamSmsMmsPartData(uint32_t id, uint32_t part, uint8_t* buf, uint32_t size,
                               ZuSmsPartSink sink, void* context, uint64_t& total);
  // Settings of the store's user (store/Settings.cpp), as the C functions of
  // ZuSmsDB.h.
  int32_t SetSmsSetting(const char16_t* name, const char16_t* value);
  int32_t GetSmsSetting(const char16_t* name, char16_t* buf, uint32_t capacity, uint32_t& length);

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
  bool HasDefaultFolders();

  // The change log at open: created on a writable file that has none (every
  // existing head and folder entered once as added), and old tombstones
  // pruned. A read-only file is left as it is.
  int32_t OpenChangeLog();
  bool ChangeLogInPlace();

  // The table of unread heads, made at a writable open that finds none.
  int32_t OpenReadState();
  bool ReadStateInPlace();
  // The tables of multimedia messages, made at a writable open that finds
  // them missing.
  int32_t OpenMms();
  bool MmsInPlace();
  // Removes what multimedia messages head `id` (null: every head) of the
  // user owns; on `cmd`, raising on error. Head deletions run it first.
  void DeleteSmsMmsOf(CMimerCommand& cmd, const uint32_t* id);
  // Adds a checked message, part i from `part(i)` (null: the caller's
  // source stopped), in one transaction.
  template <typename Parts>
  int32_t AddMms(SmsHead& head, const SmsMms& mms, const SmsMmsAttribute* attrs, uint32_t attrCount,
                 uint32_t partCount, Parts&& part, const SmsMmsAddress* addrs, uint32_t addrCount,
                 uint32_t& newId);
  // The settings table at open: created on a writable file that has none.
  int32_t OpenSettings();
  bool SettingsInPlace();

  // True when the open finds everything it would make or repair in place
  // (schema, default folders, change log with nothing to prune, indexes);
  // read under the read lock only.
  bool OpenFindsAllInPlace();

  // The part of Open after the connection: schema check and creation, and
  // the default folders.
  int32_t OpenSchema();

  // Runs the statements of one table on one command: 0, or -1 when one
  // raised (those after it are skipped; its error is kept for the table).
  int32_t RunTableStatements(const char16_t* const* statements, int count);
  // The first record table that does not exist, or null when all do.
  const char* MissingRecordTable();
};

#endif  // ZUSMS_STORE_SMSDATABASE_H_
