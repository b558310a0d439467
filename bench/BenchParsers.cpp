// Growth of every parser of outside input: each one runs on a generated input of size N and of
// size 2N, and the program ends with a table of the time at 2N over the time at N. A parser
// whose time grows linearly shows about 2.0; one that grows with the square of its input 4.0.
// The inputs are shaped as an attacker would shape them where that is the hard case (deep
// nesting, one huge section or group, many records in one message) and as real input otherwise.
//
// Times are CPU time per iteration (Google Benchmark's default), so load from other processes
// on the machine moves both sizes alike.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "design/KtInetR.h"
#include "mail/KtIMailAddr.h"
#include "platform/FtpList.h"
#include "platform/WinInet.h"
#include "protocols/KtIDNS.h"
#include "rtl/FormFiles.h"
#include "rtl/IniFiles.h"
#include "transfer/ktidirect.h"
#include "transfer/ktixtract.h"
#include "vcl/UiBackend.h"
#include "xml/KtIRSS.h"
#include "xml/KtInetXML.h"

using namespace ktinet;

namespace {

// ---- inputs --------------------------------------------------------------------------------

std::string XmlWide(int items) {
  std::string x = "<?xml version=\"1.0\"?>\n<catalog>\n";
  for (int i = 0; i < items; ++i) {
    const std::string n = std::to_string(i);
    x += "  <item id=\"" + n + "\" kind=\"part\"><name>Part " + n + " &amp; fitting</name><price>" + n +
         ".50</price><note>Shipped from stock &lt;2 days&gt;</note></item>\n";
  }
  return x + "</catalog>\n";
}

std::string XmlDeep(int depth) {
  std::string x = "<?xml version=\"1.0\"?>\n";
  for (int i = 0; i < depth; ++i) x += "<a n=\"" + std::to_string(i) + "\">";
  for (int i = 0; i < depth; ++i) x += "</a>";
  return x + "\n";
}

std::string RssFeed(int items) {
  std::string f = "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>Bench</title><link>http://b.example/</link>\n";
  for (int i = 0; i < items; ++i) {
    const std::string n = std::to_string(i);
    f += "<item><title>Item " + n + "</title><link>http://b.example/" + n + "</link><description>Text of item " + n +
         " with a few words.</description><pubDate>Mon, 07 Dec 2026 08:00:00 GMT</pubDate></item>\n";
  }
  return f + "</channel></rss>\n";
}

// Items opened and never closed: every tag lies one level deeper than the one before.
std::string RssUnclosed(int items) {
  std::string f = "<rss version=\"2.0\"><channel><title>Deep</title>\n";
  for (int i = 0; i < items; ++i) f += "<item><title>t" + std::to_string(i) + "</title>\n";
  return f;
}

// One group of `entries` news entries: the news browser's hard case is a long section.
std::string NewsFile(int entries, int skipEvery) {
  std::string f = "[News]\r\n";
  for (int i = 0; i < entries; ++i)
    if (skipEvery == 0 || i % skipEvery != 0)
      f += "https://news.example.org/items/" + std::to_string(i) + "=Entry number " + std::to_string(i) + "\r\n";
  return f;
}

std::string UnixListing(int lines) {
  std::string l;
  for (int i = 0; i < lines; ++i)
    l += std::string(i % 7 ? "-rw-r--r--" : "drwxr-xr-x") + "   1 ftp      ftp      " + std::to_string(1000 + i) +
         " Mar 10 12:34 file-" + std::to_string(i) + ".dat\r\n";
  return l;
}

std::string MlsdListing(int lines) {
  std::string l;
  for (int i = 0; i < lines; ++i)
    l += "type=file;size=" + std::to_string(1000 + i) + ";modify=20240310123456;unique=801U" + std::to_string(i) +
         "; file-" + std::to_string(i) + ".dat\r\n";
  return l;
}

void Put16(std::string& s, unsigned v) {
  s += static_cast<char>(v >> 8);
  s += static_cast<char>(v & 0xFF);
}

// One DNS answer of `records` A records, each owner name a pointer to the question's name.
std::string DnsMessage(int records) {
  std::string m;
  Put16(m, 0x1234);
  Put16(m, 0x8180);
  Put16(m, 1);
  Put16(m, static_cast<unsigned>(records));
  Put16(m, 0);
  Put16(m, 0);
  m += std::string("\x04mail\x07""example\x03org\x00", 18);
  Put16(m, 1);
  Put16(m, 1);
  for (int i = 0; i < records; ++i) {
    Put16(m, 0xC00C);
    Put16(m, 1);
    Put16(m, 1);
    m += std::string("\x00\x00\x0e\x10", 4);
    Put16(m, 4);
    m += static_cast<char>(10);
    m += static_cast<char>(i >> 16);
    m += static_cast<char>(i >> 8);
    m += static_cast<char>(i);
  }
  return m;
}

// A zone transfer as it arrives: `messages` framed messages of 100 records each.
std::string DnsTransfer(int messages) {
  const std::string one = DnsMessage(100);
  std::string t;
  for (int i = 0; i < messages; ++i) {
    Put16(t, static_cast<unsigned>(one.size()));
    t += one;
  }
  return t;
}

// `components` components side by side in one data module.
String FormFlat(int components) {
  std::string f = "object Bench: TDataModule\r\n";
  for (int i = 0; i < components; ++i)
    f += "  object WhoIs" + std::to_string(i) + ": TKtWhoIs\r\n    Domain = 'host" + std::to_string(i) +
         ".example.org'\r\n    Port = 43\r\n  end\r\n";
  return UTF8ToString(f + "end\r\n");
}

// `depth` objects each inside the one before.
String FormDeep(int depth) {
  std::string f = "object Bench: TDataModule\r\n";
  for (int i = 0; i < depth; ++i) f += "object D" + std::to_string(i) + ": TDataModule\r\n";
  for (int i = 0; i <= depth; ++i) f += "end\r\n";
  return UTF8ToString(f);
}

String IniText(int keys) {
  std::string t;
  for (int i = 0; i < keys; ++i) {
    if (i % 1000 == 0) t += "[Section" + std::to_string(i / 1000) + "]\r\n";
    t += "Key" + std::to_string(i) + " = value " + std::to_string(i) + "\r\n";
  }
  return UTF8ToString(t);
}

std::string Page(size_t bytes) {
  std::string p;
  for (size_t i = 0; p.size() < bytes; ++i) {
    const std::string n = std::to_string(i);
    p += "<p><a href=\"http://site.example.org/page/" + n + ".html\">link</a> and mailto:someone" + n +
         "@example.org among words.</p>\n";
  }
  return p;
}

String Addresses(int count) {
  std::string a;
  for (int i = 0; i < count; ++i)
    a += (i ? ", " : "") + std::string("\"Person ") + std::to_string(i) + ", Jr.\" <person" + std::to_string(i) +
         "@example.org>";
  return UTF8ToString(a);
}

std::string TempPath(const std::string& name) {
  const char* env = std::getenv("TMPDIR");
  return std::string(env && *env ? env : "/tmp") + "/ktinet-bench-" + std::to_string(::getpid()) + "-" + name;
}

// ---- benchmarks ----------------------------------------------------------------------------

void BM_XmlWide(benchmark::State& state) {
  const String doc = BytesToString(XmlWide(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    TKtXMLEngine engine(nullptr);
    engine.ParseXMLFromString(doc, static_cast<Integer>(doc.size()));
    benchmark::DoNotOptimize(engine.RootItem());
  }
}
BENCHMARK(BM_XmlWide)->Arg(20000)->Arg(40000)->Unit(benchmark::kMillisecond);

void BM_XmlDeep(benchmark::State& state) {
  const String doc = BytesToString(XmlDeep(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    TKtXMLEngine engine(nullptr);
    engine.ParseXMLFromString(doc, static_cast<Integer>(doc.size()));
    benchmark::DoNotOptimize(engine.RootItem());
  }
}
BENCHMARK(BM_XmlDeep)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);

void BM_RssFeed(benchmark::State& state) {
  const std::string feed = RssFeed(static_cast<int>(state.range(0)));
  TKtIRSSChannels channels;
  for (auto _ : state) {
    ParseRSSText(feed, channels);
    benchmark::DoNotOptimize(channels.Count());
  }
}
BENCHMARK(BM_RssFeed)->Arg(25000)->Arg(50000)->Unit(benchmark::kMillisecond);

void BM_RssUnclosed(benchmark::State& state) {
  const std::string feed = RssUnclosed(static_cast<int>(state.range(0)));
  TKtIRSSChannels channels;
  for (auto _ : state) {
    ParseRSSText(feed, channels);
    benchmark::DoNotOptimize(channels.Count());
  }
}
BENCHMARK(BM_RssUnclosed)->Arg(20000)->Arg(40000)->Unit(benchmark::kMillisecond);

// The news browser builds its dialog; this backend presents nothing and answers at once.
class QuietBackend : public UiBackend {
 public:
  const char* Name() const override { return "quiet"; }
  TModalResult ShowModal(TForm&) override { return mrCancel; }
  TModalResult MessageBox(const TMessageRequest& request) override { return UnattendedAnswer(request.Buttons); }
};

class TBenchDirect : public TKtWebDirect {
 public:
  using TKtWebDirect::TKtWebDirect;
  void SetNewsFile(const std::string& path) { FLocalFileName = UTF8ToString(path); }
};

// The tree from the news file, and from the file with its backup (one entry in five is new).
void NewsTree(benchmark::State& state, bool withBackup) {
  const int entries = static_cast<int>(state.range(0));
  const std::string file = TempPath("news.wdn"), backup = TempPath("news.~wdn");
  std::ofstream(file, std::ios::binary) << NewsFile(entries, 0);
  if (withBackup) std::ofstream(backup, std::ios::binary) << NewsFile(entries, 5);
  TBackendScope quiet(std::make_unique<QuietBackend>());
  TBenchDirect direct(nullptr);
  direct.SetNewsFile(file);
  int nodes = 0;
  for (auto _ : state) {
    direct.ShowModal();
    nodes = direct.Tree()->Items()->Count();
    Application->ProcessMessages();  // the closed dialog frees itself
  }
  if (nodes != entries + 1) state.SkipWithError("wrong tree");
  ::unlink(file.c_str());
  ::unlink(backup.c_str());
}
void BM_NewsFile(benchmark::State& state) { NewsTree(state, false); }
void BM_NewsFileWithBackup(benchmark::State& state) { NewsTree(state, true); }
BENCHMARK(BM_NewsFile)->Arg(20000)->Arg(40000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NewsFileWithBackup)->Arg(20000)->Arg(40000)->Unit(benchmark::kMillisecond);

void BM_FtpListUnix(benchmark::State& state) {
  const std::string text = UnixListing(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ParseFtpListing(text, false, 1710072000).size());
}
BENCHMARK(BM_FtpListUnix)->Arg(50000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_FtpListMlsd(benchmark::State& state) {
  const std::string text = MlsdListing(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ParseFtpListing(text, true, 1710072000).size());
}
BENCHMARK(BM_FtpListMlsd)->Arg(50000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_DnsMessage(benchmark::State& state) {
  const std::string message = DnsMessage(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(DecodeDNSMessage(message).Answers.size());
}
BENCHMARK(BM_DnsMessage)->Arg(2000)->Arg(4000)->Unit(benchmark::kMicrosecond);

void BM_DnsTransfer(benchmark::State& state) {
  const String answer = BytesToString(DnsTransfer(static_cast<int>(state.range(0))));
  for (auto _ : state) benchmark::DoNotOptimize(DecodeDNSAnswer(answer).size());
}
BENCHMARK(BM_DnsTransfer)->Arg(500)->Arg(1000)->Unit(benchmark::kMillisecond);

void RegisterOnce() {
  static const bool done = [] {
    Register();
    RegisterFormClasses();
    return true;
  }();
  (void)done;
}

void BM_FormFlat(benchmark::State& state) {
  RegisterOnce();
  const String text = FormFlat(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ReadComponentText(text)->ComponentCount());
}
BENCHMARK(BM_FormFlat)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_FormDeep(benchmark::State& state) {
  RegisterOnce();
  const String text = FormDeep(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ReadComponentText(text)->ComponentCount());
}
BENCHMARK(BM_FormDeep)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_IniFile(benchmark::State& state) {
  const String text = IniText(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    TIniFile ini(u"/nonexistent-ktinet-bench/bench.ini");
    ini.LoadFromText(text);
    TStringList sections, keys;
    ini.ReadSections(&sections);
    size_t total = 0;
    for (int s = 0; s < sections.Count(); ++s) {
      ini.ReadSection(sections[s], &keys);
      for (int k = 0; k < keys.Count(); ++k) total += ini.ReadString(sections[s], keys[k], String()).size();
    }
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_IniFile)->Arg(50000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_Extractor(benchmark::State& state) {
  const std::string page = Page(static_cast<size_t>(state.range(0)) << 20);
  for (auto _ : state) {
    TStringList items;
    ExtractItems(page, "http://", &items);
    ExtractItems(page, "mailto:", &items);
    benchmark::DoNotOptimize(items.Count());
  }
}
BENCHMARK(BM_Extractor)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);

void BM_MailAddresses(benchmark::State& state) {
  const String text = Addresses(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    TKtIEMailAddresses list;
    list.SetEMailAddresses(text);
    benchmark::DoNotOptimize(list.Count());
  }
}
BENCHMARK(BM_MailAddresses)->Arg(20000)->Arg(40000)->Unit(benchmark::kMillisecond);

// ---- the growth table ----------------------------------------------------------------------

// Prints the usual console table, then for every benchmark its time at the larger size over
// its time at the smaller one.
class GrowthReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    // With --benchmark_repetitions the median of the repetitions stands for the size.
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      if (r.run_type != Run::RT_Iteration && !median) continue;
      auto& bySize = FTimes[r.run_name.function_name];
      const double size = std::atof(r.run_name.args.c_str());
      if (median || !FMedian[r.run_name.function_name]) bySize[size] = r.GetAdjustedCPUTime();
      if (median) FMedian[r.run_name.function_name] = true;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-24s %12s %12s %8s\n", "parser", "N", "2N", "2N / N");
    for (const auto& [name, points] : FTimes) {
      if (points.size() < 2) continue;
      const auto& small = *points.begin();
      const auto& large = *points.rbegin();
      std::printf("%-24s %12.0f %12.0f %8.2f\n", name.c_str(), small.first, large.first, large.second / small.second);
    }
  }

 private:
  std::map<std::string, std::map<double, double>> FTimes;  // size -> CPU time
  std::map<std::string, bool> FMedian;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  GrowthReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
