#!/usr/bin/env bash
# The XML engine's parse against pugixml's on the generated documents of bench_xml, measured
# two ways that a shared, noisy machine disturbs less than bench_xml's separate runs:
#
#   bench/compare_xml_speed.sh [BUILD_DIR] [MIB] [ROUNDS]
#
#  - time: ROUNDS rounds (default 40) of one TKtXMLEngine::LoadFromStream and one pugixml
#    load_buffer of the same MIB-mebibyte document (default 4), alternating which goes first,
#    each freed before the next; the minimum and median of each and their ratios. Warm: the
#    allocator keeps freed memory, as in bench_xml's warm cases.
#  - instructions (when valgrind is installed): one parse of a 2 MiB document by each, counted
#    by callgrind (inclusive), which no load on the machine changes.
#
# BUILD_DIR is a Release build with the static library (default build-bench, as `make bench`
# makes it); pugixml's headers and library must be installed (libpugixml-dev).
set -euo pipefail

BUILD=${1:-build-bench}
MIB=${2:-4}
ROUNDS=${3:-40}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
lib=$BUILD/libktinet.a
[ -f "$lib" ] || { echo "no static library at $lib (build it first: make bench)" >&2; exit 2; }
[ -f /usr/include/pugixml.hpp ] || { echo "pugixml's headers are needed (libpugixml-dev)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/ktinet-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

cat >"$work/compare.cpp" <<'EOF'
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "XmlDocuments.h"
#include "rtl/Streams.h"
#include "xml/KtInetXML.h"

using namespace ktinet;

namespace {
double Now() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
double Ours(TMemoryStream& stream) {
  auto engine = std::make_unique<TKtXMLEngine>(nullptr);
  stream.SetPosition(0);
  double t = Now();
  engine->LoadFromStream(0, &stream);
  t = Now() - t;
  if (engine->RootItem()->Items()->Count() == 0) std::abort();
  return t;
}
double Theirs(const std::string& doc) {
  auto tree = std::make_unique<pugi::xml_document>();
  double t = Now();
  if (!tree->load_buffer(doc.data(), doc.size())) std::abort();
  return t = Now() - t;
}
}  // namespace

// compare time|ktinet|pugixml nested|service MIB [ROUNDS]
int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const std::string what = argv[1];
  const bool nested = std::strcmp(argv[2], "nested") == 0;
  const auto size = static_cast<std::size_t>(std::atof(argv[3]) * 1048576);
  const int rounds = argc > 4 ? std::atoi(argv[4]) : 40;
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_TOP_PAD, 64 << 20);
  const std::string doc = nested ? NestedDocument(size) : ServiceDocument(size);
  TMemoryStream stream;
  stream.Write(doc.data(), static_cast<long>(doc.size()));
  if (what == "ktinet") return Ours(stream) < 0;
  if (what == "pugixml") return Theirs(doc) < 0;
  Ours(stream);  // warm-up of both
  Theirs(doc);
  std::vector<double> a, b;
  for (int r = 0; r < rounds; ++r) {
    if (r % 2) {
      a.push_back(Ours(stream));
      b.push_back(Theirs(doc));
    } else {
      b.push_back(Theirs(doc));
      a.push_back(Ours(stream));
    }
  }
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  const double am = a[a.size() / 2], bm = b[b.size() / 2];
  std::printf("%-8s %5.1f MiB  ktinet min %7.2f med %7.2f ms  pugixml min %7.2f med %7.2f ms  ratio %.2fx / %.2fx\n",
              argv[2], static_cast<double>(doc.size()) / 1048576, a[0], am, b[0], bm, a[0] / b[0], am / bm);
}
EOF
g++ -O3 -DNDEBUG -std=c++20 -I"$here" -I"$root/src" -o "$work/compare" "$work/compare.cpp" "$lib" -lpugixml -lpthread

echo "time ($ROUNDS interleaved rounds, warm; load average $(cut -d' ' -f1-3 /proc/loadavg)):"
for doc in nested service; do "$work/compare" time "$doc" "$MIB" "$ROUNDS"; done

if command -v valgrind >/dev/null && command -v callgrind_annotate >/dev/null; then
  echo "instructions of one parse of a 2 MiB document (callgrind, inclusive):"
  for doc in nested service; do
    line="$doc"
    for parser in ktinet pugixml; do
      valgrind --tool=callgrind --callgrind-out-file="$work/cg" "$work/compare" "$parser" "$doc" 2 >/dev/null 2>&1
      if [ "$parser" = ktinet ]; then pattern='TKtXMLEngine::LoadFromStream'; else pattern='xml_document::load_buffer'; fi
      count=$(callgrind_annotate --inclusive=yes "$work/cg" 2>/dev/null | grep -m1 "$pattern" | awk '{gsub(",", "", $1); print $1}')
      line="$line  $parser ${count:-?}"
      eval "$parser=${count:-0}"
    done
    # shellcheck disable=SC2154  # set by the eval above
    echo "$line  ratio $(awk -v a="$ktinet" -v b="$pugixml" 'BEGIN { if (b > 0) printf "%.2fx", a / b; else print "?" }')"
  done
fi
