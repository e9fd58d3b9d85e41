#!/bin/bash
# Builds the fuzz targets with clang and runs each for SECONDS (default 60),
# starting from the seeds in fuzz/corpus. New inputs go to a scratch corpus
# outside the work tree; a crash or failed property leaves its input in the
# current folder as crash-* and makes this script fail.
#
#   fuzz/run.sh [SECONDS] [TARGET...]
#
# targets: macro_engine settings_file sectioned_file file_list ident
#          text_number
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
seconds=${1:-60}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(macro_engine settings_file sectioned_file file_list ident text_number)
fi

build="$root/build-fuzz"
cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j2 >/dev/null

# Targets that write their input to a file run fifty times faster on a
# memory file system than on a disk; their scratch files go there too, so
# that nothing is left behind.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  scratch=$(mktemp -d -p /dev/shm)
else
  scratch=$(mktemp -d)
fi
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/tmp"
export TMPDIR="$scratch/tmp"
status=0
for t in "${targets[@]}"; do
  mkdir -p "$scratch/$t"
  cp "$here/corpus/$t/"* "$scratch/$t/"
  echo "fuzzing $t for ${seconds}s"
  dict=()
  if [ -f "$here/$t.dict" ]; then dict=(-dict="$here/$t.dict"); fi
  if ! "$build/${t}_fuzzer" "$scratch/$t" "${dict[@]}" \
      -max_len=2048 -max_total_time="$seconds" -print_final_stats=1 \
      >"$scratch/$t.log" 2>&1; then
    echo "$t FAILED:"
    grep -E "property failed|ERROR|SUMMARY" "$scratch/$t.log" | head -5
    status=1
  else
    grep -E "^Done|stat::number_of_executed_units" "$scratch/$t.log" | head -1
  fi
done
exit $status
