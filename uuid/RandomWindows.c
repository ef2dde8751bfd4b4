#include <windows.h>
/* After windows.h, which it needs. */
#include <bcrypt.h>

#include "Random.h"

int ZuRandomBytes(uint8_t *bytes, size_t count) {
  if (count > 0xFFFFFFFFu) return -1;
  return BCryptGenRandom(NULL, bytes, (ULONG)count, BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0 ? 0 : -1;
}
