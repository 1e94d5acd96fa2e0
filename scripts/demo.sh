#!/usr/bin/env bash
# The helper's main job, shown on any machine.
set -euo pipefail
echo "The demo is not built yet: it will publish the sample library from a simulated Kettle Ledger with quillory-helper-cli."
echo "For now, run the tests: bash scripts/test.sh"
exit 1
