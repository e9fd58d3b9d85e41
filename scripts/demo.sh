#!/usr/bin/env bash
# Builds zavo, packs the bundled sample files into archives of several kinds
# (one nested inside another, and a description list beside them), and
# converts the tree to 7z. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."

ZAVO_WITH_FUZZ=0 bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAVO_TESTS=OFF >/dev/null
cmake --build build -j2 --target zavo >/dev/null

demo=$PWD/build/demo
rm -rf "$demo"
mkdir -p "$demo/old disks/1994"
src=$PWD/samples/docs
(cd "$src" && zip -qr "$demo/docs.zip" .)
(cd "$src" && arj a -r -y "$demo/old disks/docs.arj" readme.txt LICENSE notes/todo.txt >/dev/null)
(cd "$src" && tar -czf "$demo/old disks/1994/docs.tar.gz" .)
(cd "$src" && tar -cjf "$demo/old disks/1994/docs.tbz" .)
# An archive inside an archive: converted too with /n.
tmp=$(mktemp -d)
cp "$demo/docs.zip" "$tmp/inner.zip"
printf 'outer file\n' > "$tmp/outer.txt"
(cd "$tmp" && zip -q "$demo/bundle.zip" inner.zip outer.txt)
rm -rf "$tmp"
printf 'docs.zip    The sample documents\nbundle.zip  Documents with a nested archive\n > and a second line of description\n' \
  > "$demo/descript.ion"
touch -d '1994-05-01 12:00:00' "$demo"/*.zip "$demo/old disks"/*.arj

echo "== before"
(cd "$demo" && find . -type f | sort)
echo
echo "== build/zavo /r /n '$demo/*.*'"
build/zavo /r /n "$demo/*.*" || true
echo
echo "== after"
(cd "$demo" && find . -type f | sort)
echo
echo "== descript.ion"
cat "$demo/descript.ion"
echo "== contents of bundle.7z"
7z l -ba "$demo/bundle.7z"
