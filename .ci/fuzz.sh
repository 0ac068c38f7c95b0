#!/usr/bin/env bash
# CI: the whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer,
# under ThreadSanitizer, then a bounded libFuzzer run of the score target
# from the committed corpus. Any crash the fuzzer finds fails the run and
# leaves the input under build/fuzz/artifacts/ to be committed as a
# regression case.
#
#   FUZZ_SECONDS  how long the fuzzer runs (default 120)
set -euo pipefail
cd "$(dirname "$0")/.."

export DEBIAN_FRONTEND=noninteractive
if [ "$(id -u)" = 0 ]; then apt="apt-get"; else apt="sudo apt-get"; fi
$apt update -q
$apt install -y -q --no-install-recommends \
  cmake ninja-build g++ make libgtest-dev libgmock-dev pkg-config \
  clang libclang-rt-14-dev

echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --workflow --preset asan

echo "== tests under ThreadSanitizer"
cmake --workflow --preset tsan

echo "== bounded fuzzing of the score target"
cmake --preset fuzz
cmake --build --preset fuzz
work=build/fuzz/corpus
artifacts=build/fuzz/artifacts
rm -rf "$work" && mkdir -p "$work" "$artifacts"
# New inputs go to the scratch corpus; the committed ones only seed it.
./build/fuzz/fuzz/score_fuzz \
  -max_total_time="${FUZZ_SECONDS:-120}" -max_len=8192 -timeout=10 -rss_limit_mb=4096 \
  -print_final_stats=1 -artifact_prefix="$artifacts/" \
  "$work" fuzz/corpus fuzz/regressions tests/hostile
echo "fuzzing: no failure"
