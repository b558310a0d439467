#!/usr/bin/env bash
# A 256 MiB answer read by TKtInetBase::Execute (through `ktinet query`, output to /dev/null)
# against socat and nc reading the same loopback server's answer into /dev/null, in one run.
# Prints wall time (median of RUNS) and peak memory (max RSS) of each reader.
#
#   bench/compare_socket_read.sh [BUILD_DIR or path/to/ktinet] [MiB] [RUNS]
#
# The server is socat sending a file from the page cache and closing; every reader connects,
# says nothing and reads until the close, so each pays the same server cost.
set -euo pipefail

KTINET=${1:-build}
[ -d "$KTINET" ] && KTINET=$KTINET/ktinet
MIB=${2:-256}
RUNS=${3:-5}
command -v socat >/dev/null || { echo "socat is needed" >&2; exit 2; }
[ -x "$KTINET" ] || { echo "no ktinet program at $KTINET (build it first)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/ktinet-bench.XXXXXX")
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

head -c $((MIB * 1024 * 1024)) /dev/urandom >"$work/answer.bin"
cat "$work/answer.bin" >/dev/null  # into the page cache

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
# The file is opened anew for every connection (listening address first, data flowing back).
socat -b 262144 -U "TCP-LISTEN:$port,bind=127.0.0.1,reuseaddr,fork" "FILE:$work/answer.bin" 2>"$work/server.log" &
server_pid=$!
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.05
done
sleep 0.2

# One timed run: prints "seconds maxrss_kib".
measure() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
    echo "reader failed: $* ($(tail -1 "$work/err"))" >&2
    exit 1
  }
  cat "$work/time"
}

declare -A wall rss
readers=(ktinet socat nc)
# The fill floor perturbs the others (it leaves memory fragmented for the huge pages the next
# reader asks for), so it runs only on request.
if [ "${WITH_TOUCH:-0}" = 1 ]; then readers+=(touch); fi
run_reader() {
  case $1 in
    ktinet) measure "$KTINET" query 127.0.0.1 "$port" ;;
    socat) measure socat -b 16386 -u "TCP:127.0.0.1:$port" OPEN:/dev/null ;;
    nc) measure nc -d 127.0.0.1 "$port" ;;
    # Not a reader: the cost of filling fresh memory of the final text's size (two bytes per
    # answer byte) once, which any reader that keeps the answer as text has to pay.
    touch) measure dd if=/dev/zero of=/dev/null bs=$((2 * MIB))M count=1 ;;
  esac
}

# Interleaved runs so that any drift of the machine hits every reader alike.
for ((i = 0; i < RUNS; i++)); do
  for r in "${readers[@]}"; do
    read -r s m < <(run_reader "$r")
    wall[$r]+="$s "
    rss[$r]+="$m "
  done
done

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
maxof() { tr ' ' '\n' | grep -v '^$' | sort -g | tail -1; }

printf "answer: %d MiB, %d runs each, median wall time, largest peak memory\n" "$MIB" "$RUNS"
base=$(echo "${wall[socat]}" | median)
for r in "${readers[@]}"; do
  w=$(echo "${wall[$r]}" | median)
  label=$r
  [ "$r" = touch ] && label="touch*"
  m=$(echo "${rss[$r]}" | maxof)
  awk -v r="$label" -v w="$w" -v b="$base" -v m="$m" -v mib="$MIB" 'BEGIN {
    printf "%-8s %6.2f s  %5.2fx socat  peak %7.1f MiB  (%.2fx the answer)\n", r, w, (b > 0 ? w / b : 0), m / 1024, m / 1024 / mib }'
done
if [ "${WITH_TOUCH:-0}" = 1 ]; then
  echo "* touch: dd filling one fresh buffer of the text's size; not a reader, a floor for one."
fi
