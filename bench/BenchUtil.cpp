// Throughput of the ktiutil text functions against peers measured in the same run:
// Base64 against OpenSSL's EVP_EncodeBlock, UTF-8 decoding against iconv (UTF-8 to UTF-16LE),
// entity replacement at two sizes to show linear growth. "Warm" runs reuse an output buffer
// reserved by a warm-up run; "Cold" runs allocate a fresh output buffer every iteration.
#include <benchmark/benchmark.h>
#include <iconv.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <stdexcept>
#include <string>

#include "core/ktiutil.h"

using namespace ktinet;

namespace {

constexpr size_t kBig = 64u << 20;

const std::string& RandomBytes() {
  static const std::string data = [] {
    std::string s(kBig, '\0');
    std::mt19937_64 rng(1);
    for (size_t i = 0; i + 8 <= s.size(); i += 8) {
      std::uint64_t v = rng();
      std::memcpy(&s[i], &v, 8);
    }
    return s;
  }();
  return data;
}

// Words of ASCII letters and blanks where one character in ten is a two- or three-byte sequence.
const std::string& MixedText() {
  static const std::string data = [] {
    std::string s;
    s.reserve(kBig + 8);
    std::mt19937 rng(2);
    const char* two[] = {"\xC3\xA9", "\xC3\xBC", "\xC3\x9F", "\xD0\xB4", "\xCE\xBB"};
    const char* three[] = {"\xE2\x82\xAC", "\xE2\x80\x94", "\xE6\x97\xA5", "\xE3\x81\x82"};
    while (s.size() < kBig) {
      unsigned r = rng() % 100;
      if (r < 5) s += two[rng() % 5];
      else if (r < 10) s += three[rng() % 4];
      else if (r < 25) s += ' ';
      else s += static_cast<char>('a' + rng() % 26);
    }
    while (s.size() > kBig && static_cast<unsigned char>(s.back()) >= 0x80) s.pop_back();
    return s;
  }();
  return data;
}

const std::string& AsciiText() {
  static const std::string data = [] {
    std::string s(kBig, ' ');
    std::mt19937 rng(3);
    for (char& c : s) c = static_cast<char>(rng() % 5 == 0 ? ' ' : 'a' + rng() % 26);
    return s;
  }();
  return data;
}

// A text of `size` characters with `entities` known entities spread through plain words. A lone
// "&amp;" is left out: the '&' it leaves would meet the plain text after it and stop the routine.
String EntityText(size_t size, size_t entities) {
  const char16_t* names[] = {u"&lt;", u"&gt;", u"&amp;gt;", u"&quot;", u"&nbsp;", u"&deg;", u"&copy;",
                             u"&amp;lt;", u"&apos;", u"&trade;"};
  std::mt19937 rng(4);
  String s;
  s.reserve(size + 16);
  size_t gap = size / entities;
  for (size_t e = 0; e < entities; ++e) {
    String name = names[rng() % std::size(names)];
    size_t filler = gap > name.size() ? gap - name.size() : 0;
    for (size_t k = 0; k < filler; ++k) s += static_cast<Char>(k % 7 == 6 ? u' ' : u'a' + rng() % 26);
    s += name;
  }
  return s;
}

// ---- Base64 ---------------------------------------------------------------------------------

void BM_Base64_Ktinet_Warm(benchmark::State& state) {
  const std::string& in = RandomBytes();
  std::string out;
  Encode64(in, out);  // warm-up: sizes and touches the buffer
  for (auto _ : state) {
    Encode64(in, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_Base64_Ktinet_Cold(benchmark::State& state) {
  const std::string& in = RandomBytes();
  for (auto _ : state) {
    std::string out = Encode64(std::string_view(in));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_Base64_OpenSSL_Warm(benchmark::State& state) {
  const std::string& in = RandomBytes();
  std::string out(in.size() / 3 * 4 + 8, '\0');
  auto run = [&] {
    return EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                           reinterpret_cast<const unsigned char*>(in.data()), static_cast<int>(in.size()));
  };
  run();
  for (auto _ : state) benchmark::DoNotOptimize(run());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_Base64_OpenSSL_Cold(benchmark::State& state) {
  const std::string& in = RandomBytes();
  for (auto _ : state) {
    std::string out(in.size() / 3 * 4 + 8, '\0');
    benchmark::DoNotOptimize(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                             reinterpret_cast<const unsigned char*>(in.data()),
                                             static_cast<int>(in.size())));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

// ---- UTF-8 ----------------------------------------------------------------------------------

// iconv converting the whole input in one call into a buffer that is reused (warm) or fresh (cold).
class Iconv {
 public:
  Iconv() : FCd(iconv_open("UTF-16LE", "UTF-8")) {
    if (FCd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open failed");
  }
  ~Iconv() { iconv_close(FCd); }
  size_t Convert(const std::string& in, std::string& out) {
    iconv(FCd, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    if (iconv(FCd, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1))
      throw std::runtime_error("iconv failed");
    return out.size() - dstLeft;
  }

 private:
  iconv_t FCd;
};

void Utf8Warm(benchmark::State& state, const std::string& in) {
  std::u16string out;
  Utf8Decode(in, out);
  for (auto _ : state) {
    Utf8Decode(in, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void Utf8Cold(benchmark::State& state, const std::string& in) {
  for (auto _ : state) {
    std::u16string out = Utf8Decode(std::string_view(in));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void IconvWarm(benchmark::State& state, const std::string& in) {
  Iconv cv;
  std::string out(in.size() * 2, '\0');
  cv.Convert(in, out);
  for (auto _ : state) benchmark::DoNotOptimize(cv.Convert(in, out));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void IconvCold(benchmark::State& state, const std::string& in) {
  Iconv cv;
  for (auto _ : state) {
    std::string out(in.size() * 2, '\0');
    benchmark::DoNotOptimize(cv.Convert(in, out));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_Utf8Mixed_Ktinet_Warm(benchmark::State& s) { Utf8Warm(s, MixedText()); }
void BM_Utf8Mixed_Ktinet_Cold(benchmark::State& s) { Utf8Cold(s, MixedText()); }
void BM_Utf8Mixed_Iconv_Warm(benchmark::State& s) { IconvWarm(s, MixedText()); }
void BM_Utf8Mixed_Iconv_Cold(benchmark::State& s) { IconvCold(s, MixedText()); }
void BM_Utf8Ascii_Ktinet_Warm(benchmark::State& s) { Utf8Warm(s, AsciiText()); }
void BM_Utf8Ascii_Ktinet_Cold(benchmark::State& s) { Utf8Cold(s, AsciiText()); }
void BM_Utf8Ascii_Iconv_Warm(benchmark::State& s) { IconvWarm(s, AsciiText()); }

// ---- HTML entities --------------------------------------------------------------------------

// Arguments: text size in characters, entity count. The copy restores the input for the next
// iteration (it is changed in place) and is a small part of the time.
void BM_ReplaceHTMLChars(benchmark::State& state) {
  const String text = EntityText(static_cast<size_t>(state.range(0)), static_cast<size_t>(state.range(1)));
  String s;
  for (auto _ : state) {
    s = text;
    ReplaceHTMLChars(s);
    benchmark::DoNotOptimize(s.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(1));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size() * sizeof(Char)));
}

}  // namespace

BENCHMARK(BM_Base64_Ktinet_Warm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64_OpenSSL_Warm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64_Ktinet_Cold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64_OpenSSL_Cold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8Mixed_Ktinet_Warm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8Mixed_Iconv_Warm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8Mixed_Ktinet_Cold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8Mixed_Iconv_Cold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8Ascii_Ktinet_Warm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8Ascii_Ktinet_Cold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8Ascii_Iconv_Warm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplaceHTMLChars)->Args({1 << 20, 100000})->Args({2 << 20, 200000})->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
