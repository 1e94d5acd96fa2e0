#!/bin/bash
# End-to-end benchmark: whole `quillory-helper-cli sync` runs over
# kettle-ledger-sim on generated exports of two shapes (>= 70 MB each) against
# the copy limit (read the export once, write the same output durably) and
# beside Python's json doing the same transform and writes, with the peak
# memory of each sync, the latency of a small sync, and the app-container scan
# beside find. Options go to bench/e2e.py (--rounds N, --no-scan, --baseline
# CLI to time another build in the same run, --exports DIR to keep and reuse
# the generated exports). Takes a few minutes, most of it generating input.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh >/dev/null
cmake --preset default >/dev/null
cmake --build --preset default --target quillory-helper-cli kettle-ledger-sim >/dev/null
exec python3 bench/e2e.py run --cli build/default/src/cli/quillory-helper-cli \
  --sim build/default/tools/kettle-ledger-sim "$@"
