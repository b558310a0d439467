#include "vcl/Graphics.h"

#include <algorithm>

#include "rtl/Exceptions.h"
#include "rtl/Streams.h"

namespace ktinet {

namespace {

unsigned Le16(const std::string& b, size_t at) {
  return static_cast<unsigned char>(b[at]) | static_cast<unsigned>(static_cast<unsigned char>(b[at + 1])) << 8;
}
long Le32(const std::string& b, size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + static_cast<size_t>(i)]);
  return static_cast<std::int32_t>(v);
}
unsigned Be16(const std::string& b, size_t at) {
  return static_cast<unsigned>(static_cast<unsigned char>(b[at])) << 8 | static_cast<unsigned char>(b[at + 1]);
}
unsigned long Be32(const std::string& b, size_t at) {
  return static_cast<unsigned long>(Be16(b, at)) << 16 | Be16(b, at + 2);
}

// A header's size can be anything a file says; keep it to what an int holds.
int Dim(long long v) { return v < 0 ? 0 : v > 0x7fffffff ? 0x7fffffff : static_cast<int>(v); }

std::string ReadAll(TStream* stream) {
  std::string bytes;
  char buf[8192];
  for (long n; (n = stream->Read(buf, sizeof buf)) > 0;) bytes.append(buf, static_cast<size_t>(n));
  return bytes;
}

}  // namespace

// ---- TGraphic -------------------------------------------------------------------------------

void TGraphic::SetSize(int width, int height) {
  if (!FData.empty() || (width == FWidth && height == FHeight)) return;
  FWidth = std::max(width, 0);
  FHeight = std::max(height, 0);
  Changed();
}

void TGraphic::SetTransparent(bool v) {
  if (v == FTransparent) return;
  FTransparent = v;
  Changed();
}

void TGraphic::LoadFromBytes(std::string bytes) {
  int w = 0, h = 0;
  if (!bytes.empty() && !ReadHeader(bytes, w, h))
    throw EInvalidGraphic(UTF8Encode(DefaultExtension() == u"bmp"   ? u"Bitmap"
                                     : DefaultExtension() == u"ico" ? u"Icon"
                                                                    : UpperCase(DefaultExtension())) +
                          " image is not valid");
  FData = std::move(bytes);
  FWidth = w;
  FHeight = h;
  Changed();
}

void TGraphic::LoadFromFile(const String& fileName) {
  TFileStream f(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&f);
}

void TGraphic::SaveToFile(const String& fileName) const {
  TFileStream f(fileName, fmCreate);
  SaveToStream(&f);
}

void TGraphic::LoadFromStream(TStream* stream) { LoadFromBytes(ReadAll(stream)); }

void TGraphic::SaveToStream(TStream* stream) const {
  if (!FData.empty()) stream->WriteBuffer(FData.data(), static_cast<long>(FData.size()));
}

void TGraphic::SetDescription(const String& v) {
  if (v == FDescription) return;
  FDescription = v;
  Changed();
}

void TGraphic::SetGlyph(const String& v) {
  if (v == FGlyph) return;
  FGlyph = v;
  Changed();
}

void TGraphic::Assign(const TPersistent* source) {
  if (!source) {
    Clear();
    return;
  }
  auto* g = dynamic_cast<const TGraphic*>(source);
  if (!g || g->ClassName() != ClassName()) {
    TPersistent::Assign(source);
    return;
  }
  if (g == this) return;
  FData = g->FData;
  FDescription = g->FDescription;
  FGlyph = g->FGlyph;
  FWidth = g->FWidth;
  FHeight = g->FHeight;
  FTransparent = g->FTransparent;
  Changed();
}

void TGraphic::Clear() {
  if (Empty() && FWidth == 0 && FHeight == 0 && FDescription.empty()) return;
  FData.clear();
  FDescription.clear();
  FGlyph.clear();
  FWidth = FHeight = 0;
  Changed();
}

void TGraphic::Changed() {
  if (OnChange) OnChange(this);
}

// ---- the graphic classes --------------------------------------------------------------------

