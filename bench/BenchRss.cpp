// The RSS scanner (ParseRSSText, the whole of ParseRSS after the file read) and the info
// extractor's scan (ExtractItems, the whole of ParseData after the file read) against peers in
// the same run:
//  - ParseRSS on a generated RSS 2.0 feed of 100,000 items (about 50 MiB) and on half of it,
//    against Python's feedparser (/usr/bin/python3, the Debian package) on the same file;
//  - ParseRSSDeep on feeds of 500,000 and 1,000,000 unclosed <item> lines (linear in depth);
//  - ParseData on a generated 100 MiB page and on half of it, against `grep -o` with the
//    equivalent pattern on the same file.
// The peers run as child processes once per benchmark; their time is wall time of the parse
// alone (feedparser times itself; grep's start-up is negligible at this size).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "rtl/Classes.h"
#include "transfer/ktixtract.h"
#include "xml/KtIRSS.h"

using namespace ktinet;

namespace {

std::string Feed(int items) {
  std::string f =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
      "<channel>\n<title>Bench Feed</title>\n<link>http://bench.example.org/</link>\n"
      "<description>Generated for the scanner's benchmark</description>\n<language>en</language>\n";
  for (int i = 0; i < items; ++i) {
    const std::string n = std::to_string(i);
    f += "<item>\n<title>Item number " + n + " of the generated feed</title>\n<link>http://bench.example.org/items/" + n +
         ".html</link>\n<description>A description of item " + n +
         " long enough to resemble a real summary of an article: the harbour ferry changes its timetable, the "
         "market reopens after repairs, and the lifeboat crew is honoured for its service over the winter "
         "months. More text follows to make this a paragraph of realistic length for a news feed.</description>\n"
         "<pubDate>Mon, 07 Dec 2026 08:00:00 GMT</pubDate>\n<guid>http://bench.example.org/items/" + n +
         ".html</guid>\n<dc:creator>Author " + n + "</dc:creator>\n</item>\n";
  }
  return f + "</channel>\n</rss>\n";
}

std::string Page(size_t bytes) {
  std::string p;
  p.reserve(bytes + 512);
  for (size_t i = 0; p.size() < bytes; ++i) {
    const std::string n = std::to_string(i);
    p += "<p>Paragraph " + n + " with a <a href=\"http://site.example.org/page/" + n +
         ".html\">link</a>, a secure one https://secure.example.org/" + n +
         " and (http://paren.example.org/a,b) plus mail to mailto:someone" + n +
         "@example.org and some words that are not links at all, to pad the line.</p>\n";
  }
  return p;
}

std::string WriteTemp(const std::string& name, const std::string& bytes) {
  const char* env = std::getenv("TMPDIR");
  std::string path = std::string(env && *env ? env : "/tmp") + "/ktinet-bench-" + std::to_string(::getpid()) + "-" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

double RunSeconds(const std::string& command) {
  const auto t0 = std::chrono::steady_clock::now();
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return -1;
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  if (::pclose(p) != 0) return -1;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  // A peer that times itself prints "seconds=X" last.
  const size_t at = out.rfind("seconds=");
  return at == std::string::npos ? wall : std::atof(out.c_str() + at + 8);
}

void BM_ParseRSS(benchmark::State& state) {
  const std::string feed = Feed(static_cast<int>(state.range(0)));
  TKtIRSSChannels channels;
  for (auto _ : state) {
    ParseRSSText(feed, channels);
    benchmark::DoNotOptimize(channels.Count());
  }
  if (channels.Count() != 1 || channels.GetItem(0)->Items()->Count() != state.range(0))
    state.SkipWithError("wrong parse");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * feed.size()));
}
BENCHMARK(BM_ParseRSS)->Arg(50000)->Arg(100000)->Unit(benchmark::kMillisecond);

// A feed whose items are never closed: every item nests in the one before, so the path of open
// elements grows with the input. Twice the lines must take about twice the time.
std::string DeepFeed(int items) {
  std::string f = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\">\n<channel>\n<title>Deep</title>\n";
  for (int i = 0; i < items; ++i) f += "<item>\n";
  return f + "</rss>\n";
}

void BM_ParseRSSDeep(benchmark::State& state) {
  const std::string feed = DeepFeed(static_cast<int>(state.range(0)));
  TKtIRSSChannels channels;
  for (auto _ : state) {
    ParseRSSText(feed, channels);
    benchmark::DoNotOptimize(channels.Count());
  }
  if (channels.Count() != 1 || channels.GetItem(0)->Items()->Count() != state.range(0))
    state.SkipWithError("wrong parse");
  state.counters["lines"] = static_cast<double>(state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * feed.size()));
}
BENCHMARK(BM_ParseRSSDeep)->Arg(500000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_FeedparserPeer(benchmark::State& state) {
  const std::string feed = Feed(static_cast<int>(state.range(0)));
  const std::string file = WriteTemp("feed.xml", feed);
  const std::string cmd =
      "/usr/bin/python3 -c 'import sys, time, feedparser\n"
      "data = open(sys.argv[1], \"rb\").read()\nt = time.perf_counter()\nd = feedparser.parse(data)\n"
      "assert len(d.entries) == int(sys.argv[2])\nprint(\"seconds=%f\" % (time.perf_counter() - t))' " +
      file + " " + std::to_string(state.range(0));
  for (auto _ : state) {
    const double s = RunSeconds(cmd);
    if (s < 0) {
      state.SkipWithError("feedparser failed (apt-get install python3-feedparser)");
      break;
    }
    state.SetIterationTime(s);
  }
  ::unlink(file.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * feed.size()));
}
BENCHMARK(BM_FeedparserPeer)->Arg(100000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_ParseData(benchmark::State& state) {
  const std::string page = Page(static_cast<size_t>(state.range(0)) << 20);
  size_t found = 0;
  for (auto _ : state) {
    TStringList items;
    ExtractItems(page, "http://", &items);
    found = static_cast<size_t>(items.Count());
    benchmark::DoNotOptimize(found);
  }
  state.counters["items"] = static_cast<double>(found);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_ParseData)->Arg(50)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_GrepPeer(benchmark::State& state) {
  const std::string page = Page(static_cast<size_t>(state.range(0)) << 20);
  const std::string file = WriteTemp("page.html", page);
  // The extractor's terminators as a bracket expression; the output goes where ours goes: memory.
  const std::string cmd = "LC_ALL=C grep -o 'http://[^] \"#%<>[\\\\^`{|}~]*' " + file + " | wc -l";
  for (auto _ : state) {
    const double s = RunSeconds(cmd);
    if (s < 0) {
      state.SkipWithError("grep failed");
      break;
    }
    state.SetIterationTime(s);
  }
  ::unlink(file.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_GrepPeer)->Arg(100)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
