// The package's design-time resources: the palette bitmaps the IDE looks up by class
// name, and the package description.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "design/KtInetRes.h"
#include "rtl/SysUtils.h"
#include "support/TempDir.h"
#include "vcl/Graphics.h"

namespace ktinet {
namespace {

std::string U8(const String& s) { return UTF8Encode(s); }

std::uint32_t Le32(const std::string& b, size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + static_cast<size_t>(i)]);
  return v;
}
unsigned Le16(const std::string& b, size_t at) {
  return static_cast<unsigned char>(b[at]) | static_cast<unsigned>(static_cast<unsigned char>(b[at + 1])) << 8;
}

// The pixels of a 24 x 24, 24-bit, bottom-up .bmp file as 0xRRGGBB values, top row first.
// Checks the file's headers on the way; a failed check leaves `pixels` empty.
void ReadBitmap(const std::string& b, std::vector<std::uint32_t>& pixels) {
  pixels.clear();
  ASSERT_GE(b.size(), 54u);
  EXPECT_EQ(b.substr(0, 2), "BM");
  EXPECT_EQ(Le32(b, 2), b.size()) << "file size field";
  const std::uint32_t offset = Le32(b, 10);
  EXPECT_EQ(Le32(b, 14), 40u) << "info header size";
  EXPECT_EQ(static_cast<std::int32_t>(Le32(b, 18)), 24) << "width";
  EXPECT_EQ(static_cast<std::int32_t>(Le32(b, 22)), 24) << "height, positive for bottom-up rows";
  EXPECT_EQ(Le16(b, 26), 1u) << "planes";
  ASSERT_EQ(Le16(b, 28), 24u) << "bits per pixel";
  EXPECT_EQ(Le32(b, 30), 0u) << "compression (BI_RGB)";
  EXPECT_GE(offset, 54u);
  const size_t stride = (24 * 3 + 3) / 4 * 4;
  ASSERT_GE(b.size(), offset + stride * 24) << "pixel data runs past the end of the file";
  EXPECT_EQ(b.size(), offset + stride * 24) << "bytes after the pixel data";
  for (size_t y = 0; y < 24; ++y) {
    const size_t row = offset + (23 - y) * stride;  // the file's first row is the bottom one
    for (size_t x = 0; x < 24; ++x) {
      const size_t at = row + x * 3;
      pixels.push_back(static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
                       static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
                       static_cast<unsigned char>(b[at]));
    }
  }
}

const char16_t* const kPaletteClasses[] = {
    u"TKtWhoIs",        u"TKtInetDateTime", u"TKtUPSTracker",    u"TKtFedExTracker", u"TKtIHTTPClient",
    u"TKtWebUpdater",   u"TKtWebDirect",    u"TKtRemoteImage",   u"TKtInfoExtractor", u"TKtWeatherInfo",
    u"TKtRemoteFiles",  u"TKtISMTP",        u"TKtMSTranslator",  u"TKtIDNSResolver",
};

TEST(PackageResources, DescriptionReadsAsTheIdeShowsIt) {
  EXPECT_EQ(U8(PackageDescription()), "Ardenfold Internet components");
}

TEST(PackageResources, OneBitmapPerClassNamedInUpperCase) {
  std::vector<std::string> expected;
  for (const char16_t* cls : kPaletteClasses) expected.push_back(U8(UpperCase(cls)));
  std::vector<std::string> names;
  for (const String& n : PaletteBitmapNames()) names.push_back(U8(n));
  EXPECT_EQ(names, expected);
}

