#!/usr/bin/env bash
# Demo: simulate a short test-beam run and show its first events in text form.
# Run from the repository root after the build (./run.sh demo).
set -euo pipefail
BIN=${KIVO_BIN:-build/bin}
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

"$BIN/kivo-sim" --events 2000 --seed 7 --missing-packet 0.01 --unmapped 0.05 --end-run -o "$OUT/run1.kivo"
echo "demo: wrote $(stat -c %s "$OUT/run1.kivo") bytes to a simulated run of 2000 events" >&2
"$BIN/kivo-dump" -n 3 "$OUT/run1.kivo"
