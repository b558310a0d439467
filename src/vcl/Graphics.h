// Colours, fonts and pictures of the visual stand-in. Only what forms describe is
// kept: backends that draw may use it, the terminal shows bold, text glyphs and
// nothing else.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "rtl/Classes.h"
#include "rtl/TypInfo.h"

namespace ktinet {

class TStream;

// 0x00BBGGRR as the framework stores it; system colours have the high byte set.
using TColor = std::int32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clNavy = 0x800000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;
constexpr TColor clBtnFace = static_cast<TColor>(0xFF00000F);
constexpr TColor clWindow = static_cast<TColor>(0xFF000005);
constexpr TColor clWindowText = static_cast<TColor>(0xFF000008);
constexpr TColor clHighlight = static_cast<TColor>(0xFF00000D);

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = unsigned;  // or-ed TFontStyle bits

// A plain value: controls copy fonts, they never share them.
struct TFont {
  String Name = u"Tahoma";
  int Height = -11;  // negative: character height in pixels, as the form designer stores it
  TFontStyles Style = 0;
  TColor Color = clWindowText;

  bool Bold() const { return (Style & fsBold) != 0; }
  bool operator==(const TFont&) const = default;
};

// An image as its file holds it (BMP, ICO, PNG, JPEG, GIF bytes). Decoding into
// pixels is not done here; Width and Height come from the file's header where it is
// cheap to read. Two things of ours travel with the bytes: a Description of what
// the picture shows, and a Glyph, the few characters a text backend draws instead.
class TGraphic : public TPersistent {
  KTINET_PUBLISHED(TGraphic)
 public:
  TGraphic() = default;
  TGraphic(const TGraphic&) = delete;
  TGraphic& operator=(const TGraphic&) = delete;

  // A new graphic of the same class holding the same image.
  virtual std::unique_ptr<TGraphic> Clone() const = 0;
  // The file extension this class reads and writes, without the dot ("bmp").
  virtual String DefaultExtension() const = 0;

  // Empty: no image bytes and no glyph.
  bool Empty() const { return FData.empty() && FGlyph.empty(); }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  // Sets the size when the bytes say nothing (a drawn marker); the bytes' header wins otherwise.
  void SetSize(int width, int height);
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool v);

  const std::string& Data() const { return FData; }
  // Takes the bytes of an image file; raises EInvalidGraphic when they are not of this class's format.
  void LoadFromBytes(std::string bytes);
  void LoadFromFile(const String& fileName);
  void SaveToFile(const String& fileName) const;
  void LoadFromStream(TStream* stream);
  void SaveToStream(TStream* stream) const;

  const String& Description() const { return FDescription; }
  void SetDescription(const String& v);
  const String& Glyph() const { return FGlyph; }
  void SetGlyph(const String& v);

  // Same class: copies the image, glyph, description and transparency; null empties.
  void Assign(const TPersistent* source) override;
  // Empties the graphic.
  void Clear();

  TNotifyEvent OnChange;

 protected:
  // Checks a file's bytes and reads the size from its header; false when the bytes are not of this format.
  virtual bool ReadHeader(const std::string& bytes, int& width, int& height) const = 0;
  void Changed();

 private:
  std::string FData;
  String FDescription;
  String FGlyph;
  int FWidth = 0;
  int FHeight = 0;
  bool FTransparent = false;
};

#define KTINET_GRAPHIC_CLASS(Name)                                               \
  class Name : public TGraphic {                                                 \
   public:                                                                       \
    std::unique_ptr<TGraphic> Clone() const override;                            \
    String DefaultExtension() const override;                                    \
                                                                                 \
   protected:                                                                    \
    bool ReadHeader(const std::string& bytes, int& width, int& height) const override; \
  };

KTINET_GRAPHIC_CLASS(TBitmap)     // .bmp
KTINET_GRAPHIC_CLASS(TIcon)       // .ico
KTINET_GRAPHIC_CLASS(TPngImage)   // .png
KTINET_GRAPHIC_CLASS(TJPEGImage)  // .jpg, .jpeg
KTINET_GRAPHIC_CLASS(TGIFImage)   // .gif
#undef KTINET_GRAPHIC_CLASS

// A 24-bit BMP file of `rows.size()` rows, each row a string of palette letters
// (top row first); `palette` maps a letter to a colour, a letter not in it is the
// transparent colour (magenta, as the framework's bitmaps use). Our own artwork is
// drawn this way.
std::string MakeBitmapFile(const std::vector<std::string>& rows, const std::vector<std::pair<char, TColor>>& palette);
// The same drawing as a one-image icon file (32-bit, letters outside the palette transparent).
std::string MakeIconFile(const std::vector<std::string>& rows, const std::vector<std::pair<char, TColor>>& palette);

// Holds one graphic of any class, as TImage and the status window's settings do.
// The graphic is owned; assigning copies it.
class TPicture : public TPersistent {
  KTINET_PUBLISHED(TPicture)
 public:
  TPicture();
  ~TPicture() override;
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;

  // Null when the picture holds nothing.
  TGraphic* Graphic() const { return FGraphic.get(); }
  // Copies `g` (null empties the picture).
  void SetGraphic(const TGraphic* g);
  // The graphic as a bitmap: when it holds another class (or nothing) it is
  // replaced by an empty bitmap first, as the framework does.
  TBitmap* Bitmap();
  TIcon* Icon();
  // Ours: no graphic, or an empty one.
  bool Empty() const { return !FGraphic || FGraphic->Empty(); }
  int Width() const { return FGraphic ? FGraphic->Width() : 0; }
  int Height() const { return FGraphic ? FGraphic->Height() : 0; }

  // The class comes from the extension (bmp, ico, png, jpg, jpeg, gif); another
  // extension raises EInvalidGraphic "Unknown picture file extension (.ext)".
  void LoadFromFile(const String& fileName);
  // Writes the graphic's bytes (nothing to write raises EInvalidGraphic).
  void SaveToFile(const String& fileName) const;

  // The picture as a form file stores it: the graphic's class name (one length byte first) and
  // the image file's bytes; empty for an empty picture. Setting it raises EInvalidGraphic for an
  // unknown class or bytes that are not of its format, and leaves the picture as it was.
  std::string GetData() const;
  void SetData(const std::string& data);

  // From a TPicture or a TGraphic (copied); null empties the picture.
  void Assign(const TPersistent* source) override;

  TNotifyEvent OnChange;

 private:
  void Take(std::unique_ptr<TGraphic> g);
  void Changed();
  std::unique_ptr<TGraphic> FGraphic;
};

// A new, empty graphic of the class that reads `extension` ("png", ".PNG"); null when none does.
std::unique_ptr<TGraphic> GraphicClassForExtension(const String& extension);

}  // namespace ktinet
