#!/usr/bin/env bash
# Builds the Debian package as a distribution would and checks it:
# - its own build folder (build/package), without tests and benchmarks;
# - the distribution's compiler and linker flags with every hardening feature
#   (dpkg-buildflags, DEB_BUILD_MAINT_OPTIONS=hardening=+all: stack
#   protector, _FORTIFY_SOURCE, read-only relocations, immediate binding);
# - `cpack`, then lintian on the package (fails on any error or warning) and
#   desktop-file-validate on the desktop entries.
# The package's path is the last line printed.
#
# Usage: scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cflags="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"

# Build type None: the flags above are all the flags, as Debian builds.
cmake -S . -B build/package -DCMAKE_BUILD_TYPE=None -DQUILLORY_BUILD_TESTS=OFF -DQUILLORY_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS="$cflags" -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build build/package -j "$(nproc)"
rm -f build/package/quillory-helper_*.deb
(cd build/package && cpack >/dev/null)
deb="$(ls build/package/quillory-helper_*.deb)"

for entry in src/app/*.desktop; do desktop-file-validate "$entry"; done
lintian --fail-on error,warning --display-info "$deb"
echo "$deb"