#define KTINET_GRAPHIC_COMMON(Name, ext)                                                  \
  std::unique_ptr<TGraphic> Name::Clone() const {                                        \
    auto copy = std::make_unique<Name>();                                                \
    copy->Assign(this);                                                                  \
    return copy;                                                                         \
  }                                                                                      \
  String Name::DefaultExtension() const { return ext; }

KTINET_GRAPHIC_COMMON(TBitmap, u"bmp")
KTINET_GRAPHIC_COMMON(TIcon, u"ico")
KTINET_GRAPHIC_COMMON(TPngImage, u"png")
KTINET_GRAPHIC_COMMON(TJPEGImage, u"jpg")
KTINET_GRAPHIC_COMMON(TGIFImage, u"gif")
#undef KTINET_GRAPHIC_COMMON

bool TBitmap::ReadHeader(const std::string& b, int& width, int& height) const {
  if (b.size() < 26 || b[0] != 'B' || b[1] != 'M') return false;
  long headerSize = Le32(b, 14);
  if (headerSize == 12) {  // the old core header: 16-bit sizes
    width = Dim(Le16(b, 18));
    height = Dim(Le16(b, 20));
    return true;
  }
  if (headerSize < 40 || b.size() < 26) return false;
  long long h = Le32(b, 22);
  width = Dim(Le32(b, 18));
  height = Dim(h < 0 ? -h : h);  // negative: rows stored top-down
  return true;
}

bool TIcon::ReadHeader(const std::string& b, int& width, int& height) const {
  if (b.size() < 22 || Le16(b, 0) != 0 || Le16(b, 2) != 1 || Le16(b, 4) == 0) return false;
  width = static_cast<unsigned char>(b[6]) ? static_cast<unsigned char>(b[6]) : 256;
  height = static_cast<unsigned char>(b[7]) ? static_cast<unsigned char>(b[7]) : 256;
  return true;
}

bool TPngImage::ReadHeader(const std::string& b, int& width, int& height) const {
  static const char kSignature[] = "\x89PNG\r\n\x1a\n";
  if (b.size() < 24 || b.compare(0, 8, kSignature, 8) != 0 || b.compare(12, 4, "IHDR") != 0) return false;
  width = Dim(static_cast<long long>(Be32(b, 16)));
  height = Dim(static_cast<long long>(Be32(b, 20)));
  return true;
}

bool TJPEGImage::ReadHeader(const std::string& b, int& width, int& height) const {
  if (b.size() < 4 || static_cast<unsigned char>(b[0]) != 0xFF || static_cast<unsigned char>(b[1]) != 0xD8) return false;
  // Walk the segments to the first start-of-frame; its header carries the size.
  size_t at = 2;
  while (at + 4 <= b.size()) {
    if (static_cast<unsigned char>(b[at]) != 0xFF) return false;
    unsigned marker = static_cast<unsigned char>(b[at + 1]);
    if (marker == 0xFF) {
      ++at;
      continue;
    }
    if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      at += 2;
      continue;
    }
    unsigned length = Be16(b, at + 2);
    bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      if (at + 9 > b.size()) return false;
      height = static_cast<int>(Be16(b, at + 5));
      width = static_cast<int>(Be16(b, at + 7));
      return true;
    }
    if (length < 2) return false;
    at += 2 + length;
  }
  // No frame header in reach: still a JPEG file, of a size decoding will tell.
  return true;
}

bool TGIFImage::ReadHeader(const std::string& b, int& width, int& height) const {
  if (b.size() < 10 || (b.compare(0, 6, "GIF87a") != 0 && b.compare(0, 6, "GIF89a") != 0)) return false;
  width = static_cast<int>(Le16(b, 6));
  height = static_cast<int>(Le16(b, 8));
  return true;
}

