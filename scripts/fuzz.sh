#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": clang with AddressSanitizer and
# UBSan, in build/fuzz) and fuzzes each from its seed corpus in
# fuzz/corpus/<target> for a bounded time (CTest, label "fuzz"). Fails when a
# target finds a crash or a broken property; the input that did it is kept in
# build/fuzz/fuzz/artifacts.
# Usage: scripts/fuzz.sh [seconds per target, default 12]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-12}"
bash scripts/install-deps.sh
cmake --preset fuzz -DQUILLORY_FUZZ_SECONDS="$seconds" >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz
