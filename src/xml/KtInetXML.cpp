#include "xml/KtInetXML.h"

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/ktiutil.h"
#include "rtl/Exceptions.h"
#include "rtl/SysUtils.h"

namespace ktinet {

namespace xml_detail {

// ---- Arena --------------------------------------------------------------------------------

// Blocks stay below the allocator's mapping threshold, so a heap that has held one tree serves
// the next one from warm pages.
constexpr std::size_t kBlockSize = 64 * 1024;
constexpr std::size_t kLargeRequest = kBlockSize / 4;

class Arena {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena() { Release(); }

  [[gnu::always_inline]] void* Alloc(std::size_t size, std::size_t align) {
    if (size >= kLargeRequest) return AllocLarge(size);
    auto cur = reinterpret_cast<std::uintptr_t>(FCur);
    std::uintptr_t aligned = (cur + align - 1) & ~(static_cast<std::uintptr_t>(align) - 1);
    if (!FCur || aligned + size > reinterpret_cast<std::uintptr_t>(FEnd)) aligned = NewBlock();
    FCur = reinterpret_cast<char*>(aligned + size);
    return reinterpret_cast<void*>(aligned);
  }

  // Children arrays of arena items. Arrays of up to kListClasses - 1 entries are recycled by
  // size (an element whose list moves to a larger array leaves the old one for the next
  // element); larger ones are rare and go to the heap.
  static constexpr int kListClasses = 64;
  void** NewList(int capacity) {
    if (capacity >= kListClasses) {
      void* p = std::malloc(static_cast<std::size_t>(capacity) * sizeof(void*));
      if (!p) throw std::bad_alloc();
      return static_cast<void**>(p);
    }
    if (void** head = FFreeLists[capacity]) {
      FFreeLists[capacity] = static_cast<void**>(head[0]);
      return head;
    }
    return static_cast<void**>(Alloc(static_cast<std::size_t>(capacity) * sizeof(void*), alignof(void*)));
  }
  void FreeList(void** list, int capacity) noexcept {
    if (capacity >= kListClasses) {
      std::free(list);
      return;
    }
    list[0] = FFreeLists[capacity];
    FFreeLists[capacity] = list;
  }

  void ItemBorn() { ++FLive; }
  // Texts in the arena belong to arena items only, so the last item gone frees everything.
  void ItemDied() { ItemsDied(1); }
  void ItemsDied(std::size_t n) {
    if (FLive == 0) return;
    FLive -= std::min(n, FLive);
    if (FLive == 0) Release();
  }

 private:
  void Release() {
    for (void* p : FBlocks) std::free(p);
    for (void* p : FLarge) std::free(p);
    FBlocks.clear();
    FLarge.clear();
    FCur = FEnd = nullptr;
    std::fill(std::begin(FFreeLists), std::end(FFreeLists), nullptr);
  }

  [[gnu::noinline]] void* AllocLarge(std::size_t size) {
    void* p = std::malloc(size);
    if (!p) throw std::bad_alloc();
    try {
      FLarge.push_back(p);
    } catch (...) {
      std::free(p);
      throw;
    }
    return p;
  }
  // Starts a fresh block and returns its start.
  [[gnu::noinline]] std::uintptr_t NewBlock() {
    char* block = static_cast<char*>(std::malloc(kBlockSize));
    if (!block) throw std::bad_alloc();
    try {
      FBlocks.push_back(block);
    } catch (...) {
      std::free(block);
      throw;
    }
    FCur = block;
    FEnd = block + kBlockSize;
    return reinterpret_cast<std::uintptr_t>(block);
  }

