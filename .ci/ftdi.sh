#!/usr/bin/env bash
# CI: builds both programs for a real board (libftdi1) and runs them, and the
# adapter under them, against an emulated FT245R (umockdev).
set -euo pipefail
cd "$(dirname "$0")/.."

export DEBIAN_FRONTEND=noninteractive
if [ "$(id -u)" = 0 ]; then apt="apt-get"; else apt="sudo apt-get"; fi
$apt update -q
$apt install -y -q --no-install-recommends \
  cmake ninja-build g++ pkg-config libftdi1-dev umockdev libumockdev-dev

echo "== build for a real board and run the emulated FT245R tests"
cmake --workflow --preset ftdi
