#!/usr/bin/env bash
# The helper's main job, shown on any machine: a simulated Kettle Ledger has
# the sample library open, and quillory-helper-cli publishes it into a
# throw-away home folder, exactly where the iPhone app would find it.
#
# Usage: bash scripts/demo.sh [--keep]
#   --keep   leave the throw-away folder in place to look around
# QUILLORY_DEMO_BUILD_DIR=<folder> skips installing and building and runs the
# programs of that (already built) build folder instead.
#
# Installs the Debian packages it needs (only what is missing), configures the
# "default" preset and builds only the two programs it runs.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

keep=0
for arg in "$@"; do
  case "$arg" in
    --keep) keep=1 ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo.sh: unknown argument $arg (try --help)" >&2; exit 64 ;;
  esac
done

bold() { if [ -t 1 ]; then printf '\033[1m%s\033[0m\n' "$*"; else printf '%s\n' "$*"; fi; }
indent() { sed "s/^\(.\)/    \1/"; }

# --- Build what the demo runs -------------------------------------------------
if [ -n "${QUILLORY_DEMO_BUILD_DIR:-}" ]; then
  # For developers: an already configured and built build folder of their own.
  build=$QUILLORY_DEMO_BUILD_DIR
else
  build="$repo/build/default"
  build_log=$(mktemp /tmp/quillory-demo-build.XXXXXX.log)
  bold "Preparing: packages, configure, build (the first time takes a few minutes) ..."
  echo "  (progress: tail -f $build_log)"
  if ! { bash scripts/install-deps.sh &&
         cmake --preset default &&
         cmake --build --preset default --target quillory-helper-cli kettle-ledger-sim; } >"$build_log" 2>&1; then
    echo "The build failed; the last lines of $build_log:" >&2
    tail -n 30 "$build_log" >&2
    exit 1
  fi
  rm -f "$build_log"
fi
cli="$build/src/cli/quillory-helper-cli"
sim="$build/tools/kettle-ledger-sim"

# --- A throw-away home folder with the sample library open ---------------------
work=$(mktemp -d /tmp/quillory-demo.XXXXXX)
if [ "$keep" -eq 0 ]; then trap 'rm -rf "$work"' EXIT; fi
home="$work/home"
state="$work/kettle-ledger"            # what the simulated Kettle Ledger answers
library="$work/Libraries/Finch Studio EUR"
mkdir -p "$home" "$state" "$work/Libraries"
cp -R "$repo/examples/sample-library/Finch Studio EUR" "$library"
cp "$repo/examples/sample-library/name.txt" "$state/name.txt"
# The sample writes its folder as @LIBRARY@; put in the copy's real path.
python3 - "$repo/examples/sample-library/export.json" "$state/export.json" "$library" <<'PY'
import json, sys
source, target, folder = sys.argv[1:]
text = open(source, encoding="utf-8").read()
open(target, "w", encoding="utf-8").write(text.replace("@LIBRARY@", json.dumps(folder)[1:-1]))
PY

# The helper's settings and published files go below this home only.
run_cli() {
  env -u XDG_CONFIG_HOME HOME="$home" KETTLE_LEDGER_SIM_DIR="$state" \
    "$cli" "$@" --osascript "$sim" --assume-host-running </dev/null
}

echo
bold "Quillory Helper demo"
cat <<EOF
Kettle Ledger (simulated by tools/kettle-ledger-sim) has the library
"$(cat "$state/name.txt")" open: $(python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))["items"]))' "$state/export.json") receipts, in euros.
The helper asks Kettle Ledger for an export, keeps what the Quillory app on
the iPhone uses, and writes it into the app's iCloud Drive folder.
Throw-away home folder: $home

EOF
bold "\$ quillory-helper-cli sync --answer sync"
echo "  (first time for this library, so the helper asks; --answer sync says yes)"
set +e
run_cli sync --answer sync 2>&1 | indent
status=${PIPESTATUS[0]}
set -e
echo "  exit status: $status"
if [ "$status" -ne 0 ]; then
  echo "The sync did not succeed; see the lines above." >&2
  exit 1
fi

documents="$home/Library/Mobile Documents/iCloud~test~quillory~mobile/Documents"
echo
bold "Published (iCloud Drive carries this folder to the iPhone and iPad):"
echo "  ~/Library/Mobile Documents/iCloud~test~quillory~mobile/Documents/"
for f in "$documents"/*; do
  printf '    %-32s %7d bytes\n' "$(basename "$f")" "$(stat -c %s "$f")"
done

echo
bold "Inside the published document:"
python3 - "$documents" "$state/export.json" <<'PY'
import json, pathlib, sys
docs, export = pathlib.Path(sys.argv[1]), json.load(open(sys.argv[2], encoding="utf-8"))
doc_file = next(p for p in sorted(docs.iterdir()) if p.suffix == ".json")
doc = json.loads(doc_file.read_bytes())
marker = doc_file.with_name(doc_file.stem + "_updated.txt").read_text()
print(f'    libraryName  "{doc["libraryName"]}"')
print(f'    currencyCode "{doc["currencyCode"]}"')
print(f'    exportedAt   "{doc["exportedAt"]}"   (update marker: "{marker}")')
print(f'    libraryPath  "{doc["libraryPath"]}"')
print(f'    items        {len(doc["items"])} receipts; the first one:')
first = doc["items"][0]
for key in ("title", "date", "contact", "category", "amounts", "tags", "isPaid"):
    print(f"      {key:9} {json.dumps(first[key], ensure_ascii=False)}")
dropped = sorted(set(export["items"][0]) - set(first))
print(f"    dropped (the phone does not use them): {', '.join(dropped)}")
PY

echo
bold "\$ quillory-helper-cli status      (the two lines the menu-bar helper's menu shows)"
run_cli status 2>&1 | indent
echo
bold "\$ quillory-helper-cli libraries   (the Libraries submenu)"
run_cli libraries 2>&1 | indent

echo
if [ "$keep" -eq 1 ]; then
  echo "Everything is still in $work (settings: $home/.config/quillory-helper/)."
else
  echo "The throw-away folder is removed now; run with --keep to look around."
fi
echo "Next: bash scripts/test.sh runs the whole test suite; quillory-helper-cli --help lists the commands."
