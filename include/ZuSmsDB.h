/*
 * zusms: one user's short messages, and everything that belongs to them, in
 * one embedded SQL database file shared by several users.
 *
 * This is the header that C and C++ callers compile against.
 *
 * Conventions, once for every function below:
 *  - A store handle comes from InitZuSmsDB and stays the caller's until it is
 *    passed to UninitZuSmsDB. Every other function takes it first.
 *  - Every function returns a signed 32-bit status: 0 success, -1 failure.
 *    A few functions have codes of their own; their comments say so. A null
 *    handle gives -1 (UninitZuSmsDB: 0). No function ever lets an exception
 *    or a crash out for bad input; GetZuSmsLastError explains a failure, and
 *    IsZuSmsLastErrorBusy tells a busy file (worth trying again) apart.
 *  - The caller owns every record, array and count it passes; the library
 *    reads and writes them only during the call and never writes an array
 *    beyond the capacity it was given.
 *  - Text is UTF-16 (char16_t) in fixed-capacity arrays, zero-terminated;
 *    a field holds at most its capacity minus one character.
 *  - Functions are safe to call from several threads at once, and several
 *    processes may share one database file.
 *
 * The database file: $ZUSMS_DB if set, otherwise zuSms.dbf in
 * $XDG_DATA_HOME/zusms/ (or ~/.local/share/zusms/), created as needed. On
 * Windows: %ZUSMS_DB% (any characters), otherwise %LOCALAPPDATA%\zusms\.
 *
 * Windows: zusmsdb.dll exports the functions below under their plain names
 * in the cdecl convention; the records have the same layout on 32-bit and
 * 64-bit Windows and on Linux.
 */
#ifndef ZUSMS_ZUSMSDB_H_
#define ZUSMS_ZUSMSDB_H_

#include <stdint.h>
#include <uchar.h>