std::unique_ptr<TGraphic> GraphicClassForExtension(const String& extension) {
  String ext = LowerCase(extension);
  if (!ext.empty() && ext[0] == u'.') ext.erase(0, 1);
  if (ext == u"bmp") return std::make_unique<TBitmap>();
  if (ext == u"ico") return std::make_unique<TIcon>();
  if (ext == u"png") return std::make_unique<TPngImage>();
  if (ext == u"jpg" || ext == u"jpeg") return std::make_unique<TJPEGImage>();
  if (ext == u"gif") return std::make_unique<TGIFImage>();
  return nullptr;
}

std::string MakeBitmapFile(const std::vector<std::string>& rows, const std::vector<std::pair<char, TColor>>& palette) {
  size_t width = 0;
  for (const auto& r : rows) width = std::max(width, r.size());
  size_t height = rows.size();
  size_t stride = (width * 3 + 3) & ~static_cast<size_t>(3);
  size_t pixels = stride * height;
  std::string b(54 + pixels, '\0');
  auto put32 = [&](size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i) & 0xFF);
  };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, static_cast<std::uint32_t>(b.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(width));
  put32(22, static_cast<std::uint32_t>(height));
  b[26] = 1;   // planes
  b[28] = 24;  // bits per pixel
  put32(34, static_cast<std::uint32_t>(pixels));
  put32(38, 2835);  // 72 dots per inch
  put32(42, 2835);
  const TColor transparent = 0xFF00FF;
  for (size_t y = 0; y < height; ++y) {
    // Rows are stored bottom-up.
    size_t at = 54 + (height - 1 - y) * stride;
    for (size_t x = 0; x < width; ++x) {
      TColor c = transparent;
      if (x < rows[y].size())
        for (const auto& [letter, colour] : palette)
          if (letter == rows[y][x]) c = colour;
      b[at + x * 3] = static_cast<char>(c >> 16 & 0xFF);     // blue
      b[at + x * 3 + 1] = static_cast<char>(c >> 8 & 0xFF);  // green
      b[at + x * 3 + 2] = static_cast<char>(c & 0xFF);       // red
    }
  }
  return b;
}

std::string MakeIconFile(const std::vector<std::string>& rows, const std::vector<std::pair<char, TColor>>& palette) {
  size_t width = 0;
  for (const auto& r : rows) width = std::max(width, r.size());
  size_t height = rows.size();
  if (width > 256 || height > 256) throw EInvalidGraphic("An icon is at most 256 x 256");
  size_t maskStride = ((width + 31) / 32) * 4;
  size_t dibSize = 40 + width * height * 4 + maskStride * height;
  std::string b(6 + 16 + dibSize, '\0');
  auto put16 = [&](size_t at, unsigned v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>(v >> 8 & 0xFF);
  };
  auto put32 = [&](size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i) & 0xFF);
  };
  put16(2, 1);  // an icon, not a cursor
  put16(4, 1);  // one image
  b[6] = static_cast<char>(width == 256 ? 0 : width);
  b[7] = static_cast<char>(height == 256 ? 0 : height);
  put16(10, 1);
  put16(12, 32);
  put32(14, static_cast<std::uint32_t>(dibSize));
  put32(18, 22);
  size_t dib = 22;
  put32(dib, 40);
  put32(dib + 4, static_cast<std::uint32_t>(width));
  put32(dib + 8, static_cast<std::uint32_t>(height * 2));  // colour and mask rows together
  put16(dib + 12, 1);
  put16(dib + 14, 32);
  for (size_t y = 0; y < height; ++y) {
    size_t row = height - 1 - y;
    for (size_t x = 0; x < width; ++x) {
      const TColor* found = nullptr;
      if (x < rows[y].size())
        for (const auto& entry : palette)
          if (entry.first == rows[y][x]) found = &entry.second;
      size_t at = dib + 40 + (row * width + x) * 4;
      if (found) {
        b[at] = static_cast<char>(*found >> 16 & 0xFF);
        b[at + 1] = static_cast<char>(*found >> 8 & 0xFF);
        b[at + 2] = static_cast<char>(*found & 0xFF);
        b[at + 3] = static_cast<char>(0xFF);
      } else {
        size_t mask = dib + 40 + width * height * 4 + row * maskStride + x / 8;
        b[mask] = static_cast<char>(b[mask] | (0x80 >> (x % 8)));
      }
    }
  }
  return b;
}

