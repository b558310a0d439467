// Colours and fonts of the visual stand-in. Only what forms describe is kept:
// backends that draw may use it, the terminal shows bold and nothing else.
#pragma once

#include <cstdint>

#include "rtl/System.h"

namespace ktinet {

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

}  // namespace ktinet
