/* A UUID library whose random source always fails, for the head tests. */
#include <stdint.h>

__attribute__((visibility("default"))) int32_t IsUUIDValid(const uint8_t *uuid) {
  int any = 0;
  for (int i = 0; i < 16; ++i) any |= uuid[i];
  return any && (uuid[8] & 0xC0) == 0x80;
}

__attribute__((visibility("default"))) int32_t CreateUUID(uint8_t *uuid, int32_t flags) {
  (void)uuid;
  (void)flags;
  return -1;
}