// ---- TPicture -------------------------------------------------------------------------------

TPicture::TPicture() = default;
TPicture::~TPicture() = default;

void TPicture::Take(std::unique_ptr<TGraphic> g) {
  FGraphic = std::move(g);
  if (FGraphic) FGraphic->OnChange = [this](TObject*) { Changed(); };
  Changed();
}

void TPicture::SetGraphic(const TGraphic* g) {
  if (g == FGraphic.get()) return;
  Take(g ? g->Clone() : nullptr);
}

TBitmap* TPicture::Bitmap() {
  if (!dynamic_cast<TBitmap*>(FGraphic.get())) Take(std::make_unique<TBitmap>());
  return static_cast<TBitmap*>(FGraphic.get());
}

TIcon* TPicture::Icon() {
  if (!dynamic_cast<TIcon*>(FGraphic.get())) Take(std::make_unique<TIcon>());
  return static_cast<TIcon*>(FGraphic.get());
}

void TPicture::LoadFromFile(const String& fileName) {
  std::unique_ptr<TGraphic> g = GraphicClassForExtension(ExtractFileExt(fileName));
  if (!g) {
    String ext = ExtractFileExt(fileName);
    throw EInvalidGraphic(u"Unknown picture file extension (" + (ext.empty() ? String(u".") : ext) + u")");
  }
  // Loaded aside first, so a file that fails leaves the picture as it was.
  g->LoadFromFile(fileName);
  Take(std::move(g));
}

std::string TPicture::GetData() const {
  if (!FGraphic || FGraphic->Data().empty()) return std::string();
  std::string name = UTF8Encode(FGraphic->ClassName());
  return std::string(1, static_cast<char>(name.size())) + name + FGraphic->Data();
}

void TPicture::SetData(const std::string& data) {
  if (data.empty()) {
    SetGraphic(nullptr);
    return;
  }
  const size_t len = static_cast<unsigned char>(data[0]);
  if (data.size() < 1 + len) throw EInvalidGraphic("The picture data is cut short");
  const std::string name = data.substr(1, len);
  std::unique_ptr<TGraphic> g;
  for (const char* ext : {"bmp", "ico", "png", "jpg", "gif"}) {
    auto candidate = GraphicClassForExtension(UTF8ToString(ext));
    if (UTF8Encode(candidate->ClassName()) == name) g = std::move(candidate);
  }
  if (!g) throw EInvalidGraphic(u"Unknown picture class " + UTF8ToString(name));
  g->LoadFromBytes(data.substr(1 + len));
  Take(std::move(g));
}

const TClassInfo* TGraphic::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TGraphic>(u"TGraphic", nullptr)
                                      .Binary(u"Data", [](const TGraphic* g) { return g->Data(); },
                                              [](TGraphic* g, const std::string& v) {
                                                if (v.empty()) g->Clear();
                                                else g->LoadFromBytes(v);
                                              })
                                      .Build();
  return info;
}

const TClassInfo* TPicture::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TPicture>(u"TPicture", nullptr)
                                      .Binary(u"Data", [](const TPicture* p) { return p->GetData(); },
                                              [](TPicture* p, const std::string& v) { p->SetData(v); })
                                      .Build();
  return info;
}

void TPicture::SaveToFile(const String& fileName) const {
  if (!FGraphic || FGraphic->Data().empty()) throw EInvalidGraphic("The picture holds no image to save");
  FGraphic->SaveToFile(fileName);
}

void TPicture::Assign(const TPersistent* source) {
  if (!source) {
    SetGraphic(nullptr);
  } else if (auto* p = dynamic_cast<const TPicture*>(source)) {
    if (p != this) SetGraphic(p->Graphic());
  } else if (auto* g = dynamic_cast<const TGraphic*>(source)) {
    SetGraphic(g);
  } else {
    TPersistent::Assign(source);
  }
}

void TPicture::Changed() {
  if (OnChange) OnChange(this);
}

}  // namespace ktinet
