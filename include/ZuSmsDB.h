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
 *    or a crash out for bad input; GetZuSmsLastError explains a failure.
 *  - The caller owns every record, array and count it passes; the library
 *    reads and writes them only during the call and never writes an array
 *    beyond the capacity it was given.
 *  - Text is UTF-16 (char16_t) in fixed-capacity arrays, zero-terminated;
 *    a field holds at most its capacity minus one character.
 *  - Functions are safe to call from several threads at once, and several
 *    processes may share one database file.
 *
 * The database file: $ZUSMS_DB if set, otherwise zuSms.dbf in
 * $XDG_DATA_HOME/zusms/ (or ~/.local/share/zusms/), created as needed.
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
 * capacity is 0, to learn the length. */
ZUSMS_API int32_t ZUSMS_CALL GetZuSmsLastError(char16_t *buf, uint32_t capacity);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ZUSMS_ZUSMSDB_H_ */
