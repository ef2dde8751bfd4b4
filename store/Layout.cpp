// The layout of every public record, checked where the library is compiled:
// the records are the same on every target (64-bit Linux, 64-bit and 32-bit
// Windows), so a program built on one of them reads another's records. The
// filter item is 16 bytes everywhere, because its value holds a 64-bit
// number; the filter itself holds pointers and follows the pointer size.
#include <cstddef>

#include "ZuSmsDB.h"

#define ZU_SIZE(Type, bytes) static_assert(sizeof(Type) == (bytes), #Type " has changed size")
#define ZU_AT(Type, field, offset) \
  static_assert(offsetof(Type, field) == (offset), #Type "." #field " has moved")

ZU_SIZE(SmsHead, 1616);
ZU_AT(SmsHead, id, 0);
ZU_AT(SmsHead, index, 4);
ZU_AT(SmsHead, type, 6);
ZU_AT(SmsHead, fid, 8);
ZU_AT(SmsHead, batid, 12);
ZU_AT(SmsHead, createtime, 16);
ZU_AT(SmsHead, tel, 46);
ZU_AT(SmsHead, name, 112);
ZU_AT(SmsHead, recvtime, 192);
ZU_AT(SmsHead, content, 222);
ZU_AT(SmsHead, privmode, 1564);
ZU_AT(SmsHead, ccid, 1566);
ZU_AT(SmsHead, lockflag, 1568);
ZU_AT(SmsHead, oldfid, 1572);
ZU_AT(SmsHead, impt, 1576);
ZU_AT(SmsHead, longsms, 1578);
ZU_AT(SmsHead, operid, 1580);
ZU_AT(SmsHead, uuid, 1600);

ZU_SIZE(SmsFolder, 96);
ZU_AT(SmsFolder, id, 0);
ZU_AT(SmsFolder, FdId, 4);
ZU_AT(SmsFolder, fname, 8);
ZU_AT(SmsFolder, system, 88);
ZU_AT(SmsFolder, password, 90);
ZU_AT(SmsFolder, privmode, 92);

ZU_SIZE(SmsContent, 168);
ZU_AT(SmsContent, id, 0);
ZU_AT(SmsContent, BatId, 4);
ZU_AT(SmsContent, type, 8);
ZU_AT(SmsContent, savepos, 10);
ZU_AT(SmsContent, rivmode, 12);
ZU_AT(SmsContent, location, 16);
ZU_AT(SmsContent, name, 20);
ZU_AT(SmsContent, tel, 100);

ZU_SIZE(SmsAreaBroadcast, 1436);
ZU_AT(SmsAreaBroadcast, id, 0);
ZU_AT(SmsAreaBroadcast, status, 4);
ZU_AT(SmsAreaBroadcast, sn, 8);
ZU_AT(SmsAreaBroadcast, msgid, 12);
ZU_AT(SmsAreaBroadcast, pageindex, 16);
ZU_AT(SmsAreaBroadcast, dctype, 20);
ZU_AT(SmsAreaBroadcast, recvtime, 24);
ZU_AT(SmsAreaBroadcast, datalen, 90);
ZU_AT(SmsAreaBroadcast, data, 92);

ZU_SIZE(SmsFilter, 160);
ZU_AT(SmsFilter, id, 0);
ZU_AT(SmsFilter, folderid, 4);
ZU_AT(SmsFilter, ftype, 8);
ZU_AT(SmsFilter, fattr, 10);
ZU_AT(SmsFilter, tel, 12);
ZU_AT(SmsFilter, name, 78);

ZU_SIZE(SmsRecieverHistory, 184);
ZU_AT(SmsRecieverHistory, id, 0);
ZU_AT(SmsRecieverHistory, tel, 4);
ZU_AT(SmsRecieverHistory, name, 70);
ZU_AT(SmsRecieverHistory, privmode, 150);
ZU_AT(SmsRecieverHistory, lastdate, 152);

ZU_SIZE(SmsPhrase, 208);
ZU_AT(SmsPhrase, id, 0);
ZU_AT(SmsPhrase, content, 4);
ZU_AT(SmsPhrase, impBool, 204);

ZU_SIZE(stDateTime, 12);
ZU_AT(stDateTime, year, 0);
ZU_AT(stDateTime, month, 2);
ZU_AT(stDateTime, day, 4);
ZU_AT(stDateTime, hour, 6);
ZU_AT(stDateTime, minute, 8);
ZU_AT(stDateTime, second, 10);

ZU_SIZE(stIDModifyTime, 16);
ZU_AT(stIDModifyTime, id, 0);
ZU_AT(stIDModifyTime, modifyTime, 4);

ZU_SIZE(stIDUUID, 20);
ZU_AT(stIDUUID, id, 0);
ZU_AT(stIDUUID, uuid, 4);
ZU_SIZE(stSmsPerson, 96);
ZU_AT(stSmsPerson, messages, 80);
ZU_AT(stSmsPerson, newest, 92);

ZU_SIZE(_MimerQueryFilterItem, 16);
ZU_AT(_MimerQueryFilterItem, field, 0);
ZU_AT(_MimerQueryFilterItem, op, 4);
ZU_AT(_MimerQueryFilterItem, value, 8);

ZU_SIZE(_MimerQueryOrderItem, 8);
ZU_AT(_MimerQueryOrderItem, field, 0);
ZU_AT(_MimerQueryOrderItem, direction, 4);

constexpr size_t kPointer = sizeof(void*);
ZU_SIZE(MimerQueryFilter, 3 * kPointer + 8);
ZU_AT(MimerQueryFilter, itemCount, 0);
ZU_AT(MimerQueryFilter, items, kPointer);
ZU_AT(MimerQueryFilter, joinType, 2 * kPointer);
ZU_AT(MimerQueryFilter, orderCount, 2 * kPointer + 4);
ZU_AT(MimerQueryFilter, orders, 2 * kPointer + 8);

ZU_SIZE(SmsMms, 772);
ZU_AT(SmsMms, subject, 0);
ZU_AT(SmsMms, ctype, 512);
ZU_AT(SmsMms, mtype, 768);

ZU_SIZE(SmsMmsAttribute, 2176);
ZU_AT(SmsMmsAttribute, name, 0);
ZU_AT(SmsMmsAttribute, value, 128);

ZU_SIZE(SmsMmsAddress, 322);
ZU_AT(SmsMmsAddress, address, 0);
ZU_AT(SmsMmsAddress, type, 256);
ZU_AT(SmsMmsAddress, charset, 258);

ZU_SIZE(SmsMmsPart, 2124);
ZU_AT(SmsMmsPart, seq, 0);
ZU_AT(SmsMmsPart, ctype, 4);
ZU_AT(SmsMmsPart, name, 260);
ZU_AT(SmsMmsPart, fname, 772);
ZU_AT(SmsMmsPart, charset, 1284);
ZU_AT(SmsMmsPart, cid, 1348);
ZU_AT(SmsMmsPart, cl, 1604);
ZU_AT(SmsMmsPart, textlen, 2116);
ZU_AT(SmsMmsPart, datalen, 2120);

// The part is followed by two pointers, aligned to their size.
constexpr size_t kAfterPart = (2124 + kPointer - 1) / kPointer * kPointer;
ZU_SIZE(SmsMmsPartData, kAfterPart + 2 * kPointer);
ZU_AT(SmsMmsPartData, part, 0);
ZU_AT(SmsMmsPartData, text, kAfterPart);
ZU_AT(SmsMmsPartData, data, kAfterPart + kPointer);
