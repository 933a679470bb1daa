#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, and nothing when it is all there.
# Run as root (or with sudo available). Idempotent: a second run costs a dpkg query.
set -euo pipefail

packages=(
  cmake make ninja-build g++ clang clang-format libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev
  wine wine64 wine32:i386 fonts-wine xvfb xauth
  googletest zlib1g-dev libdeflate-dev libbenchmark-dev
  python3 libarchive-tools p7zip-full osslsigncode openssl
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "bootstrap: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
