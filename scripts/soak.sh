#!/usr/bin/env bash
# The soak test: the helper's engine with the simulated Kettle Ledger for a
# long time, with its timers sped up (tools/soak-driver; see its header for
# what it does and checks). Not part of the test suite.
# Usage: scripts/soak.sh [--minutes N (30)] [--speed S (10)] [--out DIR] [--seed N]
# Prints a sample every minute and the totals at the end; exits 1 when a
# published file was ever seen broken, an unexpected failure happened,
# something was left or written outside the helper's folders, or the
# descriptors, threads, children or memory grew.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/soak
bash scripts/install-deps.sh
# The driver shares the tests' fakes, so the tests are configured (only the
# two programs are built).
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORY_BUILD_TESTS=ON \
  -DQUILLORY_BUILD_QT=OFF -DQUILLORY_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target soak-driver kettle-ledger-sim -j2 >/dev/null
minutes=30
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --minutes) minutes=$2; shift 2 ;;
    *) args+=("$1"); shift ;;
  esac
done
exec "$build/tools/soak-driver" --sim "$build/tools/kettle-ledger-sim" --minutes "$minutes" "${args[@]}"