  std::vector<void*> FBlocks;
  std::vector<void*> FLarge;
  char* FCur = nullptr;
  char* FEnd = nullptr;
  std::size_t FLive = 0;
  void** FFreeLists[kListClasses] = {};
};

// ---- Text ---------------------------------------------------------------------------------

namespace {
alignas(8) const std::uint32_t kEmptyRecord[2] = {0, 0};

inline const char16_t* RecordChars(std::uintptr_t record) {
  return reinterpret_cast<const char16_t*>(record + sizeof(std::uint32_t));
}
}  // namespace

std::u16string_view Text::View() const {
  if (!FBits) return {};
  std::uintptr_t record = FBits & ~static_cast<std::uintptr_t>(1);
  std::uint32_t len;
  std::memcpy(&len, reinterpret_cast<const void*>(record), sizeof len);
  return {RecordChars(record), len};
}

void Text::Assign(std::u16string_view s, Arena* arena) {
  std::uintptr_t bits;
  if (s.empty()) {
    bits = reinterpret_cast<std::uintptr_t>(kEmptyRecord);
  } else {
    if (s.size() > std::numeric_limits<std::uint32_t>::max() / 2 - 8) throw std::bad_alloc();
    std::size_t bytes = sizeof(std::uint32_t) + s.size() * sizeof(char16_t);
    void* p;
    if (arena) {
      p = arena->Alloc(bytes, 4);
      bits = reinterpret_cast<std::uintptr_t>(p);
    } else {
      p = std::malloc(bytes);
      if (!p) throw std::bad_alloc();
      bits = reinterpret_cast<std::uintptr_t>(p) | 1;
    }
    auto len = static_cast<std::uint32_t>(s.size());
    std::memcpy(p, &len, sizeof len);
    std::memcpy(static_cast<char*>(p) + sizeof len, s.data(), s.size() * sizeof(char16_t));
  }
  // The new record is complete before the old one goes, so `s` may view the old one.
  Release();
  FBits = bits;
}

char16_t* Text::Make(std::size_t n, Arena* arena) {
  Release();
  if (n == 0) {
    FBits = reinterpret_cast<std::uintptr_t>(kEmptyRecord);
    return nullptr;
  }
  if (n > std::numeric_limits<std::uint32_t>::max() / 2 - 8) throw std::bad_alloc();
  std::size_t bytes = sizeof(std::uint32_t) + n * sizeof(char16_t);
  void* p;
  if (arena) {
    p = arena->Alloc(bytes, 4);
    FBits = reinterpret_cast<std::uintptr_t>(p);
  } else {
    p = std::malloc(bytes);
    if (!p) throw std::bad_alloc();
    FBits = reinterpret_cast<std::uintptr_t>(p) | 1;
  }
  auto len = static_cast<std::uint32_t>(n);
  std::memcpy(p, &len, sizeof len);
  return reinterpret_cast<char16_t*>(static_cast<char*>(p) + sizeof len);
}

void Text::Append(std::u16string_view s) {
  if (s.empty()) return;
  const std::u16string_view old = View();
  const std::size_t len = old.size() + s.size();
  if (len > std::numeric_limits<std::uint32_t>::max() / 2 - 8) throw std::bad_alloc();
  std::uintptr_t record = FBits & ~static_cast<std::uintptr_t>(1);
  if ((FBits & 1) && (malloc_usable_size(reinterpret_cast<void*>(record)) - sizeof(std::uint32_t)) / 2 >= len) {
    std::memcpy(reinterpret_cast<char*>(record) + sizeof(std::uint32_t) + old.size() * sizeof(char16_t), s.data(),
                s.size() * sizeof(char16_t));
  } else {
    std::size_t capacity = std::max<std::size_t>(len, old.size() * 2);
    void* p = std::malloc(sizeof(std::uint32_t) + capacity * sizeof(char16_t));
    if (!p) throw std::bad_alloc();
    char* chars = static_cast<char*>(p) + sizeof(std::uint32_t);
    std::memcpy(chars, old.data(), old.size() * sizeof(char16_t));
    std::memcpy(chars + old.size() * sizeof(char16_t), s.data(), s.size() * sizeof(char16_t));
    Release();
    record = reinterpret_cast<std::uintptr_t>(p);
    FBits = record | 1;
  }
  auto n = static_cast<std::uint32_t>(len);
  std::memcpy(reinterpret_cast<void*>(record), &n, sizeof n);
}

void Text::Release() {
  if (FBits & 1) std::free(reinterpret_cast<void*>(FBits & ~static_cast<std::uintptr_t>(1)));
  FBits = 0;
}

// ---- Character helpers --------------------------------------------------------------------

namespace {

constexpr bool IsNameCharSlow(unsigned c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'!' ||
         c == u'-' || c == u':' || c == u'?' || c == u'_';
}

struct NameCharTable {
  bool at[128];
  constexpr NameCharTable() : at() {
    for (unsigned c = 0; c < 128; ++c) at[c] = IsNameCharSlow(c);
  }
};
constexpr NameCharTable kNameChars;

inline bool IsNameChar(unsigned c) { return c < 128 && kNameChars.at[c]; }

inline bool IsBlank(unsigned c) { return c == u'\t' || c == u'\n' || c == u'\r' || c == u' '; }

inline char16_t FoldAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool SameAsciiNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k)
    if (FoldAscii(a[k]) != FoldAscii(b[k])) return false;
  return true;
}

// The upper halves (bytes 0x80..0xFF) of the single-byte Windows code pages 1250 to 1258.
// Positions a code page leaves undefined read as the byte's own code, as for the ANSI code page.
constexpr char16_t kCodePages[9][128] = {
    // windows-1250
    {
        0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,
        0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,
        0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,
        0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
        0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
        0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,
        0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
        0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
        0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
        0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
        0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
        0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
        0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
        0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
    },
    // windows-1251
    {
        0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
        0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
        0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
        0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
        0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
        0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
        0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
        0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
        0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
        0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
        0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
        0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
        0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
        0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
        0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
    },
    // windows-1252
    {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
        0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
        0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
        0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
        0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
        0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
        0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,
        0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,
        0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
        0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
        0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,
        0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
        0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,
    },
    // windows-1253
    {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x0088, 0x2030, 0x008A, 0x2039, 0x008C, 0x008D, 0x008E, 0x008F,
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x0098, 0x2122, 0x009A, 0x203A, 0x009C, 0x009D, 0x009E, 0x009F,
        0x00A0, 0x0385, 0x0386, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
        0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x2015,
        0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x0384, 0x00B5, 0x00B6, 0x00B7,
        0x0388, 0x0389, 0x038A, 0x00BB, 0x038C, 0x00BD, 0x038E, 0x038F,
        0x0390, 0x0391, 0x0392, 0x0393, 0x0394, 0x0395, 0x0396, 0x0397,
        0x0398, 0x0399, 0x039A, 0x039B, 0x039C, 0x039D, 0x039E, 0x039F,
        0x03A0, 0x03A1, 0x00D2, 0x03A3, 0x03A4, 0x03A5, 0x03A6, 0x03A7,
        0x03A8, 0x03A9, 0x03AA, 0x03AB, 0x03AC, 0x03AD, 0x03AE, 0x03AF,
        0x03B0, 0x03B1, 0x03B2, 0x03B3, 0x03B4, 0x03B5, 0x03B6, 0x03B7,
        0x03B8, 0x03B9, 0x03BA, 0x03BB, 0x03BC, 0x03BD, 0x03BE, 0x03BF,
        0x03C0, 0x03C1, 0x03C2, 0x03C3, 0x03C4, 0x03C5, 0x03C6, 0x03C7,
        0x03C8, 0x03C9, 0x03CA, 0x03CB, 0x03CC, 0x03CD, 0x03CE, 0x00FF,
    },
    // windows-1254
    {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x008E, 0x008F,
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x009E, 0x0178,
        0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
        0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
        0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
        0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
        0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
        0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,
        0x011E, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,
        0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x0130, 0x015E, 0x00DF,
        0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
        0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,
        0x011F, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
        0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x0131, 0x015F, 0x00FF,
    },
    // windows-1255
    {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x008A, 0x2039, 0x008C, 0x008D, 0x008E, 0x008F,
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x02DC, 0x2122, 0x009A, 0x203A, 0x009C, 0x009D, 0x009E, 0x009F,
        0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x20AA, 0x00A5, 0x00A6, 0x00A7,
        0x00A8, 0x00A9, 0x00D7, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
        0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
        0x00B8, 0x00B9, 0x00F7, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
        0x05B0, 0x05B1, 0x05B2, 0x05B3, 0x05B4, 0x05B5, 0x05B6, 0x05B7,
        0x05B8, 0x05B9, 0x00CA, 0x05BB, 0x05BC, 0x05BD, 0x05BE, 0x05BF,
        0x05C0, 0x05C1, 0x05C2, 0x05C3, 0x05F0, 0x05F1, 0x05F2, 0x05F3,
        0x05F4, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
        0x05D0, 0x05D1, 0x05D2, 0x05D3, 0x05D4, 0x05D5, 0x05D6, 0x05D7,
        0x05D8, 0x05D9, 0x05DA, 0x05DB, 0x05DC, 0x05DD, 0x05DE, 0x05DF,
        0x05E0, 0x05E1, 0x05E2, 0x05E3, 0x05E4, 0x05E5, 0x05E6, 0x05E7,
        0x05E8, 0x05E9, 0x05EA, 0x00FB, 0x00FC, 0x200E, 0x200F, 0x00FF,
    },
    // windows-1256
    {
        0x20AC, 0x067E, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x0679, 0x2039, 0x0152, 0x0686, 0x0698, 0x0688,
        0x06AF, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x06A9, 0x2122, 0x0691, 0x203A, 0x0153, 0x200C, 0x200D, 0x06BA,
        0x00A0, 0x060C, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
        0x00A8, 0x00A9, 0x06BE, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
        0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
        0x00B8, 0x00B9, 0x061B, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x061F,
        0x06C1, 0x0621, 0x0622, 0x0623, 0x0624, 0x0625, 0x0626, 0x0627,
        0x0628, 0x0629, 0x062A, 0x062B, 0x062C, 0x062D, 0x062E, 0x062F,
        0x0630, 0x0631, 0x0632, 0x0633, 0x0634, 0x0635, 0x0636, 0x00D7,
        0x0637, 0x0638, 0x0639, 0x063A, 0x0640, 0x0641, 0x0642, 0x0643,
        0x00E0, 0x0644, 0x00E2, 0x0645, 0x0646, 0x0647, 0x0648, 0x00E7,
        0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x0649, 0x064A, 0x00EE, 0x00EF,
        0x064B, 0x064C, 0x064D, 0x064E, 0x00F4, 0x064F, 0x0650, 0x00F7,
        0x0651, 0x00F9, 0x0652, 0x00FB, 0x00FC, 0x200E, 0x200F, 0x06D2,
    },
    // windows-1257
    {
        0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,
        0x0088, 0x2030, 0x008A, 0x2039, 0x008C, 0x00A8, 0x02C7, 0x00B8,
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x0098, 0x2122, 0x009A, 0x203A, 0x009C, 0x00AF, 0x02DB, 0x009F,
        0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
        0x00D8, 0x00A9, 0x0156, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00C6,
        0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
        0x00F8, 0x00B9, 0x0157, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00E6,
        0x0104, 0x012E, 0x0100, 0x0106, 0x00C4, 0x00C5, 0x0118, 0x0112,
        0x010C, 0x00C9, 0x0179, 0x0116, 0x0122, 0x0136, 0x012A, 0x013B,
        0x0160, 0x0143, 0x0145, 0x00D3, 0x014C, 0x00D5, 0x00D6, 0x00D7,
        0x0172, 0x0141, 0x015A, 0x016A, 0x00DC, 0x017B, 0x017D, 0x00DF,
        0x0105, 0x012F, 0x0101, 0x0107, 0x00E4, 0x00E5, 0x0119, 0x0113,
        0x010D, 0x00E9, 0x017A, 0x0117, 0x0123, 0x0137, 0x012B, 0x013C,
        0x0161, 0x0144, 0x0146, 0x00F3, 0x014D, 0x00F5, 0x00F6, 0x00F7,
        0x0173, 0x0142, 0x015B, 0x016B, 0x00FC, 0x017C, 0x017E, 0x02D9,
    },
    // windows-1258
    {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x008A, 0x2039, 0x0152, 0x008D, 0x008E, 0x008F,
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x02DC, 0x2122, 0x009A, 0x203A, 0x0153, 0x009D, 0x009E, 0x0178,
        0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
        0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
        0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
        0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
        0x00C0, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
        0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x0300, 0x00CD, 0x00CE, 0x00CF,
        0x0110, 0x00D1, 0x0309, 0x00D3, 0x00D4, 0x01A0, 0x00D6, 0x00D7,
        0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x01AF, 0x0303, 0x00DF,
        0x00E0, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
        0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x0301, 0x00ED, 0x00EE, 0x00EF,
        0x0111, 0x00F1, 0x0323, 0x00F3, 0x00F4, 0x01A1, 0x00F6, 0x00F7,
        0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x01B0, 0x20AB, 0x00FF,
    },
};

// The UTF-8 decoding of the encoding rule (the suite's lenient Utf8Decode) for a text in which
// some sequence is cut short or has a bad continuation byte: such a sequence, up to the byte
// that broke it, becomes one U+FFFD and decoding goes on from that byte, so one bad byte costs
// one character, not the whole text.
void Utf8DecodeReplacing(std::string_view bytes, String& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  out.clear();
  std::size_t i = 0;
  auto more = [&](std::size_t k) { return i + k < n && (p[i + k] & 0xC0) == 0x80; };
  auto broken = [&](std::size_t seen) {
    out.push_back(u'\uFFFD');
    i += seen;
  };
  while (i < n) {
    const unsigned c = p[i];
    if (c < 0x80) {
      out.push_back(static_cast<char16_t>(c));
      ++i;
    } else if (!more(1)) {
      broken(1);
    } else if ((c & 0x20) == 0) {
      // Bit 5 of the lead decides between two and three bytes, as in Utf8Decode.
      out.push_back(static_cast<char16_t>(((c & 0x1F) << 6) | (p[i + 1] & 0x3Fu)));
      i += 2;
    } else if (!more(2)) {
      broken(2);
    } else if ((c & 0xF8) == 0xF0) {
      if (!more(3)) {
        broken(3);
        continue;
      }
      std::uint32_t cp = ((c & 0x07) << 18) | ((p[i + 1] & 0x3Fu) << 12) | ((p[i + 2] & 0x3Fu) << 6) | (p[i + 3] & 0x3Fu);
      if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
      } else if (cp > 0x10FFFF) {
        out.push_back(u'\uFFFD');
      } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
      }
      i += 4;
    } else {
      out.push_back(static_cast<char16_t>(((c & 0x0F) << 12) | ((p[i + 1] & 0x3Fu) << 6) | (p[i + 2] & 0x3Fu)));
      i += 3;
    }
  }
}

