#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# Run as root (as CI does) it installs them; otherwise it names what is missing.
set -euo pipefail

# With arguments, it installs those packages instead (the Windows stage's).
packages=(cmake g++ make pkg-config libsqlite3-dev sqlite3 libgtest-dev libgmock-dev
          libbenchmark-dev clang libclang-rt-14-dev clang-format python3
          libcli11-dev nlohmann-json3-dev libexpat1-dev libfmt-dev libutfcpp-dev
          libphonenumber-dev libicu-dev libxxhash-dev zlib1g-dev libzip-dev)
if (($# > 0)); then packages=("$@"); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if ((${#missing[@]} == 0)); then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing Debian packages: ${missing[*]}; install them as root" >&2
  exit 1
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
