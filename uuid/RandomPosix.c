#include <errno.h>
#include <sys/random.h>

#include "Random.h"

int ZuRandomBytes(uint8_t *bytes, size_t count) {
  size_t got = 0;
  while (got < count) {
    ssize_t n = getrandom(bytes + got, count - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    got += (size_t)n;
  }
  return 0;
}
