// The 16 bytes of a UUID as lower-case hex, for tests that compare them.
#ifndef ZUSMS_TESTS_HEXTEXT_H_
#define ZUSMS_TESTS_HEXTEXT_H_

#include <cstdint>
#include <cstdio>
#include <string>

inline std::string Hex(const uint8_t* b) {
  char out[33];
  for (int i = 0; i < 16; ++i) std::snprintf(out + 2 * i, 3, "%02x", b[i]);
  return out;
}

#endif  // ZUSMS_TESTS_HEXTEXT_H_