const char16_t* CodePageTable(int codePage) {
  if (codePage >= 1250 && codePage <= 1258) return kCodePages[codePage - 1250];
  return kCodePages[2];  // the ANSI code page
}

}  // namespace

// ---- Scanning -----------------------------------------------------------------------------

// The first position at or after `i` whose character is one of the four given (repeat one to
// ask for fewer). The caller guarantees a stop character at or before `limit - 1`, and that all
// of [0, limit) may be read: the parse passes its NUL-terminated text, so the NUL stops every
// scan. Whole 16-byte blocks are only read while they lie inside [0, limit).
template <class CharT>
inline std::size_t ScanFor(const CharT* T, std::size_t i, std::size_t limit, CharT a, CharT b, CharT c, CharT d) {
#if defined(__SSE2__)
  constexpr std::size_t kLanes = 16 / sizeof(CharT);
  if constexpr (sizeof(CharT) == 1) {
    const __m128i va = _mm_set1_epi8(static_cast<char>(a)), vb = _mm_set1_epi8(static_cast<char>(b));
    const __m128i vc = _mm_set1_epi8(static_cast<char>(c)), vd = _mm_set1_epi8(static_cast<char>(d));
    while (i + kLanes <= limit) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(T + i));
      const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, va), _mm_cmpeq_epi8(x, vb)),
                                       _mm_or_si128(_mm_cmpeq_epi8(x, vc), _mm_cmpeq_epi8(x, vd)));
      if (const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit))) return i + __builtin_ctz(mask);
      i += kLanes;
    }
  } else {
    const __m128i va = _mm_set1_epi16(static_cast<short>(a)), vb = _mm_set1_epi16(static_cast<short>(b));
    const __m128i vc = _mm_set1_epi16(static_cast<short>(c)), vd = _mm_set1_epi16(static_cast<short>(d));
    while (i + kLanes <= limit) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(T + i));
      const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(x, va), _mm_cmpeq_epi16(x, vb)),
                                       _mm_or_si128(_mm_cmpeq_epi16(x, vc), _mm_cmpeq_epi16(x, vd)));
      if (const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit))) return i + __builtin_ctz(mask) / 2;
      i += kLanes;
    }
  }
#else
  (void)limit;
#endif
  for (;; ++i) {
    const CharT x = T[i];
    if (x == a || x == b || x == c || x == d) return i;
  }
}

// The first position at or after `i` whose character cannot be part of a name. The same
// guarantees as for ScanFor: the text ends in a NUL (not a name character) before `limit`.
template <class CharT>
inline std::size_t ScanName(const CharT* T, std::size_t i, std::size_t limit) {
#if defined(__SSE2__)
  if constexpr (sizeof(CharT) == 1) {
    // Letters are the bytes that OR 0x20 puts in a..z; digits and ':' are 0x30..0x3A; the four
    // others are tested one by one. A range test is an unsigned "at most" after subtracting.
    const __m128i lower = _mm_set1_epi8(0x20), a = _mm_set1_epi8('a'), letters = _mm_set1_epi8(25);
    const __m128i zero = _mm_set1_epi8('0'), digits = _mm_set1_epi8(10);
    const __m128i bang = _mm_set1_epi8('!'), dash = _mm_set1_epi8('-'), ask = _mm_set1_epi8('?');
    const __m128i under = _mm_set1_epi8('_');
    while (i + 16 <= limit) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(T + i));
      const __m128i l = _mm_sub_epi8(_mm_or_si128(x, lower), a);
      const __m128i d = _mm_sub_epi8(x, zero);
      __m128i ok = _mm_cmpeq_epi8(_mm_max_epu8(l, letters), letters);
      ok = _mm_or_si128(ok, _mm_cmpeq_epi8(_mm_max_epu8(d, digits), digits));
      ok = _mm_or_si128(ok, _mm_or_si128(_mm_cmpeq_epi8(x, bang), _mm_cmpeq_epi8(x, dash)));
      ok = _mm_or_si128(ok, _mm_or_si128(_mm_cmpeq_epi8(x, ask), _mm_cmpeq_epi8(x, under)));
      const unsigned stop = ~static_cast<unsigned>(_mm_movemask_epi8(ok)) & 0xFFFFu;
      if (stop) return i + static_cast<std::size_t>(__builtin_ctz(stop));
      i += 16;
    }
  }
#else
  (void)limit;
#endif
  while (IsNameChar(T[i])) ++i;
  return i;
}

// Equality of two byte ranges of length n, compared a word at a time without reading past
// either range (names are short, and a library call costs more than the comparison).
[[gnu::always_inline]] inline bool SameBytes(const unsigned char* a, const unsigned char* b, std::size_t n) {
  if (n >= 8) {
    std::size_t k = 0;
    for (; k + 8 <= n; k += 8) {
      std::uint64_t x, y;
      std::memcpy(&x, a + k, 8);
      std::memcpy(&y, b + k, 8);
      if (x != y) return false;
    }
    if (k == n) return true;
    std::uint64_t x, y;
    std::memcpy(&x, a + n - 8, 8);
    std::memcpy(&y, b + n - 8, 8);
    return x == y;
  }
  if (n >= 4) {
    std::uint32_t x1, y1, x2, y2;
    std::memcpy(&x1, a, 4);
    std::memcpy(&y1, b, 4);
    std::memcpy(&x2, a + n - 4, 4);
    std::memcpy(&y2, b + n - 4, 4);
    return x1 == y1 && x2 == y2;
  }
  for (std::size_t k = 0; k < n; ++k)
    if (a[k] != b[k]) return false;
  return true;
}

// ---- Parser -------------------------------------------------------------------------------

enum class Source { Ansi, Utf8, Utf16 };

// The text as the parse sees it: T[0..L) followed by a NUL at T[L], with L <= N. The scanners
// never read past the first NUL, so positions beyond the text read as NUL without a bounds test.
// The rules are stated on characters; on ANSI and UTF-8 bytes every structural character is
// ASCII and no multi-byte sequence contains one, so scanning the bytes and decoding only the
// pieces gives the same tree as decoding first.
template <class CharT>
class Parser {
 public:
  Parser(TKtXMLEngine& engine, const CharT* text, std::size_t n, Source source)
      : FEngine(engine), T(text), N(n), FSource(source) {
    // Shared name records stay valid for the whole parse, even if a handler frees every item.
    FEngine.FArena->ItemBorn();
  }
  ~Parser() { FEngine.FArena->ItemDied(); }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  void Run();

 private:
  enum class Rule { None, Utf8, CodePage };

  void ReadText(std::size_t& s, std::size_t& e) {
    while (T[i] == '>') ++i;
    s = i;
    if (T[i] == '<') {  // no text: the next tag follows at once
      e = i++;
      return;
    }
    for (;;) {
      i = ScanFor<CharT>(T, i, N + 1, 0, '<', '/', '/');
      if (T[i] != '/' || T[i + 1] == '>') break;
      ++i;
    }
    e = i;
    if (T[i] == '<') ++i;
  }

  void SkipToNextTag(bool stepPast) {
    if (T[i] != '<') i = ScanFor<CharT>(T, i, N + 1, 0, '<', '<', '<');
    if (stepPast && T[i] == '<') ++i;
  }

