#!/usr/bin/env bash
# Parses the Objective-C++ sources of src/platform/macos on any system, against
# the stand-in Apple headers in tools/macos-stand-ins (see its README): syntax,
# ARC and C++ mistakes show here; only a Mac build checks them against the SDK.
# Needs clang. Usage: scripts/check-macos-sources.sh
set -euo pipefail
cd "$(dirname "$0")/.."
clang="${CLANGXX:-clang++}"
status=0
for source in src/platform/macos/*.mm; do
  if "$clang" -fsyntax-only -x objective-c++ -std=c++20 -fobjc-arc -fblocks -fobjc-runtime=macosx-13.0 \
      -D__APPLE__ -Wall -Wextra -Werror -isystem tools/macos-stand-ins -I src "$source"; then
    echo "parsed: $source"
  else
    status=1
  fi
done
exit "$status"
