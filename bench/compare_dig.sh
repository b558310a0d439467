#!/usr/bin/env bash
# 10,000 A look-ups in a row against one dnsmasq on loopback: TKtDigResolver (bench_dig, UDP
# and TCP) next to dnspython's dns.query.udp/tcp loop, in one run. Prints wall and CPU time per
# look-up for each.
#
#   bench/compare_dig.sh [BENCH_BUILD_DIR]     (a build configured with -DKTINET_BENCH=ON)
set -euo pipefail

BUILD=${1:-build-bench}
BENCH=$BUILD/bench/bench_dig
[ -x "$BENCH" ] || { echo "no $BENCH (cmake --build $BUILD --target bench_dig)" >&2; exit 2; }
command -v dnsmasq >/dev/null || { echo "dnsmasq is needed" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/ktinet-dig-bench.XXXXXX")
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat >"$work/dnsmasq.conf" <<CONF
port=$port
listen-address=127.0.0.1
bind-interfaces
no-resolv
no-hosts
no-poll
log-facility=$work/log
address=/example.test/192.0.2.10
CONF
[ "$(id -u)" = 0 ] && printf 'user=root\ngroup=root\n' >>"$work/dnsmasq.conf"
dnsmasq -k --conf-file="$work/dnsmasq.conf" &
pid=$!
for _ in $(seq 50); do
  /usr/bin/python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2).close()" 2>/dev/null && break
  sleep 0.1
done

echo "== ktinet (TKtDigResolver)"
KTINET_DIG_BENCH_PORT=$port "$BENCH" --benchmark_counters_tabular=true

echo "== dnspython $(/usr/bin/python3 -c 'import dns.version; print(dns.version.version)')"
/usr/bin/python3 - "$port" <<'PY'
import sys, time, dns.message, dns.query
port = int(sys.argv[1])
for name, ask in (("udp", dns.query.udp), ("tcp", dns.query.tcp)):
    n = 10000
    wall, cpu = time.perf_counter(), time.process_time()
    for _ in range(n):
        q = dns.message.make_query("example.test", "A", use_edns=0, payload=1232)
        r = ask(q, "127.0.0.1", port=port, timeout=5)
        assert r.answer
    wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
    print("dnspython %s: %d look-ups, %.1f us wall and %.1f us CPU per look-up" % (name, n, wall / n * 1e6, cpu / n * 1e6))
PY
