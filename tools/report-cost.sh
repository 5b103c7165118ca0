#!/usr/bin/env bash
# Instructions per 64-byte report on the reading thread, counted by callgrind, once with
# the fold the processor selects and once with the table fold forced: the inclusive cost
# of what the port's received-data event runs (DeliverReport) divided by its calls.
set -euo pipefail
exe=${1:?usage: report-cost.sh <path to report_cost> [reports]}
reports=${2:-100000}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for fold in auto table; do
  valgrind --tool=callgrind --callgrind-out-file="$out/cg.$fold" "$exe" "$reports" "$fold" >"$out/run.$fold" 2>&1 || {
    echo "report cost: report_cost failed under callgrind ($fold fold)" >&2
    cat "$out/run.$fold" >&2
    exit 1
  }
  path=$(sed -n 's/.* reports, \(.*\) fold, .*/\1/p' "$out/run.$fold")
  total=$(callgrind_annotate --inclusive=yes "$out/cg.$fold" 2>/dev/null |
          awk '/:DeliverReport\(/ && /\[/ && !found { gsub(",", "", $1); print $1; found = 1 }')
  if [ -z "$total" ]; then
    echo "report cost: DeliverReport not found in the callgrind profile" >&2
    exit 1
  fi
  echo "instructions per 64-byte report on the reading thread: $((total / reports)) ($path fold, callgrind, $reports reports)"
done
