// TKtXMLEngine::LoadFromStream against libxml2 (xmlReadMemory, building its tree) and pugixml
// (load_buffer) on the same generated documents of about 50 MiB, in the same run:
//  - "nested": elements nested a few levels with attributes and text values with entities;
//  - "service": a long tracking answer of many small elements.
// Each at full and half size, to show that doubling the input at most doubles time and memory.
// "Warm" parses after a warm-up parse with the allocator told to keep freed memory, so the
// pages are already mapped; "Cold" hands all free memory back to the system before every
// parse, so the parse pays for fresh pages. Memory is counted by wrapping malloc: the peak
// bytes in use while parsing (input copies included) and what the finished tree keeps.
// "Free" times freeing the finished tree alone.
// Also a chain of 500,000 and 1,000,000 nested elements (time linear in depth), and GetTagValue
// on a 1 MiB value holding 100,000 entities.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <pugixml.hpp>
#include <random>
#include <string>

#include "XmlDocuments.h"
#include "rtl/Streams.h"
#include "xml/KtInetXML.h"

using namespace ktinet;

// ---- Counting allocator ---------------------------------------------------------------------

extern "C" {
void* __libc_malloc(size_t);
void __libc_free(void*);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
}

namespace {
bool gCounting = false;
long long gInUse = 0, gPeak = 0;

inline void Added(void* p) {
  if (gCounting && p) {
    gInUse += static_cast<long long>(malloc_usable_size(p));
    if (gInUse > gPeak) gPeak = gInUse;
  }
}
inline void Removing(void* p) {
  if (gCounting && p) gInUse -= static_cast<long long>(malloc_usable_size(p));
}
}  // namespace

extern "C" {
void* malloc(size_t n) {
  void* p = __libc_malloc(n);
  Added(p);
  return p;
}
void free(void* p) {
  Removing(p);
  __libc_free(p);
}
void* calloc(size_t a, size_t b) {
  void* p = __libc_calloc(a, b);
  Added(p);
  return p;
}
void* realloc(void* old, size_t n) {
  Removing(old);
  void* p = __libc_realloc(old, n);
  Added(p ? p : (n ? old : nullptr));
  return p;
}
void* aligned_alloc(size_t align, size_t n) {
  void* p = __libc_memalign(align, n);
  Added(p);
  return p;
}
void* memalign(size_t align, size_t n) {
  void* p = __libc_memalign(align, n);
  Added(p);
  return p;
}
int posix_memalign(void** out, size_t align, size_t n) {
  void* p = __libc_memalign(align, n);
  if (!p) return ENOMEM;
  Added(p);
  *out = p;
  return 0;
}
}

namespace {

// ---- Documents ------------------------------------------------------------------------------

constexpr size_t kFull = 50u << 20;

const std::string& Document(int which, bool half) {
  static const std::string docs[4] = {NestedDocument(kFull), NestedDocument(kFull / 2), ServiceDocument(kFull),
                                      ServiceDocument(kFull / 2)};
  return docs[which * 2 + (half ? 1 : 0)];
}

// ---- The three parsers ----------------------------------------------------------------------

struct Ours {
  std::unique_ptr<TKtXMLEngine> engine;
  TMemoryStream stream;
  explicit Ours(const std::string& doc) { stream.Write(doc.data(), static_cast<long>(doc.size())); }
  void Parse() {
    engine = std::make_unique<TKtXMLEngine>(nullptr);
    stream.SetPosition(0);
    engine->LoadFromStream(0, &stream);
    if (engine->RootItem()->Items()->Count() == 0) std::abort();
  }
  void Free() { engine.reset(); }
};

struct Libxml2 {
  const std::string& doc;
  xmlDoc* tree = nullptr;
  explicit Libxml2(const std::string& d) : doc(d) {}
  void Parse() {
    tree = xmlReadMemory(doc.data(), static_cast<int>(doc.size()), "bench.xml", nullptr, XML_PARSE_NONET | XML_PARSE_HUGE);
    if (!tree) std::abort();
  }
  void Free() {
    xmlFreeDoc(tree);
    tree = nullptr;
  }
};

struct Pugixml {
  const std::string& doc;
  std::unique_ptr<pugi::xml_document> tree;
  explicit Pugixml(const std::string& d) : doc(d) {}
  void Parse() {
    tree = std::make_unique<pugi::xml_document>();
    if (!tree->load_buffer(doc.data(), doc.size())) std::abort();
  }
  void Free() { tree.reset(); }
};

void KeepFreedMemory() {
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_TOP_PAD, 64 << 20);
}

