#!/usr/bin/env bash
# Downloads one large file from nginx on loopback with TKtWebUpdater (window off, OnProgress
# assigned: bench_download) and with `curl -s -o`, alternating, in one run. Prints the median wall
# time and the peak memory (max RSS) of each, and the ratio.
#
#   bench/compare_download.sh BUILD_DIR [MiB] [RUNS]
#
# BUILD_DIR is configured with -DKTINET_BENCH=ON and has bench/bench_download built. The file is
# random bytes served from the page cache; both clients write to the same file system.
set -euo pipefail
# Straight to the loopback server, whatever proxy the environment names.
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY

BUILD=${1:-build-bench}
MIB=${2:-1024}
RUNS=${3:-5}
DRIVER=$BUILD/bench/bench_download
[ -x "$DRIVER" ] || { echo "no $DRIVER (configure with -DKTINET_BENCH=ON and build bench_download)" >&2; exit 2; }
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
for c in "$ROOT/.cache/peers/root/usr/sbin/nginx" /usr/sbin/nginx "$(command -v nginx || true)"; do [ -x "$c" ] && NGINX=$c && break; done
[ -n "${NGINX:-}" ] || { echo "nginx is needed (scripts/install-deps --test)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/ktinet-bench-dl.XXXXXX")
cleanup() {
  [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
  sleep 0.2
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www"
head -c $((MIB * 1024 * 1024)) /dev/urandom >"$work/www/big.bin"
cat "$work/www/big.bin" >/dev/null
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
user_line=
[ "$(id -u)" = 0 ] && user_line="user root;"
cat >"$work/nginx.conf" <<CONF
$user_line
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/body;
  proxy_temp_path $work/proxy;
  fastcgi_temp_path $work/fastcgi;
  uwsgi_temp_path $work/uwsgi;
  scgi_temp_path $work/scgi;
  server { listen 127.0.0.1:$port; root $work/www; }
}
CONF
"$NGINX" -p "$work" -c "$work/nginx.conf"
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.05
done
url="http://127.0.0.1:$port/big.bin"

# One timed run of a client: prints "seconds maxrss_kib cpu_seconds"; the downloaded file is checked
# and removed. CPU time (user + system) is what load from other programs disturbs least.
measure() {
  rm -f "$work/out.bin"
  /usr/bin/time -f "%e %M %U %S" -o "$work/time" "$@" >"$work/stdout" 2>"$work/err" || {
    echo "client failed: $* ($(tail -1 "$work/err"))" >&2
    exit 1
  }
  cmp -s "$work/out.bin" "$work/www/big.bin" || { echo "client $1 wrote a different file" >&2; exit 1; }
  rm -f "$work/out.bin"
  awk '{printf "%s %s %.2f\n", $1, $2, $3 + $4}' "$work/time"
}

declare -a ours theirs ours_rss theirs_rss ours_cpu theirs_cpu
for i in $(seq "$RUNS"); do
  read -r t m c < <(measure "$DRIVER" "$url" "$work/out.bin")
  ours+=("$t"); ours_rss+=("$m"); ours_cpu+=("$c")
  read -r t m c < <(measure curl -s --noproxy '*' -o "$work/out.bin" "$url")
  theirs+=("$t"); theirs_rss+=("$m"); theirs_cpu+=("$c")
done

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
max() { printf '%s\n' "$@" | sort -g | tail -1; }
mo=$(median "${ours[@]}"); mc=$(median "${theirs[@]}")
echo "download of $MIB MiB from nginx on loopback, median of $RUNS runs (alternating)"
printf '  %-30s %7.2f s  %6.0f MiB/s  CPU %5.2f s  peak RSS %6d KiB\n' "TKtWebUpdater (bench_download)" "$mo" \
  "$(echo "$MIB / $mo" | bc -l)" "$(median "${ours_cpu[@]}")" "$(max "${ours_rss[@]}")"
printf '  %-30s %7.2f s  %6.0f MiB/s  CPU %5.2f s  peak RSS %6d KiB\n' "curl -s -o" "$mc" "$(echo "$MIB / $mc" | bc -l)" \
  "$(median "${theirs_cpu[@]}")" "$(max "${theirs_rss[@]}")"
printf '  ratio (TKtWebUpdater / curl): %.2fx\n' "$(echo "$mo / $mc" | bc -l)"
echo "  all runs: ours ${ours[*]} | curl ${theirs[*]}"
