#!/usr/bin/env bash
# Builds the library and runs the example: it opens user 1's store at the
# default location (or $ZUSMS_DB) and shows what the database file holds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target zusms_example
build/bin/zusms_example
