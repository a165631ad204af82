#!/usr/bin/env bash
# House rules that a grep can keep: no raw assert in library or tool code
# (broken preconditions go through the one reporting helper).
set -euo pipefail
cd "$(dirname "$0")/.."
if hits=$(git grep -n -E '(^|[^_[:alnum:]])assert[[:space:]]*\(' -- Src module platform tools include 2>/dev/null); then
  echo "Raw assert in library code (report through KORVAN_REPORT_BROKEN_PRECONDITION or the framework):" >&2
  echo "$hits" >&2
  exit 1
fi
