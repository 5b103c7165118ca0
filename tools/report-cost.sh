#!/usr/bin/env bash
# Instructions per 64-byte report on the reading thread, counted by callgrind:
# the inclusive cost of THidProcessor::ReportReceived divided by its calls.
set -euo pipefail
exe=${1:?usage: report-cost.sh <path to report_cost> [reports]}
reports=${2:-100000}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
valgrind --tool=callgrind --callgrind-out-file="$out/cg.out" "$exe" "$reports" >/dev/null 2>&1
total=$(callgrind_annotate --inclusive=yes "$out/cg.out" 2>/dev/null |
        awk '/hidprocessor.cpp:THidProcessor::ReportReceived/ && !found { gsub(",", "", $1); print $1; found = 1 }')
if [ -z "$total" ]; then
  echo "report cost: THidProcessor::ReportReceived not found in the callgrind profile" >&2
  exit 1
fi
echo "instructions per 64-byte report on the reading thread: $((total / reports)) (callgrind, $reports reports)"