  void Decode(std::size_t s, std::size_t e, String& out, bool applyRule);
  // Decodes T[s, e) by the encoding rule straight into `text`'s record.
  [[gnu::always_inline]] inline void DecodeInto(Text& text, std::size_t s, std::size_t e, Arena* arena);
  // A fresh record of n > 0 characters for a text of an arena item, to be filled by the caller.
  [[gnu::always_inline]] static char16_t* NewRecord(Text& text, std::size_t n, Arena* arena) {
    if ((text.FBits & 1) || !arena || n > 0xFFFFFF) return text.Make(n, arena);
    void* p = arena->Alloc(sizeof(std::uint32_t) + n * sizeof(char16_t), alignof(std::uint32_t));
    const auto len = static_cast<std::uint32_t>(n);
    std::memcpy(p, &len, sizeof len);
    text.FBits = reinterpret_cast<std::uintptr_t>(p);
    return reinterpret_cast<char16_t*>(static_cast<char*>(p) + sizeof len);
  }
  // The next child of `parent`, as TKtXMLItems::AddItem makes it, built in place.
  [[gnu::always_inline]] static TKtXMLItem* NewChild(TKtXMLItem* parent) {
    Arena* arena = parent->MemoryArena();
    if (!arena) return parent->FItems.AddItem(parent);
    TKtXMLItems& list = parent->FItems;
    // Room first: once the item exists nothing can fail before the list holds it.
    if (const int n = list.Count(); n == list.Capacity()) {
      if (Arena* own = list.ArrayArena(); n == 0 && own)
        list.AdoptStore(own->NewList(5), 5);
      else
        list.SetCapacity(n < 5 ? 5 : 2 * n + 1);
    }
    void* place = arena->Alloc(sizeof(TKtXMLItem), alignof(TKtXMLItem));
    arena->ItemBorn();
    auto* item = ::new (place) TKtXMLItem(TKtXMLItem::ChildTag{}, parent, reinterpret_cast<std::uintptr_t>(arena) | 1);
    list.Add(item);
    return item;
  }
  void ApplyRule(String& text);
  template <class Ch>
  [[gnu::always_inline]] void AssignName(Text& name, const Ch* chars, std::size_t n, Arena* arena) {
    // Most names are one of the two that followed the previous name lately.
    if (const std::uint32_t previous = FLastName; previous && n > 0 && arena == FEngine.FArena.get()) {
      for (const std::uint32_t guess : FEntries[previous - 1].next) {
        if (!guess) break;
        const NameEntry& entry = FEntries[guess - 1];
        if (entry.keyBytes == n * sizeof(Ch) && entry.width == sizeof(Ch) &&
            SameBytes(static_cast<const unsigned char*>(entry.key), reinterpret_cast<const unsigned char*>(chars),
                      entry.keyBytes)) {
          name.ShareRecord(entry.record);
          Followed(previous, guess);
          return;
        }
      }
    }
    LookUpName(name, chars, n, arena);
  }
  // Notes that entry `now` came after entry `previous` (indices + 1; `previous` may be 0), the
  // latest follower first.
  void Followed(std::uint32_t previous, std::uint32_t now) {
    if (previous) {
      std::uint32_t* next = FEntries[previous - 1].next;
      if (next[0] != now) {
        next[1] = next[0];
        next[0] = now;
      }
    }
    FLastName = now;
  }
  template <class Ch>
  void LookUpName(Text& name, const Ch* chars, std::size_t n, Arena* arena);
  // The entry (index + 1) of a name that followed the previous name lately and stands complete
  // at `at` (the character after it cannot continue a name), or 0. Most names of a document
  // are found this way without scanning them first.
  [[gnu::always_inline]] std::uint32_t GuessName(std::size_t at) const {
    const std::uint32_t previous = FLastName;
    if (!previous) return 0;
    for (const std::uint32_t guess : FEntries[previous - 1].next) {
      if (!guess) break;
      const std::size_t len = NameAt(guess, at);
      if (len && !IsNameChar(T[at + len])) return guess;
    }
    return 0;
  }
  // The length of the name of entry `known` (index + 1) when the text holds it at `at` (it then
  // ends at or before the text's NUL, so the character after it may be read), else 0.
  [[gnu::always_inline]] std::size_t NameAt(std::uint32_t known, std::size_t at) const {
    const NameEntry& entry = FEntries[known - 1];
    const std::size_t len = entry.keyBytes / sizeof(CharT);
    if (entry.width != sizeof(CharT) || len > N - at ||
        !SameBytes(static_cast<const unsigned char*>(entry.key), reinterpret_cast<const unsigned char*>(T + at),
                   entry.keyBytes))
      return 0;
    return len;
  }
  template <class Ch>
  static bool IsTag(const Ch* chars, std::size_t n, std::u16string_view tag) {
    if (n != tag.size()) return false;
    for (std::size_t k = 0; k < n; ++k)
      if (FoldAscii(static_cast<char16_t>(chars[k])) != tag[k]) return false;
    return true;
  }
  void SetEncoding(const String& e);
  // The attribute text FA of an XML declaration: split into items, and the encoding it names
  // taken up.
  void Declaration(TKtXMLItem* C, TKtXMLItem* root, Arena* arena) {
    C->FAttributes.Assign(std::u16string_view(FA).substr(0, FA.size() - (FA.back() == u'?' ? 1 : 0)), arena);
    const int before = C->FItems.Count();
    C->ProcessAttributes();
    for (int k = before; k < C->FItems.Count(); ++k)
      if (SameAsciiNoCase(C->FItems.Items(k)->TagNameView(), u"encoding")) FEncodingAdded = true;
    if (TKtXMLItem* enc = FindEncoding(C, root)) SetEncoding(enc->GetTagValue());
  }
  void SkipRejected(std::size_t floor);

  // GetItemByTag(C, "encoding") for a declaration. A declaration that reuses the root would
  // search the whole tree each time; but the parse only ever appends at the end of the
  // depth-first order and never renames an item it has left, so the first match in the root's
  // subtree stays the first, and a search that found nothing stays empty until the parse
  // names an item "encoding".
  TKtXMLItem* FindEncoding(TKtXMLItem* C, TKtXMLItem* root) {
    if (C != root) return FEngine.GetItemByTag(C, u"encoding");
    if (!FRootSearched || (!FRootEncoding && FEncodingAdded)) {
      FRootEncoding = FEngine.GetItemByTag(root, u"encoding");
      FRootSearched = true;
      FEncodingAdded = false;
    }
    return FRootEncoding;
  }

  TKtXMLEngine& FEngine;
  const CharT* T;
  std::size_t N;
  Source FSource;
  std::size_t i = 0;
  Rule FRule = Rule::None;
  bool FRootSearched = false;
  bool FEncodingAdded = false;
  TKtXMLItem* FRootEncoding = nullptr;
  const char16_t* FTable = nullptr;
  String FName, FA, FV, FScratch, FOut;
  std::string FBytes;
  // The name records of this parse, by name: a few distinct names make up most documents.
  // Each remembers which name came after it last time, and a document repeats its sequences
  // of names, so most lookups are one comparison with that guess.
  struct NameEntry {
    const void* key = nullptr;  // the characters as looked up, keyBytes long
    std::uint32_t keyBytes = 0;
    std::uint32_t width = 0;  // bytes per character of the key
    std::uintptr_t record = 0;
    std::uint32_t next[2] = {0, 0};  // the entries (index + 1) that followed this one lately, 0 for none
  };
  struct NameSlot {
    std::uint64_t hash = 0;
    std::uint32_t entry = 0;  // index + 1 into FEntries, 0 for a free slot
  };
  std::vector<NameEntry> FEntries;
  std::vector<NameSlot> FNames;
  std::uint32_t FLastName = 0;  // the entry (index + 1) of the name assigned last
  TKtXMLItem* FNewest = nullptr;  // the item made last
};

// Beyond this many distinct names (a document made up to defeat sharing), further names are
// stored per item.
constexpr std::size_t kMaxSharedNames = 4096;

// A hash of the bytes of a name, a word at a time (the last word overlaps when the length is
// not a multiple of eight); every byte counts, so names built to collide cost what they would
// under a byte-wise hash.
inline std::uint64_t HashBytes(const unsigned char* p, std::size_t n) {
  std::uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
  auto mix = [&h](std::uint64_t w) {
    h = (h ^ w) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 32;
  };
  if (n >= 8) {
    std::size_t k = 0;
    for (; k + 8 <= n; k += 8) {
      std::uint64_t w;
      std::memcpy(&w, p + k, 8);
      mix(w);
    }
    if (k < n) {
      std::uint64_t w;
      std::memcpy(&w, p + n - 8, 8);
      mix(w);
    }
  } else if (n >= 4) {
    std::uint32_t a, b;
    std::memcpy(&a, p, 4);
    std::memcpy(&b, p + n - 4, 4);
    mix((static_cast<std::uint64_t>(a) << 32) | b);
  } else if (n > 0) {
    mix(static_cast<std::uint64_t>(p[0]) | (static_cast<std::uint64_t>(p[n / 2]) << 8) |
        (static_cast<std::uint64_t>(p[n - 1]) << 16));
  }
  return h;
}

