#!/usr/bin/env bash
# Builds the Debian package (cpack -G DEB) for the prefix /usr, checks its
# control data and its files (dpkg-deb -I, -c), has lintian judge it (any
# error fails), unpacks it into a temporary root (dpkg -x) and runs the
# unpacked zavo on a sample tree with the packaged settings.
# Usage: scripts/check-package.sh [BUILD-FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-deb}

# A folder configured for the package already (Release, the prefix /usr),
# such as the test command's, is built as it is: its tests are not packaged.
cache=$build/CMakeCache.txt
if ! grep -qx 'CMAKE_BUILD_TYPE:STRING=Release' "$cache" 2>/dev/null ||
   ! grep -qx 'CMAKE_INSTALL_PREFIX:PATH=/usr' "$cache"; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZAVO_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
fi
cmake --build "$build" -j2
rm -f "$build"/zavo_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/zavo_*.deb)
echo "package: $deb"

fail() {
  echo "check-package: $*" >&2
  exit 1
}

# Control data: the name, the version zavo reports, the packages of the
# archivers the default archivers file runs, and the libraries zavo links
# (libarchive13: Verify reads archives itself).
info=$(dpkg-deb -I "$deb")
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == zavo ]] || fail "Package is $(field Package)"
for dep in 7zip libarchive-tools arj unar nomarch unace libc6 libarchive13; do
  grep -Eq "(^|, )$dep( |,|$)" <<<"$(field Depends)" || fail "Depends lacks $dep: $(field Depends)"
done
grep -q 'conffiles' <<<"$info" || fail "no conffiles"
for program in 7zz bsdtar arj unar nomarch unace; do
  grep -q "^[a-z]*=$program " data/posix/archivers.ini || fail "the archivers file no longer runs $program: update Depends"
done

# Files: exactly those of the install rules.
listing=$(dpkg-deb -c "$deb")
files=$(awk '$1 !~ /^d/ {print $6}' <<<"$listing" | sort)
expected=$(printf '%s\n' ./etc/zavo/archivers.ini ./etc/zavo/zavo.ctl ./usr/bin/zavo \
  ./usr/share/bash-completion/completions/zavo ./usr/share/doc/zavo/changelog.gz \
  ./usr/share/doc/zavo/copyright ./usr/share/doc/zavo/README.md \
  ./usr/share/man/man1/zavo.1.gz | sort)
[[ "$files" == "$expected" ]] || fail "files differ:"$'\n'"$files"
grep -q '^-rwxr-xr-x root/root .* ./usr/bin/zavo$' <<<"$listing" || fail "zavo not executable by all"

# Debian's own judge: errors fail (warnings and notes are shown and stay),
# and so does a program built without the hardening the build asks for.
judged=$(lintian -I --fail-on error --tag-display-limit 0 "$deb") ||
  fail "lintian found errors:"$'\n'"$judged"
[[ -z $judged ]] || echo "$judged"
! grep -q 'hardening-no-' <<<"$judged" || fail "zavo built without hardening"

# Unpacked: the version, the man page, and a run on a sample tree.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root/pkg"
zavo=$root/pkg/usr/bin/zavo
# A small program: stripped of its symbols and debug information.
if readelf -S "$zavo" | grep -Eq '\.(debug_[a-z]+|symtab)\b'; then
  fail "zavo is not stripped ($(stat -c %s "$zavo") bytes)"
fi
echo "installed program: $(stat -c %s "$zavo") bytes"
[[ $("$zavo" --version) == "zavo $(field Version)" ]] || fail "--version: $("$zavo" --version)"
mandoc -T lint -W warning "$root/pkg/usr/share/man/man1/zavo.1.gz"
zgrep -q '/etc/zavo/zavo.ctl' "$root/pkg/usr/share/man/man1/zavo.1.gz" || fail "man page without /etc"
# The changelog's latest entry is this version's, and the copyright file
# carries the licence's text whole.
latest=$(zcat "$root/pkg/usr/share/doc/zavo/changelog.gz" | dpkg-parsechangelog -l - -S Version)
[[ $latest == "$(field Version)" ]] || fail "changelog's latest entry is $latest"
copyright=$root/pkg/usr/share/doc/zavo/copyright
licence=$(sed -n '/^License: Expat$/,$p' "$copyright" | tail -n +2 | sed 's/^ //; s/^\.$//')
[[ $licence == "$(sed -n '/^Copyright/,$p' LICENSE | tail -n +2 | sed '/./,$!d')" ]] ||
  fail "copyright file does not hold LICENSE's text"
grep -qx "Copyright: $(sed -n 's/^Copyright (c) //p' LICENSE)" "$copyright" ||
  fail "copyright file names other holders than LICENSE"

# The packaged settings, as a user copies them (/etc/zavo of this machine
# is not the package's).
mkdir -p "$root/config/zavo" "$root/arc/sub" "$root/stage"
cp "$root/pkg/etc/zavo/zavo.ctl" "$root/pkg/etc/zavo/archivers.ini" "$root/config/zavo/"
echo "sample text" >"$root/stage/a.txt"
(cd "$root/stage" && zip -q "$root/arc/one.zip" a.txt && tar -czf "$root/arc/sub/two.tar.gz" a.txt)
cp "$root/config/zavo/archivers.ini" "$root/archivers.before"
out=$(cd "$root" && XDG_CONFIG_HOME="$root/config" "$zavo" -r "$root/arc/*.*")
echo "$out"
grep -qx '\[one.zip\] -> \[one.7z\] done!' <<<"$out" || fail "one.zip not converted"
grep -qx '\[two.tar.gz\] -> \[two.7z\] done!' <<<"$out" || fail "two.tar.gz not converted"
[[ $(7zz e -so "$root/arc/one.7z" a.txt) == "sample text" ]] || fail "one.7z does not hold a.txt"
[[ ! -e "$root/arc/one.zip" && ! -e "$root/arc/sub/two.tar.gz" ]] || fail "originals left"
# The packaged archivers file is already in normal form: nothing rewritten.
cmp -s "$root/archivers.before" "$root/config/zavo/archivers.ini" || fail "archivers file rewritten"
echo "check-package: all checks passed"
