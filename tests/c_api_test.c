/* The C boundary from a real C11 file: the header compiles as C, and the
 * lifecycle works through the shared library. The test command names the
 * database file in ZUSMS_DB; it is removed before and after. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ZuSmsDB.h"

static int passed = 0, failed = 0;

static void Check(int ok, int line, const char *cond) {
  passed += ok;
  failed += !ok;
  if (!ok) fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, line, cond);
}
#define CHECK(cond) Check(!!(cond), __LINE__, #cond)

/* Removes the database file and SQLite's files beside it. */
static void RemoveDatabase(const char *path) {
  char other[1024];
  remove(path);
  snprintf(other, sizeof other, "%s-wal", path);
  remove(other);
  snprintf(other, sizeof other, "%s-shm", path);
  remove(other);
}

static void ZUSMS_CALL Progress(uint64_t done, void *context) { *(uint64_t *)context = done; }

/* The refusal every call must give (a null store's, or a sink's call). */
static const char16_t *g_refusal;
static int32_t g_refusal_length;
#define REFUSAL(text) (g_refusal = text, g_refusal_length = sizeof text / 2 - 1)
static int Refused(int32_t status, const char *call) {
  char16_t error[96];
  const int refused = status == -1 && GetZuSmsLastError(error, 96) == g_refusal_length &&
                      memcmp(error, g_refusal, sizeof(char16_t) * g_refusal_length) == 0;
  if (!refused) fprintf(stderr, "not refused: %s\n", call);
  return refused;
}
#define R(call) Refused(call, #call)
/* The eight calls every record family has. */
#define FAMILY(S, N)                                                              \
  (R(AddZu##N(S, NULL, NULL)) & R(UpdateZu##N(S, NULL)) & R(DeleteZu##N(S, 0)) &  \
   R(DeleteAllZu##N(S)) & R(GetZu##N(S, 0, NULL)) & R(GetZu##N##Count(S, NULL)) & \
   R(GetAllZu##N##ID(S, NULL, 0, NULL)) & R(GetAllZu##N(S, NULL, 0, NULL)))
/* Every function that takes a store, given S and null or zero arguments. */
#define EVERY_CALL(S)                                                                              \
  (R(OpenZuSmsDB(S)) & R(CloseZuSmsDB(S)) & R(BeginZuSmsBatch(S)) & R(CommitZuSmsBatch(S)) &       \
   R(RollbackZuSmsBatch(S)) & FAMILY(S, SmsHead) & FAMILY(S, SmsContent) &                         \
   FAMILY(S, SmsAreaBroadcast) & FAMILY(S, SmsFolder) & FAMILY(S, SmsFilter) &                     \
   FAMILY(S, SmsReceiverHistory) & FAMILY(S, SmsPhrase) &                                          \
   R(GetAllZuSmsHeadIDModifyTime(S, NULL, 0, NULL)) & R(GetAllZuSmsHeadIDUUID(S, NULL, 0, NULL)) & \
   R(GetZuSmsHeadModifyTime(S, 0, NULL)) & R(SetZuSmsHeadRead(S, 0, 0)) &                          \
   R(GetZuSmsHeadRead(S, 0, NULL)) & R(GetZuSmsUnreadHeadCount(S, NULL)) &                         \
   R(GetAllZuSmsUnreadHeadID(S, NULL, 0, NULL)) &                                                  \
   R(SearchZuSmsHead(S, NULL, 0, NULL, 0, NULL, NULL)) & R(CheckZuSmsIndexes(S, 0)) &              \
   R(RefreshZuSmsIndexes(S, NULL, NULL)) & R(ListZuSmsPersons(S, 0, NULL, 0, NULL, NULL)) &        \
   R(ListZuSmsConversation(S, NULL, 0, NULL, 0, NULL, NULL)) &                                     \
   R(AddZuSmsMms(S, NULL, NULL, NULL, 0, NULL, 0, NULL, 0, NULL)) &                                \
   R(AddZuSmsMmsFrom(S, NULL, NULL, NULL, 0, 0, NULL, NULL, NULL, 0, NULL)) &                      \
   R(CheckZuSmsMms(S, NULL, NULL, NULL, 0, NULL, 0, NULL, 0)) &                                    \
   R(GetZuSmsMms(S, 0, NULL, NULL, NULL, NULL)) & R(GetZuSmsMmsCount(S, NULL)) &                   \
   R(GetAllZuSmsMmsID(S, NULL, 0, NULL)) & R(GetAllZuSmsMmsAttribute(S, 0, NULL, 0, NULL)) &       \
   R(GetAllZuSmsMmsPart(S, 0, NULL, 0, NULL)) & R(GetAllZuSmsMmsAddress(S, 0, NULL, 0, NULL)) &    \
   R(GetZuSmsMmsPartText(S, 0, 0, NULL, 0, NULL)) &                                                \
   R(GetZuSmsMmsPartData(S, 0, 0, 0, NULL, 0, NULL)) &                                             \
   R(StreamZuSmsMmsPartData(S, 0, 0, NULL, 0, NULL, NULL, NULL)) &                                 \
   R(QueryZuSmsHeadCount(S, NULL, NULL)) & R(QueryZuSmsHead(S, NULL, NULL, 0, NULL)) &             \
   R(QueryZuSmsHeadID(S, NULL, NULL, 0, NULL)) & R(CombineZuQuerySmsHeadCount(S, NULL, 0, NULL)) & \
   R(CombineZuQuerySmsHead(S, NULL, 0, NULL, 0, NULL)) &                                           \
   R(CombineZuQuerySmsHeadID(S, NULL, 0, NULL, 0, NULL)) &                                         \
   R(QueryZuSmsFolderCount(S, NULL, NULL)) & R(QueryZuSmsFolder(S, NULL, NULL, 0, NULL)) &         \
   R(QueryZuSmsFolderID(S, NULL, NULL, 0, NULL)) & R(GetZuSmsChangeToken(S, NULL)) &               \
   R(ListZuSmsHeadChanges(S, 0, NULL, 0, NULL, NULL)) &                                            \
   R(ListZuSmsFolderChanges(S, 0, NULL, 0, NULL, NULL)) & R(SetZuSmsSetting(S, NULL, NULL)) &      \
   R(GetZuSmsSetting(S, NULL, NULL, 0, NULL)))

/* A sink of StreamZuSmsMmsPartData: compares what it is given with the
 * bytes expected, stops once it has `stop` bytes (0: never), and tries to
 * call the library back, which must be refused. */
typedef struct Expected {
  const uint8_t *bytes;
  uint64_t at, stop;
  int same, pieces, refused;
  SmsDatabase *store;
} Expected;

static int32_t ZUSMS_CALL Compare(void *context, const uint8_t *data, uint32_t size) {
  Expected *e = (Expected *)context;
  uint32_t i;
  for (i = 0; i < size; ++i) e->same = e->same && data[i] == e->bytes[e->at + i];
  e->at += size;
  ++e->pieces;
  REFUSAL(u"the library was called from inside a sink or source of its own call");
  e->refused = EVERY_CALL(e->store) && UninitZuSmsDB(e->store) == -1;
  return e->stop != 0 && e->at >= e->stop;
}

/* A source of AddZuSmsMmsFrom: part i is `bytes` from i * 100 on, 100
 * bytes long (or oversized when i is `bad`); stops at part `stop`. It tries
 * to call the library back, which must be refused. */
typedef struct Source {
  const uint8_t *bytes;
  uint32_t stop, bad;
  int refused;
  SmsDatabase *store;
} Source;

static int32_t ZUSMS_CALL Give(void *context, uint32_t index, SmsMmsPartData *part) {
  Source *s = (Source *)context;
  uint32_t n = 0;
  s->refused = GetZuSmsMmsCount(s->store, &n) == -1;
  if (index == s->stop) return 1;
  part->part.seq = (int32_t)index;
  part->data = s->bytes + index * 100;
  part->part.datalen = index == s->bad ? ZU_MMS_PART_MAX + 1 : 100;
  return 0;
}

int main(void) {
  const char *path = getenv("ZUSMS_DB");
  SmsDatabase *store = NULL;
  char16_t error[64];

  if (!path || !*path) return 2;
  RemoveDatabase(path);

  CHECK(OpenZuSmsDB(NULL) == -1 && GetZuSmsLastError(error, 64) > 0 && IsZuSmsLastErrorBusy() == 0);
  CHECK(InitZuSmsDB(&store, 42) == 0 && store != NULL);
  CHECK(OpenZuSmsDB(store) == 0 && GetZuSmsLastError(error, 64) == 0);
  CHECK(CloseZuSmsDB(store) == 0 && OpenZuSmsDB(store) == 0);

  /* The library finds the UUID library beside itself (Linux: through its run
   * path, with no environment set; Windows: beside the program). */
  {
    SmsHead head = {0}, back = {0};
    uint32_t id = 0, n = 0;
    head.content[0] = u'h';
    head.content[1] = u'i';
    memcpy(head.tel, u"138-0013-8000", sizeof u"138-0013-8000");
    head.fid = 1;
    CHECK(AddZuSmsHead(store, &head, &id) == 0 && id != 0 && (uint32_t)head.id == id);
    CHECK((head.uuid[8] & 0xC0) == 0x80);
    CHECK(GetZuSmsHead(store, id, &back) == 0 && back.content[1] == u'i' && back.content[2] == 0);
    /* unread, for the conversations below */
    CHECK(GetZuSmsHeadCount(store, &n) == 0 && n == 1 && SetZuSmsHeadRead(store, id, 0) == 0);
    CHECK(GetZuSmsHeadRead(store, id, NULL) == -1);
    /* Search: "HI" finds "hi"; totals optional; bad terms and flags fail. */
    {
      uint32_t found[2] = {0, 0};
      uint64_t total = 0, progress = 0;
      CHECK(RefreshZuSmsIndexes(store, Progress, &progress) == 0 && progress == 1);
      CHECK(SearchZuSmsHead(store, u"\"HI\"", 0, found, 2, &n, &total) == 0 && n == 1 &&
            found[0] == id && total == 1);
      CHECK(SearchZuSmsHead(store, u"h x", ZU_SEARCH_ANYWHERE, found, 2, &n, NULL) == 0 && n == 0);
      CHECK(SearchZuSmsHead(store, u" \"\" ", 0, found, 2, &n, &total) == -1 && total == 1);
      CHECK(SearchZuSmsHead(store, u"hi", 8, found, 2, &n, NULL) == -1);
      CHECK(SearchZuSmsHead(store, NULL, 0, found, 2, &n, NULL) == -1);
    }
    /* Conversations: the unread head is its person's only message, found
     * by any way of writing the number (the store keeps no region yet). */
    {
      stSmsPerson persons[2];
      uint32_t ids[2] = {0, 0};
      uint64_t total = 0;
      CHECK(ListZuSmsPersons(store, 0, persons, 2, &n, &total) == 0 && n == 1 && total == 1);
      CHECK(persons[0].messages == 1 && persons[0].unread == 1 && persons[0].newest == id);
      CHECK(memcmp(persons[0].person, u"13800138000", sizeof u"13800138000") == 0);
      CHECK(ListZuSmsConversation(store, u"138 0013 8000", 0, ids, 2, &n, &total) == 0 && n == 1 &&
            ids[0] == id && total == 1);
      CHECK(ListZuSmsConversation(store, u"13800138000", 1, ids, 2, &n, NULL) == 0 && n == 0);
      CHECK(ListZuSmsPersons(store, 0, NULL, 2, &n, NULL) == -1);
      CHECK(ListZuSmsConversation(store, NULL, 0, ids, 2, &n, NULL) == -1);
    }
    CHECK(DeleteZuSmsHead(store, id) == 0 && GetZuSmsUnreadHeadCount(store, &n) == 0 && n == 0);
    CHECK(GetAllZuSmsUnreadHeadID(store, NULL, 2, &n) == -1); /* refused with no row to read too */
    CHECK(GetZuSmsHeadCount(store, &n) == 0 && n == 0 && GetZuSmsHeadCount(store, NULL) == -1);
  }
  /* Changes since a token, from C: the add and the delete above leave one
   * tombstone, with the message's UUID. */
  {
    stSmsChange changes[4];
    uint32_t n = 0;
    uint64_t token = 0, next = 0;
    CHECK(GetZuSmsChangeToken(store, &token) == 0 && token != 0);
    CHECK(ListZuSmsHeadChanges(store, 0, changes, 4, &n, &next) == 0 && next == token);
    CHECK(n == 1 && changes[0].kind == 2 && (changes[0].uuid[8] & 0xC0) == 0x80);
    CHECK(ListZuSmsFolderChanges(store, token + 1, changes, 4, &n, &next) == ZU_RESYNC);
    /* Opening again finds the log whole and keeps it: the same token. */
    CHECK(CloseZuSmsDB(store) == 0 && OpenZuSmsDB(store) == 0);
    CHECK(GetZuSmsChangeToken(store, &next) == 0 && next == token);
  }
  /* Settings: the user's own, replaced, kept across an open, removed; a
   * value cut to the buffer with its full length told; bad names refused. */
  {
    SmsDatabase *other = NULL;
    char16_t value[4], name[ZU_SETTING_NAME_MAX + 2], text[ZU_SETTING_VALUE_MAX + 2];
    uint32_t length = 9;
    CHECK(GetZuSmsSetting(store, u"region", value, 4, &length) == 100 && length == 0 && !value[0]);
    CHECK(SetZuSmsSetting(store, u"region", u"CN") == 0 &&
          SetZuSmsSetting(store, u"region", u"DE") == 0);
    CHECK(CloseZuSmsDB(store) == 0 && OpenZuSmsDB(store) == 0);
    CHECK(GetZuSmsSetting(store, u"region", value, 4, &length) == 0 && length == 2 &&
          value[0] == u'D' && value[1] == u'E' && value[2] == 0);
    CHECK(GetZuSmsSetting(store, u"region", NULL, 0, &length) == 0 && length == 2);
    CHECK(GetZuSmsSetting(store, u"region", value, 2, &length) == 0 && length == 2 &&
          value[0] == u'D' && value[1] == 0);
    CHECK(GetZuSmsSetting(store, u"Region", value, 4, &length) == 100);
    CHECK(InitZuSmsDB(&other, 43) == 0 && OpenZuSmsDB(other) == 0 &&
          GetZuSmsSetting(other, u"region", value, 4, &length) == 100);
    CHECK(CloseZuSmsDB(other) == 0 && UninitZuSmsDB(other) == 0);
    CHECK(SetZuSmsSetting(store, u"region", u"") == 0 &&
          GetZuSmsSetting(store, u"region", value, 4, &length) == 100);
    CHECK(SetZuSmsSetting(store, u"region", NULL) == 0);

    for (length = 0; length <= ZU_SETTING_VALUE_MAX; ++length) text[length] = u'v';
    text[length] = 0;
    for (length = 0; length <= ZU_SETTING_NAME_MAX; ++length) name[length] = u'n';
    name[length] = 0;
    CHECK(SetZuSmsSetting(store, name, u"x") == -1 && GetZuSmsLastError(error, 64) > 0);
    CHECK(SetZuSmsSetting(store, u"region", text) == -1);
    text[ZU_SETTING_VALUE_MAX] = 0;
    name[ZU_SETTING_NAME_MAX] = 0;
    CHECK(SetZuSmsSetting(store, name, text) == 0);
    CHECK(GetZuSmsSetting(store, name, NULL, 0, &length) == 0 && length == ZU_SETTING_VALUE_MAX);
    CHECK(SetZuSmsSetting(store, u"", u"x") == -1 && SetZuSmsSetting(store, NULL, u"x") == -1);
    CHECK(GetZuSmsSetting(store, u"region", value, 4, NULL) == -1);
    CHECK(GetZuSmsSetting(store, u"region", NULL, 4, &length) == -1);
  }
  /* A multimedia message from C: added whole, its part's data read back in
   * pieces, gone with its head; no address adds nothing. */
  {
    SmsHead head = {0};
    SmsMms mms = {0}, back;
    SmsMmsPartData part = {0};
    SmsMmsPart desc[2];
    SmsMmsAddress addr = {0};
    uint8_t data[1000], piece[300];
    uint32_t id = 0, n = 0, read = 0, attrs = 9, parts = 9, addrs = 9, i;
    for (i = 0; i < sizeof data; ++i) data[i] = (uint8_t)(i * 7);
    mms.mtype = 132;
    part.part.ctype[0] = u'x';
    part.data = data;
    part.part.datalen = sizeof data;
    addr.address[0] = u'1';
    addr.type = ZU_MMS_FROM;
    CHECK(AddZuSmsMms(store, &head, &mms, NULL, 0, &part, 1, &addr, 0, &id) == -1 &&
          GetZuSmsLastError(error, 64) > 0);
    /* The add's checks without the add, a part by its description. */
    CHECK(CheckZuSmsMms(store, &head, &mms, NULL, 0, &part.part, 1, &addr, 0) == -1);
    CHECK(CheckZuSmsMms(store, &head, &mms, NULL, 0, &part.part, 1, &addr, 1) == 0);
    part.part.textlen = ZU_MMS_TEXT_MAX + 1;
    CHECK(CheckZuSmsMms(store, &head, &mms, NULL, 0, &part.part, 1, &addr, 1) == -1);
    CHECK(GetZuSmsMmsCount(store, &n) == 0 && n == 0);
    part.part.textlen = 0;
    CHECK(AddZuSmsMms(store, &head, &mms, NULL, 0, &part, 1, &addr, 1, &id) == 0 && id != 0 &&
          (uint32_t)head.id == id);
    CHECK(GetZuSmsMmsCount(store, &n) == 0 && n == 1);
    CHECK(GetAllZuSmsMmsID(store, &read, 1, &n) == 0 && n == 1 && read == id);
    CHECK(GetZuSmsMms(store, id, &back, &attrs, &parts, &addrs) == 0 && back.mtype == 132 &&
          attrs == 0 && parts == 1 && addrs == 1);
    {
      /* The whole part streamed: every byte in order, in pieces of 300; a
       * sink that stops; no such part; another user's part. */
      Expected all = {data, 0, 0, 1, 0, 0, NULL}, some = {data, 0, 500, 1, 0, 0, NULL};
      SmsDatabase *other = NULL;
      uint64_t total = 9;
      all.store = some.store = store;
      CHECK(StreamZuSmsMmsPartData(store, id, 0, piece, sizeof piece, Compare, &all, &total) == 0);
      CHECK(all.same && all.refused && all.at == sizeof data && total == sizeof data);
      CHECK(all.pieces == 4);
      CHECK(StreamZuSmsMmsPartData(store, id, 0, piece, sizeof piece, Compare, &some, &total) ==
            ZU_STOPPED);
      CHECK(some.same && some.pieces == 2 && total == 600);
      CHECK(StreamZuSmsMmsPartData(store, id, 1, piece, sizeof piece, Compare, &all, &total) ==
            100);
      CHECK(StreamZuSmsMmsPartData(store, id + 99, 0, piece, 1, Compare, &all, &total) == 100);
      CHECK(StreamZuSmsMmsPartData(store, id, 0, piece, 0, Compare, &all, &total) == -1);
      CHECK(StreamZuSmsMmsPartData(store, id, 0, piece, 1, NULL, &all, &total) == -1);
      CHECK(InitZuSmsDB(&other, 43) == 0 && OpenZuSmsDB(other) == 0);
      CHECK(StreamZuSmsMmsPartData(other, id, 0, piece, 1, Compare, &all, &total) == 100);
      CHECK(all.pieces == 4 && GetZuSmsMmsCount(store, &n) == 0 && n == 1);
      CHECK(CloseZuSmsDB(other) == 0 && UninitZuSmsDB(other) == 0);
    }
    {
      /* Parts one at a time from a source: stored in order; a source that
       * stops, a part too large, no source store nothing. */
      Source give = {data, 3, 9, 0, NULL}, stop = {data, 1, 9, 0, NULL},
             bad = {data, 3, 2, 0, NULL};
      uint32_t from = 0;
      give.store = stop.store = bad.store = store;
      CHECK(AddZuSmsMmsFrom(store, &head, &mms, NULL, 0, 3, Give, &give, &addr, 1, &from) == 0);
      CHECK(give.refused && GetAllZuSmsMmsPart(store, from, desc, 2, &n) == 0 && n == 2);
      CHECK(desc[1].seq == 1 && desc[1].datalen == 100);
      CHECK(GetZuSmsMmsPartData(store, from, 2, 50, piece, 10, &read) == 0 && read == 10);
      CHECK(piece[0] == data[250] && piece[9] == data[259]);
      CHECK(AddZuSmsMmsFrom(store, &head, &mms, NULL, 0, 3, Give, &stop, &addr, 1, &read) ==
            ZU_STOPPED);
      CHECK(AddZuSmsMmsFrom(store, &head, &mms, NULL, 0, 3, Give, &bad, &addr, 1, &read) == -1);
      CHECK(AddZuSmsMmsFrom(store, &head, &mms, NULL, 0, 3, NULL, &bad, &addr, 1, &read) == -1);
      CHECK(GetZuSmsMmsCount(store, &n) == 0 && n == 2 && GetZuSmsHeadCount(store, &n) == 0 &&
            n == 2);
      CHECK(DeleteZuSmsHead(store, from) == 0);
    }
    CHECK(DeleteZuSmsHead(store, id) == 0 &&
          GetZuSmsMms(store, id, &back, &attrs, &parts, &addrs) == 100);
    CHECK(GetZuSmsMmsCount(store, &n) == 0 && n == 0);
  }
  CHECK(CloseZuSmsDB(store) == 0 && UninitZuSmsDB(store) == 0);

  /* Every function taking a store refuses a null one before it reads any
   * other argument (all null here: a missing check would crash or name one). */
  REFUSAL(u"null store handle");
  CHECK(EVERY_CALL(NULL));

  RemoveDatabase(path);
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