template <class CharT>
template <class Ch>
void Parser<CharT>::LookUpName(Text& name, const Ch* chars, std::size_t n, Arena* arena) {
  if (n == 0 || arena != FEngine.FArena.get()) {
    char16_t* out = name.Make(n, arena);
    for (std::size_t k = 0; k < n; ++k) out[k] = static_cast<char16_t>(chars[k]);
    return;
  }
  // Names are looked up by the bytes of the characters as given (one byte each from the
  // input, two from a decoded name).
  const auto* key = reinterpret_cast<const unsigned char*>(chars);
  const std::size_t keyBytes = n * sizeof(Ch);
  const std::uint32_t previous = FLastName;
  const std::uint64_t hash = HashBytes(key, keyBytes) ^ sizeof(Ch);
  if (FNames.empty()) FNames.assign(64, NameSlot{});
  const std::size_t mask = FNames.size() - 1;
  for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
    const NameSlot& slot = FNames[at];
    if (slot.entry == 0) break;
    if (slot.hash != hash) continue;
    const NameEntry& entry = FEntries[slot.entry - 1];
    if (entry.keyBytes == keyBytes && entry.width == sizeof(Ch) &&
        SameBytes(static_cast<const unsigned char*>(entry.key), key, keyBytes)) {
      name.ShareRecord(entry.record);
      Followed(previous, slot.entry);
      return;
    }
  }
  char16_t* out = name.Make(n, arena);
  for (std::size_t k = 0; k < n; ++k) out[k] = static_cast<char16_t>(chars[k]);
  FLastName = 0;
  if (FEntries.size() >= kMaxSharedNames) return;
  const void* stored = out;  // a two-byte name is its own key
  if constexpr (sizeof(Ch) != sizeof(char16_t)) {
    void* copy = arena->Alloc(keyBytes, 1);
    std::memcpy(copy, key, keyBytes);
    stored = copy;
  }
  if (2 * (FEntries.size() + 1) > FNames.size()) {
    std::vector<NameSlot> bigger(FNames.size() * 2, NameSlot{});
    for (const NameSlot& old : FNames) {
      if (old.entry == 0) continue;
      std::size_t at = old.hash & (bigger.size() - 1);
      while (bigger[at].entry != 0) at = (at + 1) & (bigger.size() - 1);
      bigger[at] = old;
    }
    FNames.swap(bigger);
  }
  FEntries.push_back(NameEntry{stored, static_cast<std::uint32_t>(keyBytes), static_cast<std::uint32_t>(sizeof(Ch)),
                               name.Record(), {0, 0}});
  const auto added = static_cast<std::uint32_t>(FEntries.size());
  std::size_t at = hash & (FNames.size() - 1);
  while (FNames[at].entry != 0) at = (at + 1) & (FNames.size() - 1);
  FNames[at] = NameSlot{hash, added};
  Followed(previous, added);
}

template <class CharT>
void Parser<CharT>::DecodeInto(Text& text, std::size_t s, std::size_t e, Arena* arena) {
  const CharT* p = T + s;
  const std::size_t n = e - s;
  std::size_t k = 0;
  unsigned high = 0;
#if defined(__SSE2__)
  if constexpr (sizeof(CharT) == 1) {
    // Most texts are short and plain ASCII: two overlapping words cover all of one shorter than
    // sixteen bytes, tested and widened without a loop.
    if (n >= 4 && n < 16) {
      const __m128i zero = _mm_setzero_si128();
      if (n >= 8) {
        std::uint64_t w1, w2;
        std::memcpy(&w1, p, 8);
        std::memcpy(&w2, p + n - 8, 8);
        if (((w1 | w2) & 0x8080808080808080ull) == 0) {
          char16_t* out = NewRecord(text, n, arena);
          _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                           _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n - 8),
                           _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + n - 8)), zero));
          return;
        }
      } else {
        std::uint32_t w1, w2;
        std::memcpy(&w1, p, 4);
        std::memcpy(&w2, p + n - 4, 4);
        if (((w1 | w2) & 0x80808080u) == 0) {
          char16_t* out = NewRecord(text, n, arena);
          _mm_storel_epi64(reinterpret_cast<__m128i*>(out),
                           _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(w1)), zero));
          _mm_storel_epi64(reinterpret_cast<__m128i*>(out + n - 4),
                           _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(w2)), zero));
          return;
        }
      }
      high = 0x80;
    } else if (n < 4) {
      for (std::size_t j = 0; j < n; ++j) high |= p[j];
      if (high < 0x80) {
        char16_t* out = NewRecord(text, n, arena);
        for (std::size_t j = 0; j < n; ++j) out[j] = p[j];
        return;
      }
    }
    // ASCII test and widening sixteen bytes at a time.
    for (; high < 0x80 && k + 16 <= n; k += 16)
      if (_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k)))) break;
    if (k + 16 > n)
      for (std::size_t j = k; j < n; ++j) high |= p[j];
    else
      high = 0x80;
    if (high < 0x80) {
      char16_t* out = NewRecord(text, n, arena);
      const __m128i zero = _mm_setzero_si128();
      std::size_t j = 0;
      for (; j + 16 <= n; j += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + j));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), _mm_unpacklo_epi8(x, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j + 8), _mm_unpackhi_epi8(x, zero));
      }
      if (j < n && n >= 16) {
        // The last sixteen bytes, overlapping what is already written.
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n - 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n - 16), _mm_unpacklo_epi8(x, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n - 8), _mm_unpackhi_epi8(x, zero));
        return;
      }
      for (; j < n; ++j) out[j] = p[j];
      return;
    }
  }
#endif
  if (high < 0x80) {
    for (; k < n; ++k) high |= static_cast<unsigned>(p[k]);
  }
  if (high < 0x80) {
    char16_t* out = NewRecord(text, n, arena);
    if constexpr (sizeof(CharT) == 1)
      WidenBytes(p, n, out);
    else
      std::memcpy(out, p, n * sizeof(char16_t));
    return;
  }
  Decode(s, e, FOut, FRule != Rule::None);
  text.Assign(FOut, arena);
}

template <class CharT>
void Parser<CharT>::Decode(std::size_t s, std::size_t e, String& out, bool applyRule) {
  const CharT* p = T + s;
  std::size_t n = e - s;
  out.resize(n);
  unsigned high = 0;
  for (std::size_t k = 0; k < n; ++k) {
    out[k] = static_cast<char16_t>(p[k]);
    high |= static_cast<unsigned>(p[k]);
  }
  // ASCII reads the same in every source and through every rule.
  if (high < 0x80) return;
  if constexpr (sizeof(CharT) == 1) {
    if (FSource == Source::Utf8) {
      out = UTF8ToString(std::string_view(reinterpret_cast<const char*>(p), n));
    } else {
      for (std::size_t k = 0; k < n; ++k) out[k] = AnsiToChar(p[k]);
    }
  }
  if (applyRule) ApplyRule(out);
}

template <class CharT>
void Parser<CharT>::ApplyRule(String& text) {
  if (FRule == Rule::Utf8) {
    // Each character stands for one byte: the one-byte model keeps codes up to 255 as they
    // are, and a character the ANSI code page decoded goes back to the byte it came from.
    FBytes.resize(text.size());
    for (std::size_t k = 0; k < text.size(); ++k) {
      char16_t c = text[k];
      unsigned char b = static_cast<unsigned char>(c);
      if (c > 0xFF && !CharToAnsi(c, b)) b = static_cast<unsigned char>(c);
      FBytes[k] = static_cast<char>(b);
    }
    if (!Utf8Decode(std::string_view(FBytes), FScratch)) Utf8DecodeReplacing(FBytes, FScratch);
    text.swap(FScratch);
  } else if (FRule == Rule::CodePage) {
    for (char16_t& c : text) {
      unsigned char b;
      if (!CharToAnsi(c, b)) b = '?';
      c = b < 0x80 ? b : FTable[b - 0x80];
    }
  }
}

template <class CharT>
void Parser<CharT>::SetEncoding(const String& value) {
  FRule = Rule::None;
  FTable = nullptr;
  // GetTagValue removes double quotes only; a declaration may quote with apostrophes as well
  // (encoding='UTF-8'), and the blank that ends the pair stays with such a value.
  std::u16string_view e(value);
  if (e.size() >= 2 && e.front() == u'\'') {
    while (e.size() > 1 && IsBlank(e.back())) e.remove_suffix(1);
    if (e.size() >= 2 && e.back() == u'\'') e = e.substr(1, e.size() - 2);
  }
  if (!FEngine.UTF8Processed && SameAsciiNoCase(e, u"utf-8")) {
    FRule = Rule::Utf8;
  } else if (e.size() >= 8 && SameAsciiNoCase(e.substr(0, 8), u"windows-")) {
    int codePage = 0;
    if (!TryStrToInt(String(e.substr(8)), codePage)) codePage = 0;
    FRule = Rule::CodePage;
    FTable = CodePageTable(codePage);
  }
}

