#!/usr/bin/env bash
# Peak memory (max RSS, /usr/bin/time) of `ktinet xml` reading a large document against a
# small program that loads the same file with pugixml and walks its tree.
#
#   bench/compare_xml_memory.sh [BUILD_DIR or path/to/ktinet] [MB]
#
# Two documents of MB megabytes (default 85): "nested" (elements with attributes and texts
# with entities) and "service" (many small elements, the shape of a long tracking answer).
# `ktinet xml FILE` prints the whole tree (to /dev/null); `ktinet xml --find NAME` with a name
# the document lacks parses and searches the whole tree without printing, which is the figure
# to set beside the loader's.
set -euo pipefail

KTINET=${1:-build}
[ -d "$KTINET" ] && KTINET=$KTINET/ktinet
MB=${2:-85}
[ -x "$KTINET" ] || { echo "no ktinet program at $KTINET (build it first)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/ktinet-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

cat >"$work/load.cpp" <<'EOF'
#include <cstdio>
#include <pugixml.hpp>
int main(int argc, char** argv) {
  if (argc < 2) return 2;
  pugi::xml_document doc;
  if (!doc.load_file(argv[1])) return 1;
  long nodes = 0;
  struct Count : pugi::xml_tree_walker {
    long* n;
    bool for_each(pugi::xml_node&) override { ++*n; return true; }
  } walker;
  walker.n = &nodes;
  doc.traverse(walker);
  std::printf("%ld nodes\n", nodes);
}
EOF
g++ -O2 -o "$work/pugixml_load" "$work/load.cpp" -lpugixml

python3 - "$work" "$MB" <<'EOF'
import random, sys
work, mb = sys.argv[1], int(sys.argv[2])
size = mb * 1000 * 1000
rng = random.Random(7)
words = ["alpha", "beta", "gamma", "delta", "ship", "parcel", "route", "depot", "scan", "north"]
parts = ['<?xml version="1.0" encoding="utf-8"?>\n<catalog generated="2026-12-07">\n']
n = len(parts[0]); section = item = 0
while n < size:
    section += 1
    block = ['  <section id="s%d" kind="%s">\n' % (section, rng.choice(words))]
    for _ in range(20):
        item += 1
        block.append('    <item id="i%d" price="%d.50" currency="EUR">\n      <title lang="en">%s &amp; %s</title>\n'
                     '      <desc>Text &lt;b&gt;with&lt;/b&gt; entities &quot;%s&quot; and 20&#176;C</desc>\n'
                     '      <tags><tag n="1">%s</tag><tag n="2">%s</tag></tags>\n'
                     '      <stock><depot code="D%d"><count>%d</count></depot></stock>\n    </item>\n'
                     % (item, rng.randrange(10000), rng.choice(words), rng.choice(words), rng.choice(words),
                        rng.choice(words), rng.choice(words), rng.randrange(100), rng.randrange(500)))
    block.append('  </section>\n')
    text = ''.join(block); parts.append(text); n += len(text)
parts.append('</catalog>\n')
open(work + '/nested.xml', 'w').write(''.join(parts))
cities = ["LOS ANGELES", "MUENCHEN", "KOELN", "NEW YORK", "LOUISVILLE", "PARIS", "MADRID"]
parts = ['<?xml version="1.0" encoding="UTF-8"?>\n<TrackResponse><Response><ResponseStatusCode>1</ResponseStatusCode>'
         '<ResponseStatusDescription>Success</ResponseStatusDescription></Response><Shipment><Package>'
         '<TrackingNumber>1Z12345E0291980793</TrackingNumber>\n']
n = len(parts[0])
while n < size:
    text = ('<Activity><ActivityLocation><Address><City>%s</City><StateProvinceCode>CA</StateProvinceCode>'
            '<CountryCode>US</CountryCode></Address><Code>ML</Code><Description>FRONT DOOR</Description>'
            '</ActivityLocation><Status><StatusType><Code>I</Code><Description>ARRIVAL SCAN</Description>'
            '</StatusType><StatusCode><Code>AR</Code></StatusCode></Status><Date>201005%d</Date>'
            '<Time>%d</Time></Activity>\n' % (rng.choice(cities), 10 + rng.randrange(20), 100000 + rng.randrange(100000)))
    parts.append(text); n += len(text)
parts.append('</Package></Shipment></TrackResponse>\n')
open(work + '/service.xml', 'w').write(''.join(parts))
EOF

# Max RSS in MiB; a search that finds nothing exits 1, which is expected here.
peak() {
  /usr/bin/time -f '%M' -o "$work/rss" "$@" >/dev/null 2>&1 || true
  echo $(($(tail -n 1 "$work/rss") / 1024))
}
printf '%-8s %10s %22s %26s %20s %8s\n' doc "size MB" "ktinet xml (print) MiB" "ktinet xml --find MiB" "pugixml load MiB" ratio
for doc in nested service; do
  f=$work/$doc.xml
  size=$(($(stat -c %s "$f") / 1000000))
  print=$(peak "$KTINET" xml "$f")
  find=$(peak "$KTINET" xml --find NoSuchName "$f")
  pugi=$(peak "$work/pugixml_load" "$f")
  printf '%-8s %10s %22s %26s %20s %8s\n' "$doc" "$size" "$print" "$find" "$pugi" \
    "$(awk -v a="$find" -v b="$pugi" 'BEGIN { printf "%.2fx", a / b }')"
done
