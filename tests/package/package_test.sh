#!/usr/bin/env bash
# Builds the Debian package from a finished build directory into a scratch directory, checks it
# with lintian, unpacks it into a scratch root and runs the installed program from there: its
# version, a listing of the demo archive, the manual page, the desktop entry, the completion.
# Usage: package_test.sh <build-dir> <version> <has-window-program 0|1>
set -euo pipefail
build=$(realpath "$1")
version=$2
has_window=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" > "$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/out/kestrel_*.deb)
[ "$(basename "$deb")" = "kestrel_${version}-1_$(dpkg --print-architecture).deb" ] ||
  fail "package name $(basename "$deb")"
[ "$(dpkg-deb -f "$deb" Version)" = "${version}-1" ] || fail "package version"
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "no dependencies from dpkg-shlibdeps"
lintian --fail-on error "$deb" || fail "lintian reports errors"

root=$work/root
dpkg -x "$deb" "$root"
expected=(usr/bin/kestrel usr/share/man/man1/kestrel.1.gz
  usr/share/bash-completion/completions/kestrel usr/share/applications/kestrel.desktop
  usr/share/icons/hicolor/scalable/apps/kestrel.svg usr/share/doc/kestrel/copyright
  usr/share/doc/kestrel/changelog.Debian.gz usr/share/lintian/overrides/kestrel)
if [ "$has_window" = 1 ]; then expected+=(usr/libexec/kestrel/kestrel-window); fi
for f in "${expected[@]}"; do [ -f "$root/$f" ] || fail "$f is not in the package"; done
for f in "$root"/usr/bin/* "$root"/usr/libexec/kestrel/*; do
  [ -f "$f" ] || continue
  if readelf -S "$f" | grep -q '\.symtab'; then fail "$f is not stripped"; fi
done

[ "$("$root/usr/bin/kestrel" --version)" = "Kestrel $version" ] || fail "kestrel --version"
"$build/kestrel_make_demo" "$work/demo.unity3d" > /dev/null
(cd "$work" && "$root/usr/bin/kestrel" list demo.unity3d > list.txt) || fail "kestrel list"
grep -q 'dialogue' "$work/list.txt" || fail "kestrel list shows no dialogue object"

MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$root/usr/share/man/man1/kestrel.1.gz" \
  > "$work/man.txt" 2> "$work/man.err"
[ ! -s "$work/man.err" ] || { cat "$work/man.err"; fail "the manual page has roff warnings"; }
grep -q "^EXIT STATUS" "$work/man.txt" || fail "the manual page does not render"
grep -q "Kestrel $version" "$work/man.txt" || fail "the manual page names another version"

desktop-file-validate "$root/usr/share/applications/kestrel.desktop" > "$work/desktop.txt" 2>&1 ||
  { cat "$work/desktop.txt"; fail "desktop-file-validate"; }
bash -n "$root/usr/share/bash-completion/completions/kestrel" || fail "completion syntax"
echo "package $(basename "$deb") checked"