#if defined(_WIN32)
#define ZUSMS_CALL __cdecl
#if defined(ZUSMS_BUILDING)
#define ZUSMS_API __declspec(dllexport)
#else
#define ZUSMS_API __declspec(dllimport)
#endif
#else
#define ZUSMS_CALL
#define ZUSMS_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
class SmsDatabase;
extern "C" {
#else
/* The store handle: opaque to C callers. */
typedef struct SmsDatabase SmsDatabase;
#endif

/* ---- Records ------------------------------------------------------------
 * Every record starts with its id, drawn when the row is added from one
 * sequence shared by all kinds of record: an id is unique across them all.
 * Text fields hold at most their capacity minus one character; an add or
 * update whose text fills its field with no terminating zero returns -1 and
 * writes nothing. */

/* A message. */
typedef struct SmsHead {
  int32_t id;
  int16_t index;
  int16_t type;
  int32_t fid; /* folder number */
  int32_t batid;
  char16_t createtime[15];
  char16_t tel[33];
  char16_t name[40];
  char16_t recvtime[15];
  char16_t content[671];
  int16_t privmode;
  int16_t ccid;
  int16_t lockflag;
  int32_t oldfid;
  int16_t impt;
  int16_t longsms;
  char16_t operid[10];
  uint8_t uuid[16]; /* kept when valid, else replaced by a new one on add */
} SmsHead;

/* A folder. FdId is the folder number that messages' fid refers to: 1 to 14
 * are the user's default folders (system 1), created when the store opens
 * and never deleted; folders added later are numbered above the highest. */
typedef struct SmsFolder {
  int32_t id;
  int32_t FdId;
  char16_t fname[40];
  int16_t system;
  int16_t password;
  int16_t privmode;
} SmsFolder;

/* A message content (storage location) row. */
typedef struct SmsContent {
  int32_t id;
  int32_t BatId;
  int16_t type;
  int16_t savepos;
  int16_t rivmode;
  int32_t location;
  char16_t name[40];
  char16_t tel[33];
} SmsContent;

/* A cell broadcast page. recvtime holds up to 32 characters in the record
 * but only 15 in the database: a longer one is refused (-1, nothing stored). */
typedef struct SmsAreaBroadcast {
  int32_t id;
  int16_t status;
  int32_t sn;
  int32_t msgid;
  int32_t pageindex;
  int32_t dctype;
  char16_t recvtime[33];
  int16_t datalen; /* kept as given, not derived from data */
  char16_t data[671];
} SmsAreaBroadcast;

/* A filter rule; the store keeps it and never applies it. */
typedef struct SmsFilter {
  int32_t id;
  int32_t folderid;
  int16_t ftype;
  int16_t fattr;
  char16_t tel[33];
  char16_t name[40];
} SmsFilter;

/* A recipient history entry (the type's name is spelled so). */
typedef struct SmsRecieverHistory {
  int32_t id;
  char16_t tel[33];
  char16_t name[40];
  int16_t privmode;
  char16_t lastdate[15];
} SmsRecieverHistory;

/* A canned phrase. */
typedef struct SmsPhrase {
  int32_t id;
  char16_t content[100];
  int16_t impBool;
} SmsPhrase;

/* ---- Multimedia messages --------------------------------------------------
 * A multimedia message is a message head (SmsHead: its folder, times,
 * number, text, uuid, modification time, as for any message) with records
 * of its own beside it, which carry no id and no user: the message's own
 * attributes, further attributes as name/value pairs, its parts and its
 * addresses. Their functions are below the record operations. */

/* The largest part's data, in bytes. */
#define ZU_MMS_PART_MAX (100u * 1024u * 1024u)
/* The longest part's text, in characters (terminator not counted). */
#define ZU_MMS_TEXT_MAX 65535u

/* Address roles (the codes multimedia messages carry them with). */
#define ZU_MMS_FROM 137
#define ZU_MMS_TO 151
#define ZU_MMS_CC 130
#define ZU_MMS_BCC 129

/* The message's own attributes. */
typedef struct SmsMms {
  char16_t subject[256];
  char16_t ctype[128]; /* content type of the whole message */
  int32_t mtype;       /* message type (128 sent, 132 received, ...), kept as given */
} SmsMms;

/* Any other attribute of the message, kept in order, to be written back.
 * Some names are the store's own: "part:N" holds the names of part N's
 * attributes in their order, separated by spaces; "part:N:NAME" the value
 * of its attribute NAME when that has no column, or is too long for its
 * column (ct, name, fn, chset, cid, cl), which then holds its start;
 * "addr:N" and "addr:N:NAME" likewise for address N (columns address and
 * charset); a row named "+" goes on with the value of the row before it,
 * for values longer than a row. A message attribute that a backup writes
 * in place of a column must agree with the column: "sub" with subject and
 * "ct_t" with ctype (the same text, the whole of which the column holds
 * the start, or "null", the backups' word for none, with the column
 * empty), "m_type" with mtype (its decimal, leading zeros allowed; a value
 * that is no decimal in 32 bits goes with mtype 0); the add refuses one
 * that does not. "date", "read", "locked" and "msg_box" are written from
 * the head, which wins over a value kept: the head's state may change. */
typedef struct SmsMmsAttribute {
  char16_t name[64];
  char16_t value[1024];
} SmsMmsAttribute;

/* One address of the message, in the message's order. */
typedef struct SmsMmsAddress {
  char16_t address[128];
  int16_t type; /* ZU_MMS_FROM, ZU_MMS_TO, ZU_MMS_CC or ZU_MMS_BCC */
  char16_t charset[32];
} SmsMmsAddress;

/* What describes one part; the part's text and data are read apart. */
typedef struct SmsMmsPart {
  int32_t seq; /* the part's sequence number, kept as given */
  char16_t ctype[128];
  char16_t name[256];
  char16_t fname[256]; /* file name */
  char16_t charset[32];
  char16_t cid[128]; /* content id */
  char16_t cl[256];  /* content location */
  uint32_t textlen;  /* characters of its text */
  uint32_t datalen;  /* bytes of its data */
} SmsMmsPart;

/* One part as it is added: its description with its text and data. */
typedef struct SmsMmsPartData {
  SmsMmsPart part;      /* part.textlen is not read; part.datalen bytes at data */
  const char16_t *text; /* zero-terminated; NULL: no text */
  const uint8_t *data;  /* NULL only when part.datalen is 0 */
} SmsMmsPartData;

/* ---- Synchronisation listings ------------------------------------------- */

/* A date and time of day in UTC. */
typedef struct stDateTime {
  int16_t year;
  int16_t month;
  int16_t day;
  int16_t hour;
  int16_t minute;
  int16_t second;
} stDateTime;

typedef struct stIDModifyTime {
  uint32_t id;
  stDateTime modifyTime;
} stIDModifyTime;

typedef struct stIDUUID {
  uint32_t id;
  uint8_t uuid[16];
} stIDUUID;

/* ---- Changes since a token -----------------------------------------------
 * The file keeps a log of every add, update, move and delete of message
 * heads and folders, whoever writes it (this library, another program, the
 * sqlite3 shell): one entry per record, its latest change, and a tombstone
 * per deleted record, kept for ZUSMS_TOMBSTONE_DAYS days (default 180; 0
 * removes them all when a store opens). A partner keeps the token the last
 * listing gave it and asks for what changed since:
 *
 *   uint64_t token = saved;  (0: everything, from the beginning)
 *   for (;;) {
 *     int32_t rc = ListZuSmsHeadChanges(store, token, page, 100, &n, &next);
 *     if (rc == ZU_RESYNC) { ...GetZuSmsChangeToken, then a full listing... }
 *     ...apply page[0..n-1]...
 *     token = next;
 *     if (n < 100) break;
 *   }
 *
 * A token is opaque: a random epoch of the log and a counter in 64 bits. */

/* Status of the change functions when the partner must fall back to a full
 * listing (GetAllZuSmsHeadIDUUID, GetAllZuSmsFolder) once: the token belongs
 * to another file or to a log made anew, lies above the file's current token
 * (a file restored from an older copy and not yet written past the token),
 * or tombstones it would need have been removed; also when a read-only file
 * has no log. A restored copy that has been written since is not recognised
 * by its log: whoever restores a file deletes the row of zu_change_state
 * before the store is used again (sqlite3 FILE "DELETE FROM
 * zu_change_state"), so that the next writable open makes the log anew
 * under a new epoch and every partner gets ZU_RESYNC once. */
#define ZU_RESYNC 2

/* One change: kind 1 added or changed (the record is there now), 2 deleted.
 * uuid is the message head's (zero for folders); modifyTime is the head's
 * modification time for kind 1 (zero for folders and for deletions). */
typedef struct stSmsChange {
  uint32_t id;
  uint8_t uuid[16];
  int32_t kind;
  stDateTime modifyTime;
} stSmsChange;

/* ---- Query filters -------------------------------------------------------
 * A filter is a list of conditions, all joined by AND (joinType 1) or all by
 * OR (any other joinType), and a list of columns to order by. Several
 * filters given at once must all match. A filter never widens the store's
 * restriction to its own user. Every value is bound as a parameter, never
 * written into the statement.
 *
 * Text compares and sorts by Unicode code point (the database is UTF-8 with
 * binary collation), so ordering by the time texts or by name gives the same
 * order in every query. */

/* The comparison of a condition item (`op`). */
enum {
  ZU_OP_NONE = 0,     /* no condition: the item adds nothing */
  ZU_OP_EQ = 1,       /* equal: value.number on integer fields, value.text on text fields */
  ZU_OP_NE = 2,       /* not equal */
  ZU_OP_LT = 3,       /* less */
  ZU_OP_LE = 4,       /* less or equal */
  ZU_OP_GT = 5,       /* greater */
  ZU_OP_GE = 6,       /* greater or equal */
  ZU_OP_LIKE = 7,     /* LIKE with the caller's pattern (% and _) in value.text */
  ZU_OP_CONTAINS = 8, /* value.text occurs anywhere, matched literally */
  ZU_OP_BEGINS = 9,   /* begins with value.text, matched literally */
  ZU_OP_BYTES_EQ = 10 /* equal to the 16 bytes at value.bytes: the UUID only */
};
/* 7, 8 and 9 ignore case for ASCII letters only. An unknown op, an op that
 * does not fit the field (LIKE on a number, anything but 0 and 10 on the
 * UUID), a null text or bytes pointer, or a number outside the field's 16 or
 * 32 bits makes the query return -1 with nothing run and *n unchanged. An
 * item whose `field` names no field of the table is skipped.
 *
 * An item is 16 bytes on every target, 32-bit Windows included: its value
 * holds a 64-bit number, so it is not three 32-bit words. */
typedef struct _MimerQueryFilterItem {
  int32_t field; /* a field selector, below */
  int32_t op;    /* ZU_OP_... */
  union {
    int64_t number;
    const char16_t *text; /* zero-terminated */
    const uint8_t *bytes; /* 16 bytes */
  } value;
} _MimerQueryFilterItem;

/* direction: 1 ascending, 2 descending, anything else the column alone. */
typedef struct _MimerQueryOrderItem {
  int32_t field;
  int32_t direction;
} _MimerQueryOrderItem;

typedef struct MimerQueryFilter {
  uint32_t itemCount;
  _MimerQueryFilterItem *items;
  int32_t joinType; /* 1: and; anything else: or */
  uint32_t orderCount;
  _MimerQueryOrderItem *orders; /* null: no ordering */
} MimerQueryFilter;

/* Field selectors of message heads, for conditions and ordering alike. */
enum {
  ZU_HEAD_ID = 1,
  ZU_HEAD_INDEX = 2,
  ZU_HEAD_TYPE = 3,
  ZU_HEAD_FID = 4,
  ZU_HEAD_BATID = 5,
  ZU_HEAD_CREATETIME = 6,
  ZU_HEAD_TEL = 7,
  ZU_HEAD_NAME = 8,
  ZU_HEAD_RECVTIME = 9,
  ZU_HEAD_CONTENT = 10,
  ZU_HEAD_PRIVMODE = 11,
  ZU_HEAD_CCID = 12,
  ZU_HEAD_LOCKFLAG = 13,
  ZU_HEAD_OLDFID = 14,
  ZU_HEAD_IMPT = 15,
  ZU_HEAD_LONGSMS = 16,
  ZU_HEAD_OPERID = 17,
  ZU_HEAD_UUID = 18
};
/* Field selectors of folders: conditions ... */
enum {
  ZU_FOLDER_ID = 20,
  ZU_FOLDER_FDID = 21,
  ZU_FOLDER_FNAME = 22,
  ZU_FOLDER_SYSTEM = 23,
  ZU_FOLDER_PASSWORD = 24,
  ZU_FOLDER_PRIVMODE = 25
};
/* ... and ordering, numbered one lower. */
enum {
  ZU_FOLDER_ORDER_ID = 19,
  ZU_FOLDER_ORDER_FDID = 20,
  ZU_FOLDER_ORDER_FNAME = 21,
  ZU_FOLDER_ORDER_SYSTEM = 22,
  ZU_FOLDER_ORDER_PASSWORD = 23,
  ZU_FOLDER_ORDER_PRIVMODE = 24
};

/* ---- Lifecycle ---------------------------------------------------------- */

/* Creates a store for userId (any value) and writes its handle to *handle.
 * Returns 0; -2 (with *handle set to null) when no memory can be had; -1 when
 * handle itself is null. Touches no database. */
ZUSMS_API int32_t ZUSMS_CALL InitZuSmsDB(SmsDatabase **handle, uint32_t userId);

/* Destroys the store. Does not close it: an open store's share of the
 * process's connection stays until the process ends. A null handle is a
 * no-op. Always returns 0. */
ZUSMS_API int32_t ZUSMS_CALL UninitZuSmsDB(SmsDatabase *handle);

/* Opens the database file (creating it, its schema and the user's default
 * folders as needed). Returns 0 on success; -1 when the schema could not be
 * created whole (GetZuSmsLastError names the missing table; the next open
 * tries again); a positive SQLite result code when the file cannot be opened
 * as a database (for example 14: cannot open, 26: not a database), in which
 * case the file is left as it was. A second open of an open store is a no-op
 * for the connection. */
ZUSMS_API int32_t ZUSMS_CALL OpenZuSmsDB(SmsDatabase *handle);

/* Gives back the store's share of the process's connection; the last share
 * closes the file. Closing a store that is not open changes nothing. 0. */
ZUSMS_API int32_t ZUSMS_CALL CloseZuSmsDB(SmsDatabase *handle);

/* Copies the calling thread's last error text into buf (zero-terminated, cut
 * to capacity - 1 characters) and returns the text's full length in
 * characters; 0 when the thread's last call succeeded. buf may be null when
 * capacity is 0, to learn the length. The library keeps at most 4,096
 * characters of a text, cut where a character ends. */
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsLastError(char16_t *buf, uint32_t capacity);

/* 1 when the calling thread's last call failed because the database file was
 * busy: another connection (another process, the sqlite3 shell) held its
 * lock past the store's busy wait of 5 seconds, so the same call may succeed
 * when tried again later; 0 otherwise, and after a call that succeeded. The
 * failed call itself returned its usual status (-1 for most, OpenZuSmsDB a
 * SQLite result code). */
ZUSMS_API int32_t ZUSMS_CALL IsZuSmsLastErrorBusy(void);

/* A batch: the calling thread's operations between BeginZuSmsBatch and
 * CommitZuSmsBatch run in one transaction, committed at once (thousands of
 * rows in one commit instead of one commit each). Meanwhile other threads of
 * the process wait for the connection, and other processes wait to write.
 * RollbackZuSmsBatch undoes everything since the begin. Batches nest: only
 * the outermost commit commits, and a rollback ends them all. Closing the
 * last store inside a batch rolls it back. A call that fails inside a batch
 * before writing (bad input, a record that is not there) leaves the batch as
 * it was; one that fails after writing part of its work rolls the whole
 * batch back, and every later call fails until the batch is ended
 * (CommitZuSmsBatch then returns -1), so nothing is stored outside it. */
ZUSMS_API int32_t ZUSMS_CALL BeginZuSmsBatch(SmsDatabase *handle);
ZUSMS_API int32_t ZUSMS_CALL CommitZuSmsBatch(SmsDatabase *handle);
ZUSMS_API int32_t ZUSMS_CALL RollbackZuSmsBatch(SmsDatabase *handle);

/* ---- Record operations ----------------------------------------------------
 * Eight per kind of record, named after it (shown for SmsHead):
 *  Add       (rec, newId): stores rec; the new id goes to *newId and rec->id.
 *  Update    (rec): rewrites the row rec->id; a missing row changes nothing.
 *  Delete    (id): removes the row; a missing one is not an error.
 *  DeleteAll (): removes every row of the store's user.
 *  Get       (id, rec): reads the row; a missing row leaves *rec as it was.
 *  Get...Count (n): the number of rows into *n.
 *  GetAll...ID (ids, capacity, n), GetAll (recs, capacity, n): at most
 *    capacity elements, in storage order; *n receives how many were written.
 * All of them see and change only the store's own user's rows. */

/* Message heads. Add makes the record's uuid valid (creating a new one into
 * rec->uuid when the UUID library calls it invalid) and stamps the
 * modification time; Update stamps it again and stores the uuid as given.
 * Add returns -1 and touches nothing when the UUID library (libzuuuid.so;
 * zuuuid.dll on Windows) cannot be loaded. */
ZUSMS_API int32_t ZUSMS_CALL AddZuSmsHead(SmsDatabase *handle, SmsHead *rec, uint32_t *newId);
ZUSMS_API int32_t ZUSMS_CALL UpdateZuSmsHead(SmsDatabase *handle, SmsHead *rec);
ZUSMS_API int32_t ZUSMS_CALL DeleteZuSmsHead(SmsDatabase *handle, uint32_t id);
ZUSMS_API int32_t ZUSMS_CALL DeleteAllZuSmsHead(SmsDatabase *handle);
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsHead(SmsDatabase *handle, uint32_t id, SmsHead *rec);
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsHeadCount(SmsDatabase *handle, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsHeadID(SmsDatabase *handle, uint32_t *ids,
                                               uint32_t capacity, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsHead(SmsDatabase *handle, SmsHead *recs, uint32_t capacity,
                                             uint32_t *n);

/* What a synchronisation partner compares: every head's id with its
 * modification time (UTC, set by add and update) or with its UUID, and one
 * head's modification time (100 when the user has no head with that id; *t
 * is then left as it was). */
ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsHeadIDModifyTime(SmsDatabase *handle, stIDModifyTime *recs,
                                                         uint32_t capacity, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsHeadIDUUID(SmsDatabase *handle, stIDUUID *recs,
                                                   uint32_t capacity, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsHeadModifyTime(SmsDatabase *handle, uint32_t id,
                                                    stDateTime *t);

/* Whether a message head has been read. The record has no field for it and
 * its columns are unchanged: the store keeps the user's unread heads in a
 * table of their own (zu_head_unread: id, UserID), so a head added by any
 * caller or program is read until marked unread, and a head's row goes with
 * the head. A store opened read-only whose file lacks that table reads as
 * all read.
 *
 * SetZuSmsHeadRead marks head id read (read nonzero) or unread (read 0).
 * When that changes its state, the head's modification time is stamped as
 * by UpdateZuSmsHead, so synchronisation partners see the message changed;
 * setting the state it has already changes nothing. GetZuSmsHeadRead writes
 * 1 (read) or 0 (unread) to *read. Both return 100 when the user has no
 * head with that id (*read left as it was), -1 on failure.
 *
 * GetZuSmsUnreadHeadCount writes how many of the user's heads are unread;
 * GetAllZuSmsUnreadHeadID writes their ids in ascending order, at most
 * capacity of them, and how many it wrote to *n. */
ZUSMS_API int32_t ZUSMS_CALL SetZuSmsHeadRead(SmsDatabase *handle, uint32_t id, int32_t read);
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsHeadRead(SmsDatabase *handle, uint32_t id, int32_t *read);
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsUnreadHeadCount(SmsDatabase *handle, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsUnreadHeadID(SmsDatabase *handle, uint32_t *ids,
                                                     uint32_t capacity, uint32_t *n);

/* Finding messages by their text.
 *
 * SearchZuSmsHead finds the user's messages whose text holds every term of
 * terms (zero-terminated): the terms are split at white space, except
 * inside double quotes ("happy new year" is one term, quotes not part of
 * it). Letter case does not matter in any script (Unicode's full case
 * folding of the composed text), any run of white space matches any other,
 * and with ZU_SEARCH_ACCENTS accents do not matter either ("cafe" finds
 * "Café"). With ZU_SEARCH_ANYWHERE a term may occur in the message's number
 * or name instead of its text. A long message (heads with the same batid
 * and number and longsms above 1) is one message: its parts' texts joined
 * in index order, found by its first part's id, time, number and name.
 * Writes the ids of the first capacity messages found, newest first by
 * recvtime and then id (ZU_SEARCH_OLDEST: oldest first), and how many it
 * wrote to *n; when total is not NULL, how many there are in all to
 * *total. Returns 0; -1 on failure (null terms, terms of nothing but white
 * space and quotes, unknown flags, ids NULL with capacity above 0), *n and
 * *total left as they were.
 *
 * The store answers from a search index kept in tables of its own
 * (zu_search...), brought up to date from the change log before each
 * search, whoever changed the messages; where it cannot be kept (a
 * read-only store whose index lags, inside a batch, a SQLite without FTS5)
 * it reads every message, with the same result. The log sees the message
 * tables only: a program that marks heads read or unread by writing
 * zu_head_unread itself stamps their ModifyTime as SetZuSmsHeadRead does,
 * or the unread counts of conversations follow only when the heads next
 * change (CheckZuSmsIndexes finds the difference).
 *
 * RefreshZuSmsIndexes brings the index up to date now (after a large
 * import, say), in steps of at most 10,000 changes or messages, each its
 * own transaction; while the index is made from nothing, progress (when not
 * NULL) hears after each step how many messages are in it so far, with
 * context. Returns 0, also when the store cannot keep an index; -1 on
 * failure. */
#define ZU_SEARCH_ACCENTS 1u
#define ZU_SEARCH_ANYWHERE 2u
#define ZU_SEARCH_OLDEST 4u
ZUSMS_API int32_t ZUSMS_CALL SearchZuSmsHead(SmsDatabase *handle, const char16_t *terms,
                                             uint32_t flags, uint32_t *ids, uint32_t capacity,
                                             uint32_t *n, uint64_t *total);
/* CheckZuSmsIndexes compares the user's search index with what the messages
 * make (reading every message, and finding each in the trigram index by its
 * own text): 0 when they agree (or there is no current index to compare),
 * 1 when they differ, the last error then saying how; with repair nonzero
 * the index is then dropped, and made anew by the next search or refresh.
 * -1 on failure. A search that meets damage in the index's own tables drops
 * it the same way and reads every message instead. */
ZUSMS_API int32_t ZUSMS_CALL CheckZuSmsIndexes(SmsDatabase *handle, int32_t repair);
ZUSMS_API int32_t ZUSMS_CALL RefreshZuSmsIndexes(
    SmsDatabase *handle, void(ZUSMS_CALL *progress)(uint64_t done, void *context), void *context);

/* Conversations: the user's messages by the person they are exchanged with.
 *
 * A message's person is its number (a long message's: its first part's) as
 * the store's region reads it (the setting "region", below): a number
 * written with "+" or with the region's international prefix is "+" and its
 * digits; one written without its country is "+", the region's calling
 * code and its digits without the region's trunk prefix, unless fewer than
 * 7 digits are left (a short code); anything else, and every number when
 * the store keeps no region numbers can be read by, is the text without
 * spaces, dashes, dots, slashes and parentheses. In a store of region "CN",
 * "+86 138 0013 8000", "13800138000" and "0086 13800138000" are one person
 * ("+8613800138000"), "10086" another and "BANK" a third.
 *
 * ListZuSmsPersons writes the user's persons, the one with the newest
 * message first (by recvtime, then id), from the offset'th on (0: the
 * first), at most capacity of them, and how many it wrote to *n; when total
 * is not NULL, how many persons there are in all to *total. For each: the
 * person's key (zero-terminated, cut to ZU_PERSON_MAX characters, never
 * inside a surrogate pair), how many messages there are (a long message
 * once), how many of them are unread and how many locked (a long message
 * when any part is), and the id of the newest one's first part.
 *
 * ListZuSmsConversation writes the ids of the messages of the person number
 * stands for (any way of writing the number, or the person's key), newest
 * first (by recvtime, then id; a long message by its first part's id), from
 * the offset'th on, at most capacity of them, and how many it wrote to *n;
 * when total is not NULL, how many there are in all to *total.
 *
 * Both return 0; -1 on failure (a null n, a null number, a null array with
 * capacity above 0), *n and *total left as they were. They answer from the
 * index SearchZuSmsHead keeps, brought up to date the same way (or, where
 * it cannot be kept, by reading every message, with the same result), and
 * CheckZuSmsIndexes compares their counts too. */
#define ZU_PERSON_MAX 39
typedef struct stSmsPerson {
  char16_t person[ZU_PERSON_MAX + 1];
  uint32_t messages;
  uint32_t unread;
  uint32_t locked;
  uint32_t newest;
} stSmsPerson;
ZUSMS_API int32_t ZUSMS_CALL ListZuSmsPersons(SmsDatabase *handle, uint32_t offset,
                                              stSmsPerson *items, uint32_t capacity, uint32_t *n,
                                              uint64_t *total);
ZUSMS_API int32_t ZUSMS_CALL ListZuSmsConversation(SmsDatabase *handle, const char16_t *number,
                                                   uint32_t offset, uint32_t *ids,
                                                   uint32_t capacity, uint32_t *n, uint64_t *total);

/* Message contents: the plain pattern. */
ZUSMS_API int32_t ZUSMS_CALL AddZuSmsContent(SmsDatabase *handle, SmsContent *rec, uint32_t *newId);
ZUSMS_API int32_t ZUSMS_CALL UpdateZuSmsContent(SmsDatabase *handle, SmsContent *rec);
ZUSMS_API int32_t ZUSMS_CALL DeleteZuSmsContent(SmsDatabase *handle, uint32_t id);
ZUSMS_API int32_t ZUSMS_CALL DeleteAllZuSmsContent(SmsDatabase *handle);
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsContent(SmsDatabase *handle, uint32_t id, SmsContent *rec);
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsContentCount(SmsDatabase *handle, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsContentID(SmsDatabase *handle, uint32_t *ids,
                                                  uint32_t capacity, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsContent(SmsDatabase *handle, SmsContent *recs,
                                                uint32_t capacity, uint32_t *n);

/* Cell broadcast pages: the plain pattern. */
ZUSMS_API int32_t ZUSMS_CALL AddZuSmsAreaBroadcast(SmsDatabase *handle, SmsAreaBroadcast *rec,
                                                   uint32_t *newId);
ZUSMS_API int32_t ZUSMS_CALL UpdateZuSmsAreaBroadcast(SmsDatabase *handle, SmsAreaBroadcast *rec);
ZUSMS_API int32_t ZUSMS_CALL DeleteZuSmsAreaBroadcast(SmsDatabase *handle, uint32_t id);
ZUSMS_API int32_t ZUSMS_CALL DeleteAllZuSmsAreaBroadcast(SmsDatabase *handle);
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsAreaBroadcast(SmsDatabase *handle, uint32_t id,
                                                   SmsAreaBroadcast *rec);
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsAreaBroadcastCount(SmsDatabase *handle, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsAreaBroadcastID(SmsDatabase *handle, uint32_t *ids,
                                                        uint32_t capacity, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsAreaBroadcast(SmsDatabase *handle, SmsAreaBroadcast *recs,
                                                      uint32_t capacity, uint32_t *n);

/* Folders, with their own codes: Add numbers the folder one above the
 * user's highest folder number and makes it a user folder (system 0),
 * overriding the record's FdId and system, and gives -1 when the user has no
 * folder at all; Update changes fname, password and privmode only and gives
 * 100 for a folder the user does not have; Get gives -1 for one; Delete and
 * DeleteAll never remove a default folder. */
ZUSMS_API int32_t ZUSMS_CALL AddZuSmsFolder(SmsDatabase *handle, SmsFolder *rec, uint32_t *newId);
ZUSMS_API int32_t ZUSMS_CALL UpdateZuSmsFolder(SmsDatabase *handle, SmsFolder *rec);
ZUSMS_API int32_t ZUSMS_CALL DeleteZuSmsFolder(SmsDatabase *handle, uint32_t id);
ZUSMS_API int32_t ZUSMS_CALL DeleteAllZuSmsFolder(SmsDatabase *handle);
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsFolder(SmsDatabase *handle, uint32_t id, SmsFolder *rec);
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsFolderCount(SmsDatabase *handle, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsFolderID(SmsDatabase *handle, uint32_t *ids,
                                                 uint32_t capacity, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsFolder(SmsDatabase *handle, SmsFolder *recs,
                                               uint32_t capacity, uint32_t *n);

/* Filters, receiver history and phrases: Add first sets rec->id to the value
 * *newId holds on entry, so a failed add leaves that value in the record. */
ZUSMS_API int32_t ZUSMS_CALL AddZuSmsFilter(SmsDatabase *handle, SmsFilter *rec, uint32_t *newId);
ZUSMS_API int32_t ZUSMS_CALL UpdateZuSmsFilter(SmsDatabase *handle, SmsFilter *rec);
ZUSMS_API int32_t ZUSMS_CALL DeleteZuSmsFilter(SmsDatabase *handle, uint32_t id);
ZUSMS_API int32_t ZUSMS_CALL DeleteAllZuSmsFilter(SmsDatabase *handle);
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsFilter(SmsDatabase *handle, uint32_t id, SmsFilter *rec);
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsFilterCount(SmsDatabase *handle, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsFilterID(SmsDatabase *handle, uint32_t *ids,
                                                 uint32_t capacity, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsFilter(SmsDatabase *handle, SmsFilter *recs,
                                               uint32_t capacity, uint32_t *n);

/* The receiver history functions are named ...ZuSmsReceiverHistory... and
 * take SmsRecieverHistory records. */
ZUSMS_API int32_t ZUSMS_CALL AddZuSmsReceiverHistory(SmsDatabase *handle, SmsRecieverHistory *rec,
                                                     uint32_t *newId);
ZUSMS_API int32_t ZUSMS_CALL UpdateZuSmsReceiverHistory(SmsDatabase *handle,
                                                        SmsRecieverHistory *rec);
ZUSMS_API int32_t ZUSMS_CALL DeleteZuSmsReceiverHistory(SmsDatabase *handle, uint32_t id);
ZUSMS_API int32_t ZUSMS_CALL DeleteAllZuSmsReceiverHistory(SmsDatabase *handle);
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsReceiverHistory(SmsDatabase *handle, uint32_t id,
                                                     SmsRecieverHistory *rec);
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsReceiverHistoryCount(SmsDatabase *handle, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsReceiverHistoryID(SmsDatabase *handle, uint32_t *ids,
                                                          uint32_t capacity, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsReceiverHistory(SmsDatabase *handle,
                                                        SmsRecieverHistory *recs, uint32_t capacity,
                                                        uint32_t *n);

/* Canned phrases. */
ZUSMS_API int32_t ZUSMS_CALL AddZuSmsPhrase(SmsDatabase *handle, SmsPhrase *rec, uint32_t *newId);
ZUSMS_API int32_t ZUSMS_CALL UpdateZuSmsPhrase(SmsDatabase *handle, SmsPhrase *rec);
ZUSMS_API int32_t ZUSMS_CALL DeleteZuSmsPhrase(SmsDatabase *handle, uint32_t id);
ZUSMS_API int32_t ZUSMS_CALL DeleteAllZuSmsPhrase(SmsDatabase *handle);
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsPhrase(SmsDatabase *handle, uint32_t id, SmsPhrase *rec);
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsPhraseCount(SmsDatabase *handle, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsPhraseID(SmsDatabase *handle, uint32_t *ids,
                                                 uint32_t capacity, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsPhrase(SmsDatabase *handle, SmsPhrase *recs,
                                               uint32_t capacity, uint32_t *n);

/* Multimedia messages (records above). A message is identified by its
 * head's id; its parts and addresses by their position in it, from 0
 * (among the rows there, in their order: rows another program deleted or
 * renumbered leave no hole).
 *
 * AddZuSmsMms stores a message whole or not at all, in one transaction: the
 * head as AddZuSmsHead stores it (uuid made valid, modification time), then
 * its attributes, attrCount further attributes, partCount parts and
 * addrCount addresses, each kept in the order given. The new id goes to
 * *newId and head->id, and head->uuid holds the uuid stored. Returns 0; -1
 * with nothing stored and *head unchanged for: a null pointer (attrs and
 * parts may be null when their count is 0), no address, an address type
 * other than the four roles, a part's data over ZU_MMS_PART_MAX bytes or
 * its text over ZU_MMS_TEXT_MAX characters, a text field without its
 * terminating zero, a row of the store's own names (SmsMmsAttribute) that
 * names a part or address the message does not have or is given twice, a
 * "+" first, a value kept for a column that is not the whole of which the
 * column holds the start (or for seq, text, data or type), a text that is
 * not valid UTF-16 (an unpaired surrogate), or a failure of the file.
 * All but the last two are found before anything is written; those two,
 * inside the caller's batch, end the batch, as a failed unit of work does.
 *
 * AddZuSmsMmsFrom stores a message as AddZuSmsMms does, but asks for its
 * partCount parts one at a time, in order, as it stores them: source(context,
 * i, part) fills *part with part i (its description, text and data, as an
 * element of AddZuSmsMms's parts) and returns 0, or anything else to stop
 * the add. What *part points to is read before source is called again, so
 * a caller holds one part's data at a time, never the message's. The head,
 * the attributes and the addresses are checked before anything is written,
 * a part when it comes. A part that cannot be stored (-1, the reason in the
 * last error) or a source that stops (ZU_STOPPED) stores nothing of the
 * message; inside the caller's batch either ends the batch, as a failed
 * unit of work does. source is called with the connection held: it may not
 * call the library (any function but GetZuSmsLastError and
 * IsZuSmsLastErrorBusy returns -1 there) and must not throw or jump out of
 * the call. -1 for a null source.
 *
 * CheckZuSmsMms checks a message as AddZuSmsMms would, without writing:
 * 0 when the add would take it, -1 with the reason in the last error for
 * what the add refuses before writing. Its parts are their descriptions
 * alone: part i's textlen and datalen stand for its text and data (whose
 * nulls and UTF-16 it cannot see); parts may be null when partCount is 0.
 * A caller that reads a file whole before storing any of it (an import
 * that skips what it cannot store) finds a bad message there.
 *
 * The message goes with its head: DeleteZuSmsHead and DeleteAllZuSmsHead
 * remove it, and so does deleting the head by any program that enforces
 * foreign keys.
 *
 * GetZuSmsMms reads the message's attributes into *mms and how many
 * further attributes, parts and addresses it has. Returns 100 when the
 * user has no multimedia message with that id (outputs as they were).
 *
 * GetZuSmsMmsCount counts the user's multimedia messages into *n, and
 * GetAllZuSmsMmsID writes their ids, in id order, as the record families'
 * count and id list do (at most capacity; how many to *n).
 *
 * GetAllZuSmsMmsAttribute, GetAllZuSmsMmsPart (descriptions, with the
 * length of each part's text and data, without them) and
 * GetAllZuSmsMmsAddress write at most capacity elements, in the message's
 * order, and how many they wrote to *n (0 for a message the user does not
 * have). The rows "part:N..." and "addr:N..." name parts and addresses by
 * position as the reads do: those of a part or address another program
 * deleted are left out (*n is then below the count GetZuSmsMms gives).
 *
 * GetZuSmsMmsPartText copies part `part`'s text into buf (zero-terminated,
 * cut to capacity - 1 characters, never inside a surrogate pair) and its
 * full length in characters to *length; buf may be null when capacity is 0.
 * GetZuSmsMmsPartData copies at most size bytes of the part's data from
 * byte offset on into buf, and how many it copied to *read (0 at or past
 * the end): a caller reads a picture in pieces of its own size and never
 * needs it whole. Its cost grows with the offset: each call finds its
 * offset from the start of the value anew (a call at offset k reads about
 * k / 4 KiB pages of the file's chain), so reading a whole part this way
 * costs its size squared: 100 MB in 64 KiB pieces takes tens of seconds.
 * It is for reading some bytes at some offset; StreamZuSmsMmsPartData reads
 * a whole part in time proportional to its size. Both return 100 when the
 * user's message has no such part (outputs as they were); -1 for null
 * outputs.
 *
 * StreamZuSmsMmsPartData reads the whole of part `part`'s data, from its
 * first byte to its last, from one state of the file (one read
 * transaction), and hands it to sink(context, buf, n) in order, in pieces
 * of size bytes (the last one shorter) copied into the caller's buf: the
 * library holds no more of the part than buf. The sink returns 0 to go on
 * and anything else to stop the reading there. *total receives how many
 * bytes the sink was given (also when it stopped, or a failure of the file
 * ended the reading). Returns 0 when the sink was given every byte (a part
 * without data: no call, *total 0); ZU_STOPPED when the sink stopped it;
 * 100 when the user's message has no such part (no call); -1 for a null
 * buf, sink or total, size 0, or a failure of the file (last error).
 * While the sink runs, the call holds the process's connection for the
 * calling thread: other threads of the process wait until it returns,
 * other processes are not held up. The sink may not call the library: any
 * function but GetZuSmsLastError and IsZuSmsLastErrorBusy returns -1 there
 * and does nothing. It must not throw or jump out of the call. */
ZUSMS_API int32_t ZUSMS_CALL AddZuSmsMms(SmsDatabase *handle, SmsHead *head, const SmsMms *mms,
                                         const SmsMmsAttribute *attrs, uint32_t attrCount,
                                         const SmsMmsPartData *parts, uint32_t partCount,
                                         const SmsMmsAddress *addrs, uint32_t addrCount,
                                         uint32_t *newId);
/* The giver of AddZuSmsMmsFrom's parts: 0 when *part holds part index. */
typedef int32_t(ZUSMS_CALL *ZuSmsPartSource)(void *context, uint32_t index, SmsMmsPartData *part);
ZUSMS_API int32_t ZUSMS_CALL AddZuSmsMmsFrom(SmsDatabase *handle, SmsHead *head, const SmsMms *mms,
                                             const SmsMmsAttribute *attrs, uint32_t attrCount,
                                             uint32_t partCount, ZuSmsPartSource source,
                                             void *context, const SmsMmsAddress *addrs,
                                             uint32_t addrCount, uint32_t *newId);
ZUSMS_API int32_t ZUSMS_CALL CheckZuSmsMms(SmsDatabase *handle, const SmsHead *head,
                                           const SmsMms *mms, const SmsMmsAttribute *attrs,
                                           uint32_t attrCount, const SmsMmsPart *parts,
                                           uint32_t partCount, const SmsMmsAddress *addrs,
                                           uint32_t addrCount);
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsMms(SmsDatabase *handle, uint32_t id, SmsMms *mms,
                                         uint32_t *attrCount, uint32_t *partCount,
                                         uint32_t *addrCount);
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsMmsCount(SmsDatabase *handle, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsMmsID(SmsDatabase *handle, uint32_t *ids, uint32_t capacity,
                                              uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsMmsAttribute(SmsDatabase *handle, uint32_t id,
                                                     SmsMmsAttribute *recs, uint32_t capacity,
                                                     uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsMmsPart(SmsDatabase *handle, uint32_t id, SmsMmsPart *recs,
                                                uint32_t capacity, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsMmsAddress(SmsDatabase *handle, uint32_t id,
                                                   SmsMmsAddress *recs, uint32_t capacity,
                                                   uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsMmsPartText(SmsDatabase *handle, uint32_t id, uint32_t part,
                                                 char16_t *buf, uint32_t capacity,
                                                 uint32_t *length);
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsMmsPartData(SmsDatabase *handle, uint32_t id, uint32_t part,
                                                 uint64_t offset, uint8_t *buf, uint32_t size,
                                                 uint32_t *read);
/* The receiver of StreamZuSmsMmsPartData's pieces: 0 to go on, else stop. */
typedef int32_t(ZUSMS_CALL *ZuSmsPartSink)(void *context, const uint8_t *data, uint32_t size);
/* StreamZuSmsMmsPartData's status when its sink stopped it. */
#define ZU_STOPPED 3
ZUSMS_API int32_t ZUSMS_CALL StreamZuSmsMmsPartData(SmsDatabase *handle, uint32_t id, uint32_t part,
                                                    uint8_t *buf, uint32_t size, ZuSmsPartSink sink,
                                                    void *context, uint64_t *total);

/* ---- Queries ---------------------------------------------------------------
 * Count, ids or records of the user's message heads that match one filter, or
 * every one of several (the Combine functions: -1 when filters is null or
 * filterCount 0). The record and id queries count first; *n then receives
 * the smaller of capacity and the number of matches, and at most that many
 * elements are written, in the filters' order. When the conditions or the
 * ordering do not fit the 1024-character statement whole, the query returns
 * -1 and runs nothing. */
ZUSMS_API int32_t ZUSMS_CALL QueryZuSmsHeadCount(SmsDatabase *handle, MimerQueryFilter *filter,
                                                 uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL QueryZuSmsHead(SmsDatabase *handle, MimerQueryFilter *filter,
                                            SmsHead *recs, uint32_t capacity, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL QueryZuSmsHeadID(SmsDatabase *handle, MimerQueryFilter *filter,
                                              uint32_t *ids, uint32_t capacity, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL CombineZuQuerySmsHeadCount(SmsDatabase *handle,
                                                        MimerQueryFilter *filters,
                                                        uint32_t filterCount, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL CombineZuQuerySmsHead(SmsDatabase *handle, MimerQueryFilter *filters,
                                                   uint32_t filterCount, SmsHead *recs,
                                                   uint32_t capacity, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL CombineZuQuerySmsHeadID(SmsDatabase *handle, MimerQueryFilter *filters,
                                                     uint32_t filterCount, uint32_t *ids,
                                                     uint32_t capacity, uint32_t *n);
/* The same for the user's folders, with one filter. */
ZUSMS_API int32_t ZUSMS_CALL QueryZuSmsFolderCount(SmsDatabase *handle, MimerQueryFilter *filter,
                                                   uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL QueryZuSmsFolder(SmsDatabase *handle, MimerQueryFilter *filter,
                                              SmsFolder *recs, uint32_t capacity, uint32_t *n);
ZUSMS_API int32_t ZUSMS_CALL QueryZuSmsFolderID(SmsDatabase *handle, MimerQueryFilter *filter,
                                                uint32_t *ids, uint32_t capacity, uint32_t *n);

/* ---- Changes since a token --------------------------------------------- */

/* The file's current token into *token: a full listing read after it, with
 * the changes since it, gives the partner every change. ZU_RESYNC on a
 * read-only file without a change log. -1 inside the calling thread's open
 * batch (a rollback would take back changes the token counts): commit first.
 * The same holds for the two listings below. */
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsChangeToken(SmsDatabase *handle, uint64_t *token);

/* The store user's message head changes after `since` (0: from the
 * beginning), oldest first, at most capacity of them into items; *n receives
 * how many. *next receives the token to pass next time: the last change
 * listed when capacity came back, otherwise the file's current token (with
 * capacity 0, since itself). The changes and *next are read in one read
 * transaction, so a change committed meanwhile is never passed over, and a
 * record changed again after it was listed comes again once. Returns 0;
 * ZU_RESYNC (nothing listed, *n and *next unchanged) when `since` cannot be
 * served; -1 on failure (also for a null items with capacity above 0). */
ZUSMS_API int32_t ZUSMS_CALL ListZuSmsHeadChanges(SmsDatabase *handle, uint64_t since,
                                                  stSmsChange *items, uint32_t capacity,
                                                  uint32_t *n, uint64_t *next);

/* The same for the store user's folders. */
ZUSMS_API int32_t ZUSMS_CALL ListZuSmsFolderChanges(SmsDatabase *handle, uint64_t since,
                                                    stSmsChange *items, uint32_t capacity,
                                                    uint32_t *n, uint64_t *next);

/* ---- Settings --------------------------------------------------------------
 * Short named texts that programs keep with the store user's messages; each
 * user has settings of their own. A name holds 1 to ZU_SETTING_NAME_MAX
 * characters and compares exactly (letter case counts); a value holds at
 * most ZU_SETTING_VALUE_MAX. Names in use: "region", the country (ISO 3166
 * code, "CN") of the numbers the user's messages write without one, which
 * the zusms tool keeps and reads. */
#define ZU_SETTING_NAME_MAX 63
#define ZU_SETTING_VALUE_MAX 255

/* Stores value under name for the store's user, replacing the value there;
 * a null or empty value removes the setting (nothing set is no error).
 * Returns 0; -1 for a null or empty name, a name or value too long, or a
 * read-only file, with nothing changed. */
ZUSMS_API int32_t ZUSMS_CALL SetZuSmsSetting(SmsDatabase *handle, const char16_t *name,
                                             const char16_t *value);

/* Copies the value of the store user's setting name into buf (zero-
 * terminated, cut to capacity - 1 characters, never inside a surrogate pair)
 * and its full length in characters into *length; buf may be null when
 * capacity is 0, to learn the length. Returns 0; 100 when the setting is not
 * set (then *length is 0 and buf, when capacity is above 0, holds an empty
 * text), which is so for every name on a read-only file that an older
 * version wrote; -1 for a null or empty name or a null length. */
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsSetting(SmsDatabase *handle, const char16_t *name,
                                             char16_t *buf, uint32_t capacity, uint32_t *length);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ZUSMS_ZUSMSDB_H_ */