template <class CharT>
void Parser<CharT>::SkipRejected(std::size_t floor) {
  if (!(T[i] == '/' && T[i + 1] == '>')) {
    // Back to the '>' that ended the rejected start tag. A start tag without one ('/' or the
    // end of the text stopped it) would send the search into text already read, and the parse
    // would read the same element again and again: it stops at the element's name instead.
    std::size_t j = i;
    for (;;) {
      if (j <= floor) {
        i = floor;
        break;
      }
      --j;
      if (T[j] == '>' || T[j] == 0) {
        i = j;
        break;
      }
    }
  }
  std::size_t depth = 1;
  while (i < N && depth > 0) {
    CharT c = T[i];
    if (c == 0) break;  // the text ends here: nothing further can open or close
    if (c == '/' && T[i + 1] == '>') {
      --depth;
      i += 2;
    } else if (c == '<' && T[i + 1] == '/') {
      --depth;
      i += 2;
      SkipToNextTag(false);
    } else {
      if (c == '<') ++depth;
      ++i;
    }
  }
  if (T[i] == '<') ++i;
}

template <class CharT>
void Parser<CharT>::Run() {
  TKtXMLItem* const root = FEngine.FRootItem;
  TKtXMLItem* C = nullptr;
  std::size_t s = 0, e = 0, as = 0, ae = 0;
  ReadText(s, e);
  while (i + 1 < N && T[i] != 0) {
    const std::size_t start = i;
    const std::size_t ns = i;
    const std::uint32_t known = GuessName(ns);
    i = known ? ns + FEntries[known - 1].keyBytes / sizeof(CharT) : ScanName<CharT>(T, i, N + 1);
    const std::size_t ne = i;
    const bool comment = ne - ns >= 3 && T[ns] == '!' && T[ns + 1] == '-' && T[ns + 2] == '-';
    bool direct = false;
    if (comment) {
      FA.clear();
      FName.assign(u"Comment");
      std::size_t j = i;
      bool found = false;
      for (; T[j] != 0; ++j) {
        if (T[j] == '-' && T[j + 1] == '-' && T[j + 2] == '>') {
          found = true;
          break;
        }
      }
      FV.assign(u"Comment");
      if (found) {
        Decode(i, j + 2, FScratch, false);
        FV += FScratch;
        i = j + 3;
        while (IsBlank(T[i])) ++i;
        if (T[i] == '<') ++i;
      } else {
        i = j;
      }
    } else {
      as = i;
      bool quoted = false;
      // Most start tags end right after the name.
      while (T[i] != '>') {
        i = quoted ? ScanFor<CharT>(T, i, N + 1, 0, '>', '"', '"') : ScanFor<CharT>(T, i, N + 1, 0, '>', '/', '"');
        if (T[i] != '"') break;
        quoted = !quoted;
        ++i;
      }
      ae = i;
      ReadText(s, e);
      direct = !FEngine.FOnTag;
      if (!direct) {
        FName.resize(ne - ns);
        for (std::size_t k = ns; k < ne; ++k) FName[k - ns] = static_cast<char16_t>(T[k]);
        Decode(as, ae, FA, FRule != Rule::None);
        Decode(s, e, FV, FRule != Rule::None);
      }
    }

    bool accept = true;
    if (ne > ns) {
      if (!C) {
        C = root;
      } else {
        if (FEngine.FOnTag) FEngine.FOnTag(&FEngine, C, FName, FV, FA, accept);
        if (accept) C = FNewest = NewChild(C);
      }
    }
    if (accept && C && direct) {
      // Without a handler to see them first, the texts go straight into the item's records.
      xml_detail::Arena* arena = C->OwnArena();
      if (known && arena == FEngine.FArena.get()) {
        C->FTagName.ShareRecord(FEntries[known - 1].record);
        Followed(FLastName, known);
      } else {
        AssignName(C->FTagName, T + ns, ne - ns, arena);
      }
      if (IsTag(T + ns, ne - ns, std::u16string_view(u"encoding", 8))) FEncodingAdded = true;
      if (e > s) {
        if (C->FValue.Length() == 0) {
          DecodeInto(C->FValue, s, e, arena);
        } else {
          Decode(s, e, FV, FRule != Rule::None);
          C->FValue.Append(FV);
        }
      }
      C->SetKind(ikProperty);
      if (ae > as) {
        if (IsTag(T + ns, ne - ns, std::u16string_view(u"?xml", 4))) {
          Decode(as, ae, FA, FRule != Rule::None);
          Declaration(C, root, arena);
        } else {
          DecodeInto(C->FAttributes, as, ae, arena);
        }
      }
    } else if (accept && C) {
      xml_detail::Arena* arena = C->OwnArena();
      AssignName(C->FTagName, FName.data(), FName.size(), arena);
      if (FName.size() == 8 && SameAsciiNoCase(FName, u"encoding")) FEncodingAdded = true;
      if (!FV.empty()) {
        if (C->FValue.Length() == 0)
          C->FValue.Assign(FV, arena);
        else
          C->FValue.Append(FV);
      }
      if (comment) {
        C->SetKind(ikComment);
        C = C->FParentItem;
      } else {
        C->SetKind(ikProperty);
        if (!FA.empty()) {
          if (SameAsciiNoCase(FName, u"?xml"))
            Declaration(C, root, arena);
          else
            C->FAttributes.Assign(FA, arena);
        }
      }
    }
    if (!accept) SkipRejected(ns);

    while (i + 1 < N && T[i] == '/' && C) {
      if (T[i + 1] == '>' && i + 2 == N) {
        i = N - 1;
        break;
      }
      TKtXMLItem* node = C;
      // The end tag of an element without children usually repeats the name read last: when
      // it does, the scan for the next tag starts behind it (a name and its '>' hold no '<').
      if (node == FNewest && FLastName) {
        if (const std::size_t len = NameAt(FLastName, i + 1); len && T[i + 1 + len] == '>') i += len + 2;
      }
      C = C->FParentItem;
      bool cancel = false;
      if (FEngine.FOnAfterTag) {
        TKtXMLItem* handed = node;
        FEngine.FOnAfterTag(&FEngine, handed, cancel);
        if (cancel) return;
      }
      SkipToNextTag(true);
    }
    // An iteration that moved nothing would repeat itself unchanged for ever (only possible
    // with no current item, on a "/>" the first scan stopped at): the tree is final.
    if (i == start) break;
  }
}

}  // namespace xml_detail

using xml_detail::Arena;

// ---- TKtXMLItems --------------------------------------------------------------------------

TKtXMLItems::~TKtXMLItems() {
  Clear();
  DropStore();
}

void** TKtXMLItems::NewStore(int capacity) {
  Arena* arena = ArrayArena();
  return arena ? arena->NewList(capacity) : TList::NewStore(capacity);
}

void TKtXMLItems::FreeStore(void** store, int capacity) noexcept {
  if (Arena* arena = ArrayArena())
    arena->FreeList(store, capacity);
  else
    TList::FreeStore(store, capacity);
}

TKtXMLItem* TKtXMLItems::AddItem(TKtXMLItem* ParentItem) {
  Arena* arena = ParentItem ? ParentItem->MemoryArena() : nullptr;
  TKtXMLItem* item =
      arena ? new (arena) TKtXMLItem(TKtXMLItem::ChildTag{}, ParentItem, reinterpret_cast<std::uintptr_t>(arena) | 1)
            : new TKtXMLItem(TKtXMLItem::ChildTag{}, ParentItem, 0);
  try {
    // A parse appends children one at a time: growing to 5, 11, 23, ... items means most
    // elements never need a second move, and the arrays left behind fit the next elements.
    if (const int n = Count(); n == Capacity()) SetCapacity(n < 5 ? 5 : 2 * n + 1);
    Add(item);
  } catch (...) {
    item->FParentItem = nullptr;
    delete item;
    throw;
  }
  return item;
}

void TKtXMLItems::Clear() {
  int n = Count();
  if (n == 0) return;
  std::vector<TKtXMLItem*> doomed;
  doomed.reserve(static_cast<std::size_t>(n));
  for (int k = n - 1; k >= 0; --k) doomed.push_back(Items(k));
  TList::Clear();
  // Detached first, so no item searches this (now empty) list for itself on the way out.
  for (TKtXMLItem* item : doomed) item->FParentItem = nullptr;
  for (TKtXMLItem* item : doomed) delete item;
}

// ---- TKtXMLItem ---------------------------------------------------------------------------

void* TKtXMLItem::operator new(std::size_t size) {
  void* p = std::malloc(size);
  if (!p) throw std::bad_alloc();
  return p;
}

