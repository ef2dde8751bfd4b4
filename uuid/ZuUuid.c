#include "ZuUuid.h"

#include <string.h>

#include "Random.h"

int32_t ZUSMS_CALL IsUUIDValid(const uint8_t *uuid) {
  int any = 0;
  if (!uuid) return 0;
  for (int i = 0; i < 16; ++i) any |= uuid[i];
  if (!any) return 0;
  return (uuid[8] & 0xC0) == 0x80 || (uuid[8] & 0xE0) == 0xC0; /* RFC, Microsoft */
}

int32_t ZUSMS_CALL CreateUUID(uint8_t *uuid, int32_t flags) {
  uint8_t bytes[16];
  (void)flags;
  if (!uuid || ZuRandomBytes(bytes, sizeof bytes) != 0) return -1;
  bytes[6] = (uint8_t)((bytes[6] & 0x0F) | 0x40); /* version 4 */
  bytes[8] = (uint8_t)((bytes[8] & 0x3F) | 0x80); /* variant 10 */
  memcpy(uuid, bytes, sizeof bytes);
  return 0;
}
