#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time and fails on any crash.
# Each target fuzz_X keeps its corpus in BUILD/fuzz/corpus/fuzz_X and starts from the seeds in
# fuzz/corpus/fuzz_X when present; a crashing input is saved under BUILD/fuzz/artifacts.
# fuzz/fuzz_X.flags, when present, holds more libFuzzer flags for that target on one line (for
# instance a -max_len that lets inputs grow large enough to reach deep nesting).
# Usage: bash fuzz/run.sh BUILD_DIR SECONDS
set -u
if [ $# -ne 2 ] || ! [[ $2 =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: bash fuzz/run.sh BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
if [ ! -d "$build/fuzz" ]; then
  echo "fuzz/run.sh: $build/fuzz does not exist (configure with clang and -DKTINET_FUZZ=ON, then build)" >&2
  exit 2
fi

failed=0
ran=0
for prog in "$build"/fuzz/fuzz_*; do
  [ -f "$prog" ] && [ -x "$prog" ] || continue
  name=$(basename "$prog")
  ran=$((ran + 1))
  corpus="$build/fuzz/corpus/$name"
  artifacts="$build/fuzz/artifacts"
  log="$build/fuzz/$name.log"
  mkdir -p "$corpus" "$artifacts"
  dirs=("$corpus")
  [ -d "$here/corpus/$name" ] && dirs+=("$here/corpus/$name")
  flags=()
  [ -f "$here/$name.flags" ] && read -r -a flags <"$here/$name.flags"
  # A hang counts as a failure too: no single input may take more than 25 seconds.
  "$prog" -max_total_time="$seconds" -timeout=25 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$name-" "${flags[@]}" "${dirs[@]}" >"$log" 2>&1
  rc=$?
  runs=$(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*')
  units=$(find "$corpus" -type f | wc -l)
  if [ $rc -eq 0 ]; then
    printf '%-24s ok      %s runs in %ss, coverage %s, corpus %s\n' "$name" "${runs:-?}" "$seconds" "${cov:-?}" "$units"
  else
    crash=$(ls -t "$artifacts/$name-"* 2>/dev/null | head -1)
    printf '%-24s FAILED  exit %s, input %s, log %s\n' "$name" "$rc" "${crash:-none}" "$log"
    grep -m3 -E 'ERROR: |SUMMARY: |runtime error' "$log" | sed 's/^/    /'
    failed=1
  fi
done
if [ "$ran" -eq 0 ]; then
  echo "fuzz/run.sh: no fuzz targets in $build/fuzz" >&2
  exit 1
fi
exit $failed
