// Look-ups in a row with TKtDigResolver against a name server on loopback (UDP, EDNS(0)). The
// server's port comes from KTINET_DIG_BENCH_PORT; bench/compare_dig.sh starts dnsmasq for it and
// runs dnspython's loop against the same server in the same run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "protocols/KtDigResolver.h"

namespace {

int Port() {
  const char* p = std::getenv("KTINET_DIG_BENCH_PORT");
  return p ? std::atoi(p) : 0;
}

void DigLookup(benchmark::State& state, bool tcp) {
  int port = Port();
  if (port <= 0) {
    state.SkipWithError("KTINET_DIG_BENCH_PORT is not set (run bench/compare_dig.sh)");
    return;
  }
  ktinet::TKtDigResolver dig;
  dig.SetServers({"127.0.0.1"});
  dig.SetPort(port);
  dig.SetForceTcp(tcp);
  for (auto _ : state) {
    ktinet::TDigMessage m = dig.Query("example.test", 1);
    if (m.Answers.empty()) {
      state.SkipWithError("no answer record");
      return;
    }
    benchmark::DoNotOptimize(m);
  }
}

}  // namespace

BENCHMARK_CAPTURE(DigLookup, udp, false)->Iterations(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DigLookup, tcp, true)->Iterations(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
