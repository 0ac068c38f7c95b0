#!/usr/bin/env bash
# CI: cross-builds the Windows programs with MinGW-w64 and packs their
# release zip, then runs the end-to-end tests against the .exe files under
# wine, with the virtual tone board beside them as FTD2XX.dll.
set -euo pipefail
cd "$(dirname "$0")/.."

export DEBIAN_FRONTEND=noninteractive
if [ "$(id -u)" = 0 ]; then apt="apt-get"; else apt="sudo apt-get"; fi
$apt update -q
$apt install -y -q --no-install-recommends \
  cmake ninja-build g++ libgtest-dev libgmock-dev \
  g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64

echo "== cross-build the Windows programs and the release zip"
cmake --workflow --preset mingw

echo "== end-to-end tests of the Windows programs under wine"
cmake --workflow --preset wine
