#!/usr/bin/env bash
# Demo: simulate a test-beam run, monitor it in batch mode and leave the results
# in demo/: the stream, every histogram as ROOT JSON, a picture of the
# monitoring canvas and the data-quality verdicts; then a second run with a
# dead chip to follow live. The mask files go to the build's mask directory.
# Run from the repository root after the build (./run.sh demo).
set -euo pipefail
BIN=${KIVO_BIN:-build/bin}
DEMO=demo
EVENTS=20000
mkdir -p "$DEMO"

say() { printf 'demo: %s\n' "$*" >&2; }

say "simulating run 1: $EVENTS events, beam on chip 4 of every stave, 3 hot pixels per stave"
"$BIN/kivo-sim" --events "$EVENTS" --run 1 --seed 7 \
  --beam-col 4608 --beam-row 256 --beam-sigma-col 300 --beam-sigma-row 80 --particles 2 --noise 0.1 \
  --hot-pixels 3 --hot-probability 0.05 --missing-packet 0.01 --end-run -o "$DEMO/run.kevt"

# The host runs -e commands before it processes the remaining events, so run()
# comes first; OM() then draws the canvas from the whole run.
say "monitoring $DEMO/run.kevt in batch mode, judging its data quality every 5000 events"
"$BIN/kivo" -b -q \
  -e 'set_refresh(5000)' \
  -e 'run()' \
  -e 'OM()' \
  -e 'print_status()' \
  -e 'process_histos()' \
  -e 'mask_pixels()' \
  -e 'quality()' \
  -e "save(\"$DEMO/histos.json\")" \
  --quality-log "$DEMO/quality.log" \
  --snapshot "$DEMO/canvas.png" \
  "$DEMO/run.kevt"

say "simulating run 2: the same beam, chip 5 of stave 2 dead from event 3000 on"
"$BIN/kivo-sim" --events "$EVENTS" --run 2 --seed 8 \
  --beam-col 4608 --beam-row 256 --beam-sigma-col 300 --beam-sigma-row 80 --particles 2 --noise 0.1 \
  --hot-pixels 3 --hot-probability 0.05 --missing-packet 0.01 --dead-chip 2:5 --faults-from 3000 \
  --end-run -o "$DEMO/dead-chip.kevt"

say "wrote $DEMO/run.kevt, $DEMO/histos.json (histograms, graphs, canvas, verdicts and trends as ROOT JSON),"
say "  $DEMO/canvas.png, $DEMO/quality.log (verdict changes) and $DEMO/dead-chip.kevt"
say "to watch it live: $BIN/kivo -e 'set_refresh(1000)' $DEMO/run.kevt"
say "  then open the address it prints (http://127.0.0.1:8080/); OM() at its prompt redraws, .q quits"
say "to see a dead chip found: $BIN/kivo -e 'set_refresh(1000)' --quality-log $DEMO/quality.log \\"
say "  --on-bad 'echo ALARM: \$KIVO_REASON' -e 'follow(\"$DEMO/dead-chip.kevt\")'; quality() at its prompt"