void* TKtXMLItem::operator new(std::size_t size, Arena* arena) {
  static_assert(alignof(TKtXMLItem) <= 8);
  void* p = arena->Alloc(size, 8);
  arena->ItemBorn();
  return p;
}

void TKtXMLItem::operator delete(void* p) { std::free(p); }

void TKtXMLItem::operator delete(void* p, Arena* arena) {
  (void)p;
  arena->ItemDied();
}

// Where the memory goes back is known only to the item itself, so it is read before the item
// is destroyed.
void TKtXMLItem::operator delete(TKtXMLItem* p, std::destroying_delete_t) {
  Arena* own = p->OwnArena();
  p->~TKtXMLItem();
  if (own)
    own->ItemDied();
  else
    std::free(p);
}

TKtXMLItem::TKtXMLItem(TComponent* AOwner) : TComponent(AOwner) {
  FParentItem = dynamic_cast<TKtXMLItem*>(AOwner);
}

// Items of a tree are owned through their parent's Items alone: registering each with the
// framework's owner list as well would double the bookkeeping of a large tree.
TKtXMLItem::TKtXMLItem(ChildTag, TKtXMLItem* parent, std::uintptr_t place)
    : TComponent(nullptr), FParentItem(parent) {
  if (parent) FLevel = parent->FLevel + 1;
  FItems.FPlace = place;
}

TKtXMLItem::~TKtXMLItem() {
  FreeSubtree();
  // Items created directly with this item as framework owner go with the framework's
  // destruction below; they must not reach back into this half-destroyed item.
  for (int k = 0; k < ComponentCount(); ++k)
    if (auto* child = dynamic_cast<TKtXMLItem*>(Components(k)); child && child->FParentItem == this)
      child->FParentItem = nullptr;
  if (FParentItem) {
    TKtXMLItems& siblings = FParentItem->FItems;
    for (int k = siblings.Count() - 1; k >= 0; --k) {
      if (siblings.Items(k) == this) {
        siblings.Delete(k);
        break;
      }
    }
    FParentItem = nullptr;
  }
}

bool TKtXMLItem::GoesWithArena(const Arena* arena) const {
  return arena && OwnArena() == arena && !Owner() && !HasLinks() && !FTagName.OnHeap() && !FValue.OnHeap() &&
         !FAttributes.OnHeap() && FItems.Capacity() < Arena::kListClasses;
}

void TKtXMLItem::FreeSubtree() {
  if (FItems.Count() == 0) return;
  // Children are unhooked and freed from an explicit stack, so each destructor finds an empty
  // list and depth never reaches the call stack. Most items of a parsed tree hold nothing
  // outside the arena: they are not destroyed one by one but counted, and the arena learns of
  // them all at once at the end (freeing its blocks when nothing else lives in it), so a large
  // tree goes about as fast as it was read. Each item is looked at once, when it comes off the
  // stack: an item that is destroyed first forgets its parent, which may be gone already.
  Arena* const arena = OwnArena() ? OwnArena() : MemoryArena();
  std::size_t gone = 0;
  std::vector<TKtXMLItem*> stack;
  auto take = [&stack](TKtXMLItem* item) {
    const TKtXMLItems& list = item->FItems;
    const int n = list.Count();
    // Last child first, so that items come off the stack in document order, the order the
    // parse placed them in the arena: the walk reads the arena from front to back.
    for (int k = n - 1; k >= 0; --k) stack.push_back(list.Items(k));
  };
  take(this);
  FItems.TList::Clear();
  while (!stack.empty()) {
    TKtXMLItem* item = stack.back();
    stack.pop_back();
    take(item);
    if (item->GoesWithArena(arena)) {
      ++gone;
    } else {
      item->FItems.TList::Clear();
      item->FParentItem = nullptr;
      delete item;
    }
  }
  if (gone) arena->ItemsDied(gone);
}

void TKtXMLItem::SetTagName(const String& value) { FTagName.Assign(value, nullptr); }

TKtXMLVariant TKtXMLItem::Value() const {
  if (!FValue.Assigned()) return TKtXMLVariant();
  return TKtXMLVariant(FValue.Str());
}

void TKtXMLItem::SetValue(const TKtXMLVariant& value) {
  if (value.IsEmpty())
    FValue.Clear();
  else
    FValue.Assign(value.Text(), nullptr);
}

namespace {

// Depth-first, document order, the start item first; `limit` < 0 searches the whole subtree,
// otherwise items deeper than `limit` below the start are neither examined nor entered.
template <class Match>
TKtXMLItem* Search(const TKtXMLItem* start, int limit, Match match) {
  if (!start) return nullptr;
  if (match(start)) return const_cast<TKtXMLItem*>(start);
  struct Frame {
    const TKtXMLItem* item;
    int next;
  };
  std::vector<Frame> stack;
  stack.push_back({start, 0});
  while (!stack.empty()) {
    Frame& top = stack.back();
    const TKtXMLItems* items = top.item->Items();
    if (top.next >= items->Count()) {
      stack.pop_back();
      continue;
    }
    const TKtXMLItem* child = items->Items(top.next++);
    if (match(child)) return const_cast<TKtXMLItem*>(child);
    if ((limit < 0 || static_cast<int>(stack.size()) < limit) && child->Items()->Count() > 0)
      stack.push_back({child, 0});
  }
  return nullptr;
}

}  // namespace

TKtXMLItem* TKtXMLItem::GetChild(const String& XMLTag, bool ExpandAllLevels) const {
  std::u16string_view tag(XMLTag);
  return Search(this, ExpandAllLevels ? -1 : 2, [tag](const TKtXMLItem* item) { return item->TagNameView() == tag; });
}

String TKtXMLItem::GetTagXMLValue() const {
  String s(FValue.View());
  if (!s.empty() && s.front() == u'"') {
    while (!s.empty() &&
           (s.back() == u' ' || s.back() == u'"' || s.back() == u'\r' || s.back() == u'\n' || s.back() == u'\t'))
      s.pop_back();
    if (!s.empty()) s.erase(0, 1);
  }
  return s;
}

namespace {

struct EntityRow {
  std::u16string_view key;
  std::u16string_view replacement;
};

const EntityRow kEntityRows[25] = {
    {u"&brvbar", u"|"}, {u"&deg", u"\u00B0"}, {u"&#176", u"\u00B0"}, {u"&plusmn", u"+"},  {u"&para", u"\u00B6"},
    {u"&amp", u"&"},    {u"&lt", u"<"},       {u"&gt", u">"},        {u"&copy", u"c"},    {u"&quot", u"\""},
    {u"&apos", u"'"},   {u"&trade", u"T"},    {u"&nbsp", u""},       {u"&car", u"\n"},    {u"&ret", u"\r"},
    {u"&#009", u"\t"},  {u"&#x9", u"\t"},     {u"&#010", u"\n"},     {u"&#xa", u"\n"},    {u"&#013", u"\r"},
    {u"&#xd", u"\r"},   {u"&#034", u"\""},    {u"&#34", u"\""},      {u"&#039", u"'"},    {u"&#39", u"'"},
};

inline bool EndsWith(const String& s, std::u16string_view key) {
  return s.size() >= key.size() && std::u16string_view(s).substr(s.size() - key.size()) == key;
}

// One row of the table, with the result of replacing the first occurrence and searching again
// from the start until none is left. The searched-again text differs from the last one only
// where the replacement went in, and nothing before it held an occurrence, so the text is
// built left to right in `out` and only its end needs checking: every occurrence is found in
// the same order as by the restarting search, in one pass.
void ApplyRow(String& s, const EntityRow& row, String& out) {
  const std::u16string_view key = row.key;
  std::size_t first = s.find(key);
  if (first == String::npos) return;
  const char16_t last = key.back();
  out.assign(s, 0, first);
  std::size_t j = first;
  const std::size_t n = s.size();
  while (j < n) {
    std::size_t hit = s.find(last, j);
    if (hit == String::npos) {
      out.append(s, j, n - j);
      break;
    }
    out.append(s, j, hit + 1 - j);
    j = hit + 1;
    while (EndsWith(out, key)) {
      out.resize(out.size() - key.size());
      if (j < n && s[j] == u';') ++j;
      out.append(row.replacement);
    }
  }
  s.swap(out);
}

}  // namespace

String TKtXMLItem::GetTagValue() const {
  String s = GetTagXMLValue();
  if (s.empty() || s.find(u'&') == String::npos) return s;
  String out;
  for (const EntityRow& row : kEntityRows) ApplyRow(s, row, out);
  return s;
}