TEST(PackageResources, EveryBitmapIsA24By24DrawingOurPictureReaderLoads) {
  test::TempDir dir;
  std::set<std::vector<std::uint32_t>> seen;
  std::set<std::uint32_t> transparent;
  for (const String& name : PaletteBitmapNames()) {
    SCOPED_TRACE(U8(name));
    std::string bmp;
    ASSERT_TRUE(FindPaletteBitmap(name, bmp));

    TPicture picture;
    picture.LoadFromFile(UTF8ToString(dir.Write(U8(name) + ".bmp", bmp)));
    ASSERT_NE(dynamic_cast<TBitmap*>(picture.Graphic()), nullptr);
    EXPECT_EQ(picture.Width(), 24);
    EXPECT_EQ(picture.Height(), 24);

    std::vector<std::uint32_t> pixels;
    ReadBitmap(bmp, pixels);
    ASSERT_EQ(pixels.size(), 24u * 24u);
    const std::uint32_t background = pixels[23 * 24];  // lower left: the IDE's transparent colour
    transparent.insert(background);
    std::set<std::uint32_t> colours(pixels.begin(), pixels.end());
    EXPECT_GE(colours.size(), 4u) << "a drawing, not a blank";
    size_t drawn = 0;
    for (std::uint32_t p : pixels) drawn += p != background;
    EXPECT_GE(drawn, 24u * 24u / 4) << "the drawing fills a fair part of the square";
    EXPECT_LT(drawn, 24u * 24u) << "some of the square shows through";
    EXPECT_TRUE(seen.insert(pixels).second) << "drawn the same as another component";
  }
  EXPECT_EQ(seen.size(), 14u);
  // One background colour across the palette, the classic magenta key.
  EXPECT_EQ(transparent, (std::set<std::uint32_t>{0xFF00FF}));
}

TEST(PackageResources, DrawingsStandTheRightWayUp) {
  // Rows are stored bottom-up: read the other way, the name servers' tree would hang from its leaves.
  std::string bmp;
  ASSERT_TRUE(FindPaletteBitmap(u"TKTIDNSRESOLVER", bmp));
  std::vector<std::uint32_t> pixels;
  ReadBitmap(bmp, pixels);
  ASSERT_EQ(pixels.size(), 24u * 24u);
  size_t lowestRoot = 0, highestLeaf = 24;
  for (size_t i = 0; i < pixels.size(); ++i) {
    if (pixels[i] == 0xD02020) lowestRoot = std::max(lowestRoot, i / 24);  // the red root
    if (pixels[i] == 0x30A040) highestLeaf = std::min(highestLeaf, i / 24);  // the green leaves
  }
  ASSERT_GT(lowestRoot, 0u);
  ASSERT_LT(highestLeaf, 24u);
  EXPECT_LT(lowestRoot, highestLeaf);
}

TEST(PackageResources, LookupIgnoresCaseAndFindsNothingElse) {
  std::string upper, lower, mixed;
  ASSERT_TRUE(FindPaletteBitmap(u"TKTISMTP", upper));
  ASSERT_TRUE(FindPaletteBitmap(u"tktismtp", lower));
  ASSERT_TRUE(FindPaletteBitmap(u"TKtISMTP", mixed));
  EXPECT_EQ(lower, upper);
  EXPECT_EQ(mixed, upper);
  std::string whois;
  ASSERT_TRUE(FindPaletteBitmap(u"TKtWhoIs", whois));
  EXPECT_NE(whois, upper);

  // The RSS parser and the SNTP client show the IDE's default image: no bitmap of ours.
  for (const char16_t* name : {u"TKTIRSSPARSER", u"TKtInetSNTP", u"", u"TKTWHOIS ", u" TKTWHOIS", u"TKTWHOI",
                               u"TKTWHOISX", u"TKTINETBASE"}) {
    SCOPED_TRACE(U8(name));
    std::string bmp = "untouched";
    EXPECT_FALSE(FindPaletteBitmap(name, bmp));
    EXPECT_EQ(bmp, "untouched");
  }
  // A name with an embedded NUL is not the name before it.
  std::string bmp;
  EXPECT_FALSE(FindPaletteBitmap(std::u16string_view(u"TKTISMTP\0X", 10), bmp));
}

}  // namespace
}  // namespace ktinet
