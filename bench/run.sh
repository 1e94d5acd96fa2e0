#!/bin/sh
# Builds the benchmarks with the default preset and runs the publishing
# benchmark: throughput, ratio to a plain copy, peak memory.
set -eu
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target publish_bench
exec build/default/bench/publish_bench "$@"