void TKtXMLItem::ProcessAttributes() {
  if (FAttributes.Length() == 0) return;
  const String text(FAttributes.View());
  String name, value;
  bool inName = true, quoted = false;
  const std::size_t n = text.size();
  for (std::size_t k = 0; k < n; ++k) {
    char16_t c = text[k];
    if (c == u'"') quoted = !quoted;
    if (c == u'=' && !quoted) {
      inName = false;
    } else if (inName) {
      name += c;
    } else {
      value += c;
    }
    if (!quoted && (xml_detail::IsBlank(c) || k + 1 == n)) {
      if (!name.empty() && !value.empty()) {
        TKtXMLItem* item = FItems.AddItem(this);
        Arena* arena = item->OwnArena();
        item->SetKind(ikAttribute);
        item->FTagName.Assign(name, arena);
        item->FValue.Assign(value, arena);
      }
      name.clear();
      value.clear();
      inName = true;
    }
  }
  FAttributes.Clear();
}

// ---- TKtXMLEngine -------------------------------------------------------------------------

TKtXMLEngine::TKtXMLEngine(TComponent* AOwner) : TComponent(AOwner), FArena(std::make_unique<Arena>()) {
  FRootItem = new TKtXMLItem(this);
  // The root lives on the heap (it outlives every parse) and hands the arena to its children.
  static_assert(alignof(Arena) >= 8, "the low three bits of a placement are flags");
  FRootItem->FItems.FPlace =
      reinterpret_cast<std::uintptr_t>(FArena.get()) | (FRootItem->FItems.FPlace & TKtXMLItems::kKindBits);
}

TKtXMLEngine::~TKtXMLEngine() {
  delete FRootItem;
  FRootItem = nullptr;
}

void TKtXMLEngine::ParseXMLFromString(const String& text, Integer length) {
  if (length <= 0 || text.empty()) return;
  // A length past the text's end reads up to its end: the parse's block scans may look at every
  // character it is given, so it is given no more than there are.
  auto n = std::min(static_cast<std::size_t>(length), text.size());
  if (n < text.size() && text[n] != 0) {
    // The parse must see a NUL right after the characters it was given.
    String prefix(text, 0, n);
    xml_detail::Parser<char16_t>(*this, prefix.c_str(), n, xml_detail::Source::Utf16).Run();
  } else {
    xml_detail::Parser<char16_t>(*this, text.c_str(), n, xml_detail::Source::Utf16).Run();
  }
}

namespace {

// Reads up to `count` bytes (fewer when the stream ends first) into `buf`, with room for a
// two-unit NUL sentinel after them.
std::size_t ReadBytes(TStream* stream, Int64 count, std::unique_ptr<unsigned char[]>& buf) {
  if (count <= 0) {
    buf.reset(new unsigned char[4]());
    return 0;
  }
  Int64 avail = stream->Size() - stream->Position();
  Int64 want = avail >= 0 && avail < count ? avail : count;
  if (want < 0) want = 0;
  auto capacity = static_cast<std::size_t>(want);
  buf.reset(new unsigned char[capacity + 4]);
  std::size_t got = 0;
  for (;;) {
    if (got == capacity) {
      // A stream that reports less than it holds: keep reading up to `count`.
      if (static_cast<Int64>(got) >= count) break;
      unsigned char probe[4096];
      long r = stream->Read(probe, static_cast<long>(std::min<Int64>(sizeof probe, count - static_cast<Int64>(got))));
      if (r <= 0) break;
      std::size_t grown = std::max(capacity * 2, capacity + static_cast<std::size_t>(r));
      std::unique_ptr<unsigned char[]> bigger(new unsigned char[grown + 4]);
      std::memcpy(bigger.get(), buf.get(), got);
      std::memcpy(bigger.get() + got, probe, static_cast<std::size_t>(r));
      buf.swap(bigger);
      capacity = grown;
      got += static_cast<std::size_t>(r);
      continue;
    }
    std::size_t chunk = std::min<std::size_t>(capacity - got, 1u << 30);
    long r = stream->Read(buf.get() + got, static_cast<long>(chunk));
    if (r <= 0) break;
    got += static_cast<std::size_t>(r);
  }
  std::memset(buf.get() + got, 0, 4);
  return got;
}

void ParseUnits(TKtXMLEngine& engine, std::vector<char16_t>& units) {
  if (units.empty()) return;
  std::size_t n = units.size();
  if (units.back() == 0x1B) units.back() = 0;
  units.push_back(0);
  xml_detail::Parser<char16_t>(engine, units.data(), n, xml_detail::Source::Utf16).Run();
}

std::vector<char16_t> Utf16Units(const unsigned char* p, std::size_t bytes, bool bigEndian) {
  std::vector<char16_t> units(bytes / 2);
  for (std::size_t k = 0; k < units.size(); ++k) {
    unsigned a = p[2 * k], b = p[2 * k + 1];
    units[k] = static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
  }
  return units;
}

}  // namespace

void TKtXMLEngine::LoadFromStream(Integer AStreamSize, TStream* AStream) {
  FRootItem->FItems.Clear();
  if (!AStream) return;
  Int64 count = (AStreamSize != 0 ? static_cast<Int64>(AStreamSize) : AStream->Size()) - AStream->Position();
  unsigned mark = 0;
  long got = 0;
  if (AStreamSize == 0) {
    unsigned char m[2];
    got = AStream->Read(m, 2);
    if (got == 2) mark = m[0] | (m[1] << 8);
    if (got < 0) got = 0;
  }
  UTF8Processed = false;
  std::unique_ptr<unsigned char[]> buf;
  if (mark == 0xFEFF || mark == 0xFFFE) {
    std::size_t n = ReadBytes(AStream, count - 2, buf);
    UTF8Processed = true;
    std::vector<char16_t> units = Utf16Units(buf.get(), n, mark == 0xFFFE);
    ParseUnits(*this, units);
    return;
  }
  if (got > 0) AStream->Seek(-got, soCurrent);
  std::size_t n = ReadBytes(AStream, count, buf);
  unsigned char* p = buf.get();
  xml_detail::Source source = xml_detail::Source::Ansi;
  if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
    UTF8Processed = true;
    source = xml_detail::Source::Utf8;
    p += 3;
    n -= 3;
  } else if (n >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
    std::vector<char16_t> units = Utf16Units(p + 2, n - 2, p[0] == 0xFE);
    ParseUnits(*this, units);
    return;
  }
  if (n == 0) return;
  // A trailing ESC is dropped but the length stays, so its place reads as the end of the text.
  if (p[n - 1] == 0x1B) p[n - 1] = 0;
  xml_detail::Parser<unsigned char>(*this, p, n, source).Run();
}

void TKtXMLEngine::LoadFromFile(const String& AFileName) {
  TFileStream stream(AFileName, fmOpenRead | fmShareDenyWrite);
  stream.SetPosition(0);
  LoadFromStream(0, &stream);
}

TKtXMLItem* TKtXMLEngine::GetItemByTag(TKtXMLItem* ARoot, const String& XMLTag) const {
  std::u16string_view tag(XMLTag);
  return Search(ARoot ? ARoot : FRootItem, -1, [tag](const TKtXMLItem* item) {
    return xml_detail::SameAsciiNoCase(item->TagNameView(), tag);
  });
}

String TKtXMLEngine::GetFirstTagName(String& AXMLPath) const {
  std::size_t slash = AXMLPath.find(u'/');
  if (slash == String::npos) {
    String result;
    result.swap(AXMLPath);
    return result;
  }
  String result = AXMLPath.substr(0, slash);
  AXMLPath.erase(0, slash + 1);
  return result;
}

String TKtXMLEngine::GetLastTagName(String& AXMLPath) const {
  std::size_t slash = AXMLPath.rfind(u'/');
  if (slash == String::npos) {
    String result;
    result.swap(AXMLPath);
    return result;
  }
  String result = AXMLPath.substr(slash + 1);
  AXMLPath.erase(slash);
  return result;
}

// ---- Unit functions -----------------------------------------------------------------------

bool SameStrings(bool CaseSensitive, const String& S1, const String& S2) {
  return CaseSensitive ? S1 == S2 : xml_detail::SameAsciiNoCase(S1, S2);
}

TDateTime XMLStringToDateTime(const String& S) {
  if (S.size() < 19) return 0;
  auto field = [&S](std::size_t pos, std::size_t len, int& out) {
    return TryStrToInt(S.substr(pos, len), out) && out >= 0 && out <= 0xFFFF;
  };
  int year, month, day, hour, minute, second;
  if (!field(0, 4, year) || !field(5, 2, month) || !field(8, 2, day) || !field(11, 2, hour) ||
      !field(14, 2, minute) || !field(17, 2, second))
    return 0;
  TDateTime date, time;
  if (!TryEncodeDate(static_cast<Word>(year), static_cast<Word>(month), static_cast<Word>(day), date)) return 0;
  if (!TryEncodeTime(static_cast<Word>(hour), static_cast<Word>(minute), static_cast<Word>(second), 0, time)) return 0;
  return date + time;
}

}  // namespace ktinet
