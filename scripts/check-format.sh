#!/usr/bin/env bash
# Fails when a C or C++ file of the tree is not as clang-format (with the
# tree's .clang-format) writes it, and names the files. One version of
# clang-format decides, since versions format differently.
#
#   scripts/check-format.sh        check
#   scripts/check-format.sh --fix  format the files in place
set -euo pipefail
cd "$(dirname "$0")/.."

format=clang-format-14
if ! command -v "$format" >/dev/null 2>&1; then
  echo "check-format: $format is missing (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

mapfile -t files < <(find src tests fuzz bench -type f \
  \( -name '*.cc' -o -name '*.h' -o -name '*.c' \) | LC_ALL=C sort)

if [[ "${1:-}" == --fix ]]; then
  "$format" -i "${files[@]}"
  exit 0
fi

bad=()
for f in "${files[@]}"; do
  if ! "$format" --dry-run --Werror "$f" >/dev/null 2>&1; then
    bad+=("$f")
  fi
done
if ((${#bad[@]})); then
  echo "check-format: not formatted (scripts/check-format.sh --fix):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"
