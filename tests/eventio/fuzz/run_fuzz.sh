#!/usr/bin/env bash
# Builds a small seed corpus with the tools and runs one fuzzer for a bounded
# number of inputs.
#   run_fuzz.sh stream FUZZER KIVO-SIM KIVO-PACK WORKDIR   stream-reader seeds
#   run_fuzz.sh text   FUZZER KIVO-SIM KIVO-DUMP WORKDIR   text-form seeds
set -euo pipefail
KIND=$1 FUZZER=$2 SIM=$3 TOOL=$4 WORK=$5
rm -rf "$WORK" && mkdir -p "$WORK/corpus" "$WORK/seeds"
C=$WORK/seeds
"$SIM" --events 2 --seed 1 --particles 1 --noise 1 --hot-pixels 0 -o "$C/sim"
"$SIM" --events 3 --seed 2 --particles 0 --noise 0 --hot-pixels 1 --missing-packet 0.5 --unmapped 1 \
  --end-run -o "$C/sim-sparse"
TEXT='run 1\nevent\nunit 3\nhit 1 1 2 3\nword 65535 65535 0xffffffff\nevent nopacket\ntype 5\nend 1\n'
case $KIND in
  stream)
    printf "$TEXT" | "$TOOL" - "$C/text"
    head -c 40 "$C/sim" > "$C/cut"
    ;;
  text)
    for f in "$C"/sim*; do "$TOOL" "$f" "$f.txt"; rm "$f"; done
    printf "$TEXT" > "$C/text"
    printf 'event\nhit 1 2 3\n' > "$C/bad"
    ;;
  *) echo "run_fuzz.sh: unknown kind '$KIND'" >&2; exit 2 ;;
esac
exec "$FUZZER" "$WORK/corpus" "$C" -runs=200000 -max_len=2048 -seed=1 -print_final_stats=1
