#!/bin/sh
# Runs the model parser fuzz target for a bounded time on a seed corpus of model prefixes.
#   run-model-parser-fuzz.sh FUZZER MAKE_TEST_MODEL WORKDIR SECONDS
# Exits 77 (skipped) when the fuzzer could not be built (no clang).
fuzzer=$1 maker=$2 work=$3 seconds=${4:-20}
if [ ! -x "$fuzzer" ]; then
  echo "model parser fuzzer not built (clang++ missing): skipped"
  exit 77
fi
set -e
rm -rf "$work"
mkdir -p "$work/corpus"
"$maker" --state 8 --heads 1 --layers 1 --mels 1 --ftype 1 -o "$work/model.bin"
for n in 4 40 60 900 1200 3000 8000; do
  head -c $n "$work/model.bin" > "$work/corpus/prefix-$n"
done
cd "$work"
"$fuzzer" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 corpus
