# SQLite compiled into zusmsdb.dll from the official amalgamation, for
# Windows builds. scripts/windows.sh unpacks it from the pinned npm package
# better-sqlite3 12.11.1 (SQLite 3.53.2, under deps/sqlite3/); the files are
# checked against the hashes below, so a different SQLite cannot slip in.
set(ZUSMS_SQLITE_DIR "" CACHE PATH "Folder holding the amalgamation's sqlite3.c and sqlite3.h")
set(zusms_sqlite_c_sha256 60d2f39a3726cd6b9021da6f4e868608d66fbb6528a9f513dc8ffcc640493422)
set(zusms_sqlite_h_sha256 9e69a1353a4288450b0d5239ede11fc7f1f4c8e5eb07491fc8317eacb5b7de7e)

foreach(part c h)
  set(file ${ZUSMS_SQLITE_DIR}/sqlite3.${part})
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "no ${file}: set ZUSMS_SQLITE_DIR (scripts/windows.sh does)")
  endif()
  file(SHA256 ${file} hash)
  if(NOT hash STREQUAL zusms_sqlite_${part}_sha256)
    message(FATAL_ERROR "${file} has SHA-256 ${hash}, not the pinned ${zusms_sqlite_${part}_sha256}")
  endif()
endforeach()

add_library(zusms_sqlite STATIC ${ZUSMS_SQLITE_DIR}/sqlite3.c)
target_include_directories(zusms_sqlite SYSTEM PUBLIC ${ZUSMS_SQLITE_DIR})
# What the store relies on: no double-quoted string literals, a library that
# several threads may use (each connection serialised by the store), and
# FTS5 with its trigram tokenizer for the search index.
target_compile_definitions(zusms_sqlite PRIVATE SQLITE_DQS=0 SQLITE_THREADSAFE=1
                                                SQLITE_OMIT_LOAD_EXTENSION SQLITE_ENABLE_FTS5)
add_library(SQLite::SQLite3 ALIAS zusms_sqlite)
