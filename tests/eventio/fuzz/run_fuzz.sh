#!/usr/bin/env bash
# Builds a small seed corpus with the tools and runs one fuzzer for a bounded
# number of inputs (RUNS) or time (FUZZ_SECONDS), whichever ends first; the
# defaults keep the run within CTest's budget.
#   run_fuzz.sh stream FUZZER KIVO-SIM KIVO-PACK WORKDIR   stream-reader seeds
#   run_fuzz.sh text   FUZZER KIVO-SIM KIVO-DUMP WORKDIR   text-form seeds
#   run_fuzz.sh follow FUZZER KIVO-SIM KIVO-PACK WORKDIR   followed-file scripts
# Longer runs: RUNS=-1 FUZZ_SECONDS=3600 run_fuzz.sh ... (see docs/stream-format.md).
set -euo pipefail
KIND=$1 FUZZER=$2 SIM=$3 TOOL=$4 WORK=$5
rm -rf "$WORK" && mkdir -p "$WORK/corpus" "$WORK/seeds"
C=$WORK/seeds
"$SIM" --events 2 --seed 1 --particles 1 --noise 1 --hot-pixels 0 -o "$C/sim"
"$SIM" --events 3 --seed 2 --particles 0 --noise 0 --hot-pixels 1 --missing-packet 0.5 --unmapped 1 \
  --end-run -o "$C/sim-sparse"
TEXT='run 1\nevent\nunit 3\nhit 1 1 2 3\nword 65535 65535 0xffffffff\nevent nopacket\ntype 5\nend 1\n'
DEFAULT_RUNS=200000 DEFAULT_SECONDS=15 MAX_LEN=2048
case $KIND in
  stream)
    printf "$TEXT" | "$TOOL" - "$C/text"
    head -c 40 "$C/sim" > "$C/cut"
    # A first byte 0xFF repeats the rest into a stream longer than the
    # reader's buffer compaction threshold.
    { printf '\377'; cat "$C/sim"; } > "$C/long"
    ;;
  follow)
    # Steps: 0/1 append bytes, 2 append a record (or one claiming too many
    # bytes), 3 grow the file past the compaction threshold, 4 cut back,
    # 5 replace, 6/7 read.
    rm "$C"/sim*
    printf '\002\000\001\007\011\003\004\006\002\000\000\001\002\003\000\006\003\020\006\007' > "$C/grow"
    printf '\002\000\001\007\011\001\000\006\004\040\002\000\002\003\004\005\006\005\040KIVOSTRMKEVT\006' > "$C/cut-replace"
    printf '\002\000\001\001\001\006\001\005KEVT\001\006\004\205\002\000\002\002\002\006' > "$C/cut-partial"
    printf '\002\000\001\001\001\002\003\001\001\001\002\000\001\001\001\006\006' > "$C/damaged-length"
    DEFAULT_RUNS=20000 MAX_LEN=512
    ;;
  text)
    for f in "$C"/sim*; do "$TOOL" "$f" "$f.txt"; rm "$f"; done
    printf "$TEXT" > "$C/text"
    printf 'event\nhit 1 2 3\n' > "$C/bad"
    DEFAULT_SECONDS=0
    ;;
  *) echo "run_fuzz.sh: unknown kind '$KIND'" >&2; exit 2 ;;
esac
exec "$FUZZER" "$WORK/corpus" "$C" -runs="${RUNS:-$DEFAULT_RUNS}" -max_len="$MAX_LEN" -max_total_time="${FUZZ_SECONDS:-$DEFAULT_SECONDS}" \
  -seed=1 -print_final_stats=1
