#!/usr/bin/env bash
# Installs every Debian package that building, running and testing kvAction needs.
# Idempotent: installs only what is missing. Run as root (or with sudo) on Debian 12.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang pkg-config
  libsqlite3-dev libpq-dev postgresql postgresql-contrib
  libfmt-dev libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev libsodium-dev libcurl4-openssl-dev libtomlplusplus-dev
  dpkg-dev file binutils lintian  # the .deb packages (CPack, dpkg-shlibdeps) and their check
  gcovr
  libboost-dev libmstch-dev libjs-bootstrap5
  chromium chromium-driver python3-selenium python3-pytest
  libssl-dev openssl
  wrk  # bench/web_bench.sh drives the web front end
  nginx  # the multi-process test and benchmark put it in front of several serve processes
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
