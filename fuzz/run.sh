#!/bin/sh
# Builds the fuzzers with clang in build-fuzz and runs each one for a short,
# fixed time from its seed corpus in fuzz/corpus/<target>. New corpus inputs
# go to a temporary folder, never into the repository. Exits non-zero when any
# fuzzer finds something; the input that did it is kept under
# build-fuzz/fuzz-findings/<target>/.
#
#   fuzz/run.sh                       every target, 20 s each
#   FUZZ_SECONDS=600 fuzz/run.sh      longer
#   fuzz/run.sh screen_fuzz           one target
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${FUZZ_SECONDS:-20}
build=${FUZZ_BUILD:-$root/build-fuzz}
all="key_decoder_fuzz screen_fuzz text_value_fuzz loader_fuzz"
targets=${*:-$all}

cd "$root"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja \
  -DQ7T_FUZZ=ON -DQ7T_TESTS=OFF -DQ7T_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_all

work=$(mktemp -d "${TMPDIR:-/tmp}/q7t-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
status=0
for t in $targets; do
  mkdir -p "$work/$t/corpus" "$work/$t/findings"
  if "$build/bin/$t" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/$t/findings/" \
      "$work/$t/corpus" "fuzz/corpus/$t" >"$work/$t/log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t/log")
    echo "$t: ${seconds} s, ${runs:-?} runs, nothing found"
  else
    status=1
    keep="$build/fuzz-findings/$t"
    mkdir -p "$keep"
    cp "$work/$t/findings/"* "$keep/" 2>/dev/null || true
    cp "$work/$t/log" "$keep/log"
    echo "$t: FOUND SOMETHING (input and log kept in $keep)"
    grep -v '^#[0-9]' "$work/$t/log" | tail -n 40
  fi
done
exit $status
