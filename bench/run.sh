#!/usr/bin/env bash
# Runs every benchmark of a build: the programs bench_* in BUILD/bench and the comparison
# scripts bench/compare_*.sh (each given the build directory). Extra arguments go to the
# Google Benchmark programs (for example --benchmark_filter=Base64).
# Usage: bash bench/run.sh BUILD_DIR [BENCHMARK_ARGS...]
set -u
if [ $# -lt 1 ]; then
  echo "usage: bash bench/run.sh BUILD_DIR [BENCHMARK_ARGS...]" >&2
  exit 2
fi
build=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
if [ ! -d "$build/bench" ]; then
  echo "bench/run.sh: $build/bench does not exist (configure with -DKTINET_BENCH=ON and build first)" >&2
  exit 2
fi

failed=0
ran=0
echo "host: $(uname -srm), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
for prog in "$build"/bench/bench_*; do
  [ -f "$prog" ] && [ -x "$prog" ] || continue
  ran=$((ran + 1))
  echo
  echo "=== $(basename "$prog")"
  if ! "$prog" "$@"; then
    echo "bench/run.sh: $(basename "$prog") failed" >&2
    failed=1
  fi
done
for script in "$here"/compare_*.sh; do
  [ -f "$script" ] || continue
  ran=$((ran + 1))
  echo
  echo "=== $(basename "$script")"
  if ! bash "$script" "$build"; then
    echo "bench/run.sh: $(basename "$script") failed" >&2
    failed=1
  fi
done
if [ "$ran" -eq 0 ]; then
  echo "bench/run.sh: no benchmark programs in $build/bench" >&2
  exit 1
fi
exit $failed
