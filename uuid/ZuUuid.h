/*
 * libzuuuid: validates and creates the 16-byte UUIDs of message heads.
 *
 * Byte order: the 16 bytes as the canonical text writes them, byte 0 first
 * ("00112233-4455-6677-8899-aabbccddeeff" is 0x00, 0x11, ... 0xff), which is
 * RFC 9562's network order. A Windows GUID stored in its own byte order
 * (the first three fields little-endian) is accepted unchanged: the checks
 * below look only at bytes that both orders share.
 */
#ifndef ZUSMS_UUID_ZUUUID_H_
#define ZUSMS_UUID_ZUUUID_H_

#include <stdint.h>

#include "ZuSmsDB.h"

#ifdef __cplusplus
extern "C" {
#endif

/* 1 when the bytes are not all zero and their variant bits (the top bits of
 * byte 8) are RFC 9562's 10 or Microsoft's 110; 0 otherwise (all zero, the
 * NCS variant 0, or the reserved 111). The version is not looked at, so
 * UUIDs and GUIDs from synchronisation partners are kept as they are. */
ZUSMS_API int32_t ZUSMS_CALL IsUUIDValid(const uint8_t *uuid);

/* Writes a new random (version 4) UUID from the operating system's random
 * source into uuid[0..15]. `flags` is reserved and ignored. Returns 0, or -1
 * when no random bytes could be had (uuid is then left as it was). */
ZUSMS_API int32_t ZUSMS_CALL CreateUUID(uint8_t *uuid, int32_t flags);

#ifdef __cplusplus
}
#endif

#endif /* ZUSMS_UUID_ZUUUID_H_ */
