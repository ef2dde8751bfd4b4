/* The operating system's random source, one small file per platform. */
#ifndef ZUSMS_UUID_RANDOM_H_
#define ZUSMS_UUID_RANDOM_H_

#include <stddef.h>
#include <stdint.h>

/* Fills bytes[0..count-1] with random bytes. 0 on success, -1 otherwise. */
int ZuRandomBytes(uint8_t *bytes, size_t count);

#endif /* ZUSMS_UUID_RANDOM_H_ */
