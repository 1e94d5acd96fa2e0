#!/usr/bin/env bash
# Builds the Debian package as a distribution would and checks it:
# - its own build folder (build/package), without tests and benchmarks;
# - the distribution's compiler and linker flags with every hardening feature
#   (dpkg-buildflags, DEB_BUILD_MAINT_OPTIONS=hardening=+all: stack
#   protector, _FORTIFY_SOURCE, read-only relocations, immediate binding);
# - `cpack`, then lintian on the package (fails on any error or warning) and
#   desktop-file-validate on the desktop entries;
# - that the package holds what it says it holds, where each thing belongs
#   (the simulated Kettle Ledger, the AppStream metainfo, the completion of
#   quillory-helper-cli for bash, zsh and fish, the manual pages), that the
#   tray application's page says how to try the simulator, that the
#   installed completions offer the commands --help lists, and that the
#   login entry carries TryExec.
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
cmake -S . -B build/package -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_BUILD_TYPE=None -DQUILLORY_BUILD_TESTS=OFF -DQUILLORY_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS="$cflags" -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build build/package -j "$(nproc)"
rm -f build/package/quillory-helper_*.deb
(cd build/package && cpack >/dev/null)
deb="$(ls build/package/quillory-helper_*.deb)"

for entry in src/app/*.desktop; do desktop-file-validate "$entry"; done
lintian --fail-on error,warning --display-info "$deb"

# What the package holds, unpacked.
unpacked=$(mktemp -d /tmp/quillory-package-XXXXXX)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
missing=0
for file in usr/libexec/quillory-helper/kettle-ledger-sim usr/share/metainfo/test.quillory.helper.metainfo.xml \
  usr/share/bash-completion/completions/quillory-helper-cli usr/share/zsh/vendor-completions/_quillory-helper-cli \
  usr/share/fish/vendor_completions.d/quillory-helper-cli.fish usr/share/man/man1/quillory-helper.1.gz \
  usr/share/man/man1/quillory-helper-cli.1.gz usr/share/applications/quillory-helper.desktop; do
  [ -f "$unpacked/$file" ] || { echo "package.sh: the package has no /$file" >&2; missing=1; }
done
[ -x "$unpacked/usr/libexec/quillory-helper/kettle-ledger-sim" ] || { echo "package.sh: the simulator is not executable" >&2; missing=1; }
appstreamcli validate --no-net "$unpacked/usr/share/metainfo/test.quillory.helper.metainfo.xml" >/dev/null || missing=1
# The manual page and the package's description say where the simulator is
# and how to use it.
# (Read whole first: with pipefail, grep -q leaving early would fail the writer.)
page=$(zcat "$unpacked/usr/share/man/man1/quillory-helper.1.gz")
grep -q 'osascript /usr/libexec/quillory\\-helper/kettle\\-ledger\\-sim' <<<"$page" ||
  { echo "package.sh: man quillory-helper does not show how to try the simulated Kettle Ledger" >&2; missing=1; }
grep -q '/usr/libexec/quillory-helper' <<<"$(dpkg-deb -f "$deb" Description)" ||
  { echo "package.sh: the package description does not name the simulated Kettle Ledger" >&2; missing=1; }
grep -qx 'TryExec=/usr/bin/quillory-helper' "$unpacked/usr/share/doc/quillory-helper/examples/quillory-helper.desktop" ||
  { echo "package.sh: the example login entry has no TryExec" >&2; missing=1; }
# The completions offer what --help lists: the commands after "quillory-helper-cli s".
expected='status sync'
got=$(PATH="$unpacked/usr/bin:$PATH" bash -c 'source "$1"; COMP_WORDS=(quillory-helper-cli s); COMP_CWORD=1
  _quillory_helper_cli; printf "%s\n" "${COMPREPLY[@]}" | sort | xargs' _ \
  "$unpacked/usr/share/bash-completion/completions/quillory-helper-cli")
[ "$got" = "$expected" ] || { echo "package.sh: bash completes 's' with '$got', not '$expected'" >&2; missing=1; }
got=$(PATH="$unpacked/usr/bin:$PATH" fish -c 'source $argv[1]; complete -C "quillory-helper-cli s"' \
  "$unpacked/usr/share/fish/vendor_completions.d/quillory-helper-cli.fish" | cut -f1 | sort | xargs)
[ "$got" = "$expected" ] || { echo "package.sh: fish completes 's' with '$got', not '$expected'" >&2; missing=1; }
zsh -n "$unpacked/usr/share/zsh/vendor-completions/_quillory-helper-cli" || missing=1
[ "$missing" -eq 0 ] || exit 1
echo "$deb"
