#!/usr/bin/env bash
# Builds the library and the zusms tool, then runs `zusms demo` in a database
# file of its own (it says where; a person's store is never touched): it adds
# a realistic set of messages once and shows the folders, the inbox, a search
# and a synchronisation listing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target zusms
build/bin/zusms demo
