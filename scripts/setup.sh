#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# Run as root (as CI does) it installs them; otherwise it names what is missing.
set -euo pipefail

# With arguments, it installs those packages instead (the Windows stage's).
packages=(cmake g++ make pkg-config libsqlite3-dev sqlite3 libgtest-dev libgmock-dev
          libbenchmark-dev clang libclang-rt-14-dev clang-format python3
          libcli11-dev nlohmann-json3-dev libexpat1-dev libfmt-dev libutfcpp-dev
          libphonenumber-dev libicu-dev libxxhash-dev zlib1g-dev libzip-dev)
# The browser test's (headless Chromium, and fonts for its screenshots): the
# test is skipped, saying so, where they cannot be installed.
browser=(chromium fonts-wqy-zenhei fonts-noto-color-emoji)
if (($# > 0)); then packages=("$@") browser=(); fi

lacking() {
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      echo "$p"
    fi
  done
}
mapfile -t missing < <(lacking "${packages[@]}")
mapfile -t optional < <(lacking "${browser[@]}")
if ((${#missing[@]} + ${#optional[@]} == 0)); then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  ((${#optional[@]} == 0)) ||
    echo "setup: missing ${optional[*]}: the browser test will be skipped" >&2
  ((${#missing[@]} == 0)) && exit 0
  echo "setup: missing Debian packages: ${missing[*]}; install them as root" >&2
  exit 1
fi
echo "setup: installing ${missing[*]} ${optional[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
if ((${#missing[@]} > 0)); then
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
if ((${#optional[@]} > 0)); then
  apt-get install -y -q --no-install-recommends "${optional[@]}" ||
    echo "setup: ${optional[*]} could not be installed: the browser test will be skipped" >&2
fi
