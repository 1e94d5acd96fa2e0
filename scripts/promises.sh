#!/usr/bin/env bash
# Long runs of the checker of the helper's promises: random histories of the
# real quillory-helper-cli and kettle-ledger-sim, every promise checked after
# every step. Exits 1 on the first broken promise, after printing the shrunk
# history as a runnable list of steps.
# Usage: scripts/promises.sh [--examples N] [--seed S] [--build DIR] [--steps N]
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/default
examples=1000
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$2"; shift 2 ;;
    --examples) examples="$2"; shift 2 ;;
    --seed|--steps|--progress) args+=("$1" "$2"); shift 2 ;;
    *) echo "usage: $0 [--examples N] [--seed S] [--build DIR] [--steps N] [--progress N]" >&2; exit 64 ;;
  esac
done
cli="$build/src/cli/quillory-helper-cli"
sim="$build/tools/kettle-ledger-sim"
if [ ! -x "$cli" ] || [ ! -x "$sim" ]; then
  echo "$0: build quillory-helper-cli and kettle-ledger-sim in $build first" >&2
  exit 64
fi
exec /usr/bin/python3 tests/promises/promises.py --cli "$cli" --sim "$sim" --examples "$examples" "${args[@]}"