template <class Parser>
void BM_Parse(benchmark::State& state) {
  const int which = static_cast<int>(state.range(0));
  const bool half = state.range(1) != 0;
  const bool cold = state.range(2) != 0;
  const std::string& doc = Document(which, half);
  KeepFreedMemory();
  Parser parser(doc);
  parser.Parse();  // warm-up
  parser.Free();
  for (auto _ : state) {
    if (cold) {
      state.PauseTiming();
      malloc_trim(0);
      state.ResumeTiming();
    }
    parser.Parse();
    state.PauseTiming();
    parser.Free();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
  state.SetLabel(std::string(which == 0 ? "nested" : "service") + (half ? " 25MiB" : " 50MiB") +
                 (cold ? " cold" : " warm"));
}

template <class Parser>
void BM_Memory(benchmark::State& state) {
  const int which = static_cast<int>(state.range(0));
  const bool half = state.range(1) != 0;
  const std::string& doc = Document(which, half);
  Parser parser(doc);
  long long peak = 0, kept = 0;
  for (auto _ : state) {
    gInUse = gPeak = 0;
    gCounting = true;
    parser.Parse();
    peak = gPeak;
    kept = gInUse;
    parser.Free();
    gCounting = false;
  }
  state.counters["peak_MiB"] = static_cast<double>(peak) / (1 << 20);
  state.counters["tree_MiB"] = static_cast<double>(kept) / (1 << 20);
  state.counters["peak_per_input"] = static_cast<double>(peak) / static_cast<double>(doc.size());
  state.SetLabel(std::string(which == 0 ? "nested" : "service") + (half ? " 25MiB" : " 50MiB"));
}

// Freeing the finished tree (the parse before it is not timed), warm as in BM_Parse.
template <class Parser>
void BM_Free(benchmark::State& state) {
  const int which = static_cast<int>(state.range(0));
  const bool half = state.range(1) != 0;
  const std::string& doc = Document(which, half);
  KeepFreedMemory();
  Parser parser(doc);
  for (auto _ : state) {
    state.PauseTiming();
    parser.Parse();
    state.ResumeTiming();
    parser.Free();
  }
  state.SetLabel(std::string(which == 0 ? "nested" : "service") + (half ? " 25MiB" : " 50MiB"));
}

// A fixed count: each freed tree costs a whole parse first, untimed.
void FreeArgs(benchmark::internal::Benchmark* b) {
  for (int which : {0, 1})
    for (int half : {0, 1}) b->Args({which, half});
  b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
}

void ParseArgs(benchmark::internal::Benchmark* b) {
  for (int which : {0, 1})
    for (int half : {0, 1})
      for (int cold : {0, 1}) b->Args({which, half, cold});
  b->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
}

void MemoryArgs(benchmark::internal::Benchmark* b) {
  for (int which : {0, 1})
    for (int half : {0, 1}) b->Args({which, half});
  b->Unit(benchmark::kMillisecond)->Iterations(1);
}

BENCHMARK_TEMPLATE(BM_Parse, Ours)->Apply(ParseArgs)->Name("Parse/ktinet");
BENCHMARK_TEMPLATE(BM_Parse, Libxml2)->Apply(ParseArgs)->Name("Parse/libxml2");
BENCHMARK_TEMPLATE(BM_Parse, Pugixml)->Apply(ParseArgs)->Name("Parse/pugixml");
BENCHMARK_TEMPLATE(BM_Free, Ours)->Apply(FreeArgs)->Name("Free/ktinet");
BENCHMARK_TEMPLATE(BM_Free, Pugixml)->Apply(FreeArgs)->Name("Free/pugixml");
BENCHMARK_TEMPLATE(BM_Memory, Ours)->Apply(MemoryArgs)->Name("Memory/ktinet");
BENCHMARK_TEMPLATE(BM_Memory, Libxml2)->Apply(MemoryArgs)->Name("Memory/libxml2");
BENCHMARK_TEMPLATE(BM_Memory, Pugixml)->Apply(MemoryArgs)->Name("Memory/pugixml");

// Elements nested one in the other, then all closed: the tree is one long chain. Twice the
// depth must take about twice the time.
void BM_ParseDeep(benchmark::State& state) {
  const int depth = static_cast<int>(state.range(0));
  std::string doc = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
  for (int k = 0; k < depth; ++k) doc += "<e a=\"1\">v";
  for (int k = 0; k < depth; ++k) doc += "</e>";
  Ours parser(doc);
  for (auto _ : state) {
    parser.Parse();
    state.PauseTiming();
    parser.Free();
    state.ResumeTiming();
  }
  state.counters["depth"] = depth;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}
BENCHMARK(BM_ParseDeep)->Arg(500000)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();

// A 1 MiB value of 100,000 entities, some of which chain ("&amp;lt;" ends as "<").
void BM_GetTagValue(benchmark::State& state) {
  const char16_t* entities[] = {u"&amp;lt;", u"&gt;", u"&quot;", u"&#39;", u"&nbsp;", u"&deg;", u"&amp;", u"&#xa;"};
  std::mt19937 rng(9);
  String value;
  const size_t target = 1u << 20, count = 100000;
  for (size_t k = 0; k < count; ++k) {
    value += entities[rng() % 8];
    while (value.size() < (k + 1) * target / count) value += static_cast<char16_t>(u'a' + rng() % 26);
  }
  TKtXMLItem item(nullptr);
  item.SetValue(value);
  size_t outSize = 0;
  for (auto _ : state) {
    String out = item.GetTagValue();
    outSize = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["value_chars"] = static_cast<double>(value.size());
  state.counters["result_chars"] = static_cast<double>(outSize);
}
BENCHMARK(BM_GetTagValue)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
