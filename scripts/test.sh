#!/usr/bin/env bash
# Builds zavo and runs every test: the unit tests and the end-to-end tests,
# then the same again under AddressSanitizer and UndefinedBehaviorSanitizer,
# then each fuzz target for a short time. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=2
echo "== format and layers"
bash scripts/check-format.sh
cmake -DZAVO_SOURCE_DIR="$PWD" -P cmake/CheckLayers.cmake

echo "== build and test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAVO_TESTS=ON -DZAVO_SANITIZE=OFF >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZAVO_SANITIZE=ON -DZAVO_TESTS=ON >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs")

echo "== the Debian package: built, checked, unpacked and run"
bash scripts/check-package.sh build-deb

if [[ -x scripts/test-win32.sh && "${ZAVO_SKIP_WIN32:-0}" != 1 ]]; then
  echo "== the Win32 build under Wine"
  bash scripts/test-win32.sh
fi

if [[ -x fuzz/run.sh ]]; then
  echo "== fuzz targets, briefly"
  bash fuzz/run.sh "${ZAVO_FUZZ_SECONDS:-10}"
fi
echo "== all tests passed"
