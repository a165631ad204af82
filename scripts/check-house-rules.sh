#!/usr/bin/env bash
# House rules that a script can keep: no raw assert in library or tool code
# (broken preconditions go through the one reporting helper), and every C++
# file laid out by clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."
if hits=$(git grep -n -E '(^|[^_[:alnum:]])assert[[:space:]]*\(' -- Src module platform tools include 2>/dev/null); then
  echo "Raw assert in library code (report through KORVAN_REPORT_BROKEN_PRECONDITION or the framework):" >&2
  echo "$hits" >&2
  exit 1
fi
# Every tracked C++ file as .clang-format lays it out.
unformatted=()
while IFS= read -r file; do
  clang-format "$file" | cmp -s - "$file" || unformatted+=("$file")
done < <(git ls-files -- '*.cpp' '*.h' '*.c')
if [ ${#unformatted[@]} -ne 0 ]; then
  echo "Not laid out as .clang-format says (run clang-format -i on them):" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  exit 1
fi
