#!/usr/bin/env bash
# Builds the Windows DLLs with Debian's mingw-w64 cross compilers and runs
# their tests under wine64:
#   build-windows/      64-bit: zusmsdb.dll, zuuuid.dll and the test programs
#   build-windows-32/   32-bit: the library only (compiled, not run)
# SQLite is compiled in from the amalgamation of the npm package
# better-sqlite3 12.11.1 (SQLite 3.53.2), fetched once into ~/.cache/zusms and
# checked against its SHA-256 here and again by CMake.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 wine ccache googletest)
# npm fetches the pinned SQLite once; some Node.js packages bring their own.
command -v npm >/dev/null || packages+=(npm)
scripts/setup.sh "${packages[@]}"

# The pinned amalgamation.
package=better-sqlite3
version=12.11.1
tarball_sha256=ebf0ed75a7a59dbcb3b24bbd014ef49d9f15bc328e4adcbf516f2a8fadfa2835
cache=${XDG_CACHE_HOME:-$HOME/.cache}/zusms
tarball=$cache/$package-$version.tgz
if [ ! -f "$tarball" ]; then
  mkdir -p "$cache"
  (cd "$cache" && npm pack --silent "$package@$version" >/dev/null)
fi
if ! echo "$tarball_sha256  $tarball" | sha256sum -c --quiet -; then
  echo "windows: $tarball is not the pinned $package $version; remove it and run again" >&2
  exit 1
fi
sqlite_dir=build-windows-sqlite
if [ ! -f "$sqlite_dir/sqlite3.c" ]; then
  mkdir -p "$sqlite_dir"
  tar -xzf "$tarball" -C "$sqlite_dir" --strip-components=3 \
    package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h
fi

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
jobs=$(nproc)

echo "== windows 64-bit build"
cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DZUSMS_SQLITE_DIR="$PWD/$sqlite_dir" -DZUSMS_BUILD_BENCH=OFF \
  "${launcher[@]}" >/dev/null
cmake --build build-windows -j"$jobs"

echo "== windows 32-bit build (library only)"
cmake -S . -B build-windows-32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
  -DCMAKE_BUILD_TYPE=None -DZUSMS_SQLITE_DIR="$PWD/$sqlite_dir" -DZUSMS_BUILD_BENCH=OFF \
  -DZUSMS_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null
cmake --build build-windows-32 -j"$jobs" --target zusmsdb zuuuid
python3 tests/export_table_test.py i686-w64-mingw32-objdump build-windows-32/bin/zusmsdb.dll \
  include/ZuSmsDB.h store/SmsDatabase.h engine/MimerDatabase.h engine/MimerException.h \
  build-windows-32/bin/zuuuid.dll

echo "== windows tests under wine64"
# A fresh prefix takes some seconds and about 700 MB; the server is started
# and the prefix booted once before the tests, or the first test can hang.
export PATH=/usr/lib/wine:$PATH
export WINEDEBUG=-all LANG=C.UTF-8 WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX=${WINEPREFIX:-$PWD/build-windows/wineprefix}
mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1
wine64 wineboot -i >/dev/null 2>&1
status=0
ctest --test-dir build-windows --output-on-failure -j"$jobs" --timeout 600 || status=$?
wineserver -k >/dev/null 2>&1 || true
exit "$status"
