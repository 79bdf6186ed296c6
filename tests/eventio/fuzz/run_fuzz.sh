#!/usr/bin/env bash
# Builds a small seed corpus from the tools and runs the stream-reader fuzzer
# for a bounded number of inputs. Arguments: fuzzer kivo-sim kivo-pack workdir
set -euo pipefail
FUZZER=$1 SIM=$2 PACK=$3 WORK=$4
rm -rf "$WORK" && mkdir -p "$WORK/corpus"
"$SIM" --events 2 --seed 1 --particles 1 --noise 1 --hot-pixels 0 -o "$WORK/corpus/sim"
"$SIM" --events 3 --seed 2 --particles 0 --noise 0 --hot-pixels 1 --missing-packet 0.5 --unmapped 1 --end-run \
  -o "$WORK/corpus/sim-sparse"
printf 'run 1\nevent\nunit 3\nhit 1 1 2 3\nword 65535 65535 0xffffffff\nevent nopacket\ntype 5\nend 1\n' \
  | "$PACK" - "$WORK/corpus/text"
head -c 40 "$WORK/corpus/sim" > "$WORK/corpus/cut"
exec "$FUZZER" "$WORK/corpus" -runs=200000 -max_len=2048 -seed=1 -print_final_stats=1
