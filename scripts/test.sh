#!/usr/bin/env bash
# Builds zavo and runs every test: the unit tests and the end-to-end tests,
# then the same again under AddressSanitizer and UndefinedBehaviorSanitizer,
# the jobs under ThreadSanitizer, then each fuzz target for a short time.
# Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=2
echo "== format and layers"
bash scripts/check-format.sh
cmake -DZAVO_SOURCE_DIR="$PWD" -P cmake/CheckLayers.cmake

echo "== build and test"
# Built as the package is (Release, the prefix /usr), so that the package
# below is made from this very build.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DZAVO_TESTS=ON -DZAVO_SANITIZE=OFF >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZAVO_SANITIZE=ON -DZAVO_TESTS=ON >/dev/null
cmake --build build-asan -j"$jobs"
# Under the sanitizers: the unit tests, and the end-to-end tests but those
# that spend their minutes waiting on other programs (a Slurm array, GNU
# parallel, sixty nested levels, runs killed and interrupted, archivers
# that fail on purpose) or that the ThreadSanitizer stage below runs. The
# tests that hand zavo hostile archives, names and trees all run here.
slow='test_cluster|test_run_safety|test_parallel|test_leftover_work_folders'
slow+='|test_reliability_faults|test_honest_reporting'
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs" -E "^($slow)\$")

echo "== jobs under ThreadSanitizer: the unit tests and the end-to-end tests that run jobs"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAVO_SANITIZE_THREAD=ON \
  -DZAVO_TESTS=ON >/dev/null
cmake --build build-tsan -j"$jobs"
# Any report fails the stage: the program ends with 66 and the test that ran
# it fails. ThreadSanitizer holds signals back until a blocking call
# returns, so the test of an interruption that must reach a waiting child
# is left to the other stages.
# scripts/tsan.supp holds the one report from inside glibc, and why.
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 suppressions=$PWD/scripts/tsan.supp"
build-tsan/zavo_test --gtest_brief=1 --gtest_filter=-ProcessDeathTest.*
# Two at a time, as ctest runs the others; any failure fails the stage.
printf '%s\n' test_parallel test_report test_shared_folders \
  test_leftover_work_folders test_fidelity test_startup test_user_interface |
  ZAVO_BINARY="$PWD/build-tsan/zavo" ZAVO_SOURCE_DIR="$PWD" \
    xargs -P "$jobs" -I{} python3 "tests/{}.py"
unset TSAN_OPTIONS

echo "== the Debian package: built, checked, unpacked and run"
bash scripts/check-package.sh build

if [[ -x scripts/test-win32.sh && "${ZAVO_SKIP_WIN32:-0}" != 1 ]]; then
  echo "== the Win32 build under Wine"
  bash scripts/test-win32.sh
fi

if [[ -x fuzz/run.sh ]]; then
  echo "== fuzz targets, briefly"
  bash fuzz/run.sh "${ZAVO_FUZZ_SECONDS:-5}"
fi
echo "== all tests passed"
