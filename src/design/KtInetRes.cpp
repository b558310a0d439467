#include "design/KtInetRes.h"

#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "rtl/SysUtils.h"
#include "vcl/Graphics.h"

namespace ktinet {

namespace {

constexpr int kSize = 24;  // palette bitmaps are 24 x 24

constexpr TColor Rgb(int r, int g, int b) { return b << 16 | g << 8 | r; }

// One letter per colour. '.' is the background: MakeBitmapFile paints whatever the key
// does not name in the transparent magenta, and the IDE takes the lower-left pixel's
// colour as the transparent one, so every drawing starts its bottom row with '.'.
struct KeyEntry {
  char letter;
  TColor colour;
};
constexpr KeyEntry kKey[] = {
    {'k', Rgb(0x00, 0x00, 0x00)},  // black outlines
    {'w', Rgb(0xFF, 0xFF, 0xFF)},  // white
    {'s', Rgb(0xC0, 0xC0, 0xC0)},  // silver
    {'d', Rgb(0x80, 0x80, 0x80)},  // grey
    {'n', Rgb(0x10, 0x28, 0x70)},  // navy
    {'b', Rgb(0x30, 0x70, 0xD0)},  // blue
    {'l', Rgb(0x90, 0xC8, 0xF0)},  // light blue
    {'g', Rgb(0x30, 0xA0, 0x40)},  // green
    {'G', Rgb(0x10, 0x60, 0x20)},  // dark green
    {'y', Rgb(0xF8, 0xD8, 0x20)},  // yellow
    {'o', Rgb(0xF0, 0x80, 0x10)},  // orange
    {'r', Rgb(0xD0, 0x20, 0x20)},  // red
    {'u', Rgb(0x70, 0x48, 0x20)},  // brown
    {'h', Rgb(0xB0, 0x80, 0x48)},  // light brown
    {'p', Rgb(0x58, 0x20, 0x88)},  // purple
    {'e', Rgb(0xE8, 0xD8, 0xB0)},  // cream
};

struct PaletteArt {
  const char16_t* name;  // the component's class name in upper case
  const char* rows[kSize];  // top row first, one letter of the key per pixel
};

// Our own drawings, in palette order.
constexpr PaletteArt kPaletteArt[] = {
    {u"TKTWHOIS",  // a globe with a question mark
     {"........................",
      ".......nnnnnnn..........",
      ".....nnbbblbbbnn........",
      "....nnggbblbbbbnn.......",
      "...nbggggblbbbbbbn......",
      "..nngggggglbbbbbbnn.....",
      "..nbgggggblbbbbbbbn.....",
      ".nbbbgggbblbbbggbbbn....",
      ".nbbbbggbblbbggggbbn....",
      ".nbbbbbgbblbbggggbbn....",
      ".nllllllllllllggllln....",
      ".nbbbbbbbblbbbbkkkkk....",
      ".nbbbbgggblbbkkkkkkykk..",
      ".nbbbggggblbkkkkyykkykk.",
      "..nbbbggbblbkyyyyykkyyk.",
      "..nnbbbbbblkyyyyykkyyyyk",
      "...nbbbbbblkyyyykkyyyyyk",
      "....nnbbbblkyyyykkyyyyyk",
      ".....nnbbblkyyyyyyyyyyyk",
      ".......nnnnkyyyykkyyyyyk",
      "............kyyykkyyyyk.",
      "............kkyyyyyyykk.",
      ".............kkyyyyykk..",
      "...............kkkkk...."}},
    {u"TKTINETDATETIME",  // a clock
     {"........................",
      ".........bbbbbb.........",
      ".......bbbbbbbbbb.......",
      ".....bbbbwwkkwwbbbb.....",
      "....bbbwwwwwwwwwwbbb....",
      "...bbbwdwwwkkwwwdwbbb...",
      "...bbwwwwwwkkwwwwwwbb...",
      "..bbwdwwwwwkkwwwwwdwbb..",
      "..bbwwwwwwwkkwwwwwwwbb..",
      ".bbwwwwwwwwkkwwwwwwwwbb.",
      ".bbwwwwwwwwkkwwwwwwwwbb.",
      ".bbkwwwwwwwrrwwwwwwwkbb.",
      ".bbkwwwwwwwrrwwwwwwwkbb.",
      ".bbwwwwwwwwwkkkwwwwwwbb.",
      ".bbwwwwwwwwwwkkkkwwwwbb.",
      "..bbwwwwwwwwwwwwkkwwbb..",
      "..bbwdwwwwwwwwwwwwdwbb..",
      "...bbwwwwwwwwwwwwwwbb...",
      "...bbbwdwwwwwwwwdwbbb...",
      "....bbbwwwwwwwwwwbbb....",
      ".....bbbbwwkkwwbbbb.....",
      ".......bbbbbbbbbb.......",
      ".........bbbbbb.........",
      "........................"}},
    {u"TKTUPSTRACKER",  // a brown parcel
     {"........................",
      "........................",
      "........................",
      "..........kkkkkkkkkkkk..",
      ".........khhhhhyyhhhhkk.",
      "........khhhhhyyhhhhkuk.",
      ".......khhhhhyyhhhhkuuk.",
      "......khhhhhyyhhhhkuuuk.",
      ".....khhhhhyyhhhhkuuuuk.",
      "....kkkkkkyykkkkkuuuuuk.",
      "....kuuuuuyyuuuukuuuuuk.",
      "....kuuuuuyyuuuukuuuuuk.",
      "....kuuuuuyyuuuukuuuuuk.",
      "....kuuuuuyyuuuukuuuuuk.",
      "....kuuuuuyyuuuukuuuuuk.",
      "....kuuuuuuuuuuukuuuuk..",
      "....kuueeeeeeeuukuuuk...",
      "....kuuekkkkkeuukuuk....",
      "....kuueeeeeeeuukuk.....",
      "....kuuuuuuuuuuukk......",
      "....kkkkkkkkkkkkk.......",
      "........................",
      "........................",
      "........................"}},
    {u"TKTFEDEXTRACKER",  // a parcel under a flying arrow
     {"........................",
      "...............o........",
      "...............oo.......",
      "..ooooooooooooooooo.....",
      "..oooooooooooooooooo....",
      "..ooooooooooooooooo.....",
      "...............oo.......",
      "...............o........",
      "..........kkkkkkkkkkkk..",
      ".........kssssssssssskk.",
      "........kssssssssssskdk.",
      ".......kssssssssssskddk.",
      "......kkkkkkkkkkkkkdddk.",
      "......kwwwwwwwwwwwkdddk.",
      "......kwwwwwwwwwwwkdddk.",
      "......kpppppppppppkpppk.",
      "......kpppppppppppkpppk.",
      "......kwwwwwwwwwwwkdddk.",
      "......kwwwwwwwwwwwkddk..",
      "......kwwwwwwwwwwwkdk...",
      "......kwwwwwwwwwwwkk....",
      "......kkkkkkkkkkkkk.....",
      "........................",
      "........................"}},
    {u"TKTIHTTPCLIENT",  // a web page
     {"........................",
      ".kkkkkkkkkkkkkkkkk......",
      ".kwwwwwwwwwwwwwwksk.....",
      ".kwwwwwwwwwwwwwwkssk....",
      ".kwwwwwwwwwwwwwwksssk...",
      ".kwwwwwwwwwwwwwwkssssk..",
      ".kwwwwwwwwwwwwwwkkkkkk..",
      ".kwwwwwwwwwwwwwwwwwwwk..",
      ".kwbwwwbwbwwwbwbwwwbwk..",
      ".kwbwwwbwbwwwbwbwwwbwk..",
      ".kwbwbwbwbwbwbwbwbwbwk..",
      ".kwwbwbwwwbwbwwwbwbwwk..",
      ".kwwwwwwwwwwwwwwwwwwwk..",
      ".kwwwwwwwwwwwwwwwwwwwk..",
      ".kwdddddddddddddddddwk..",
      ".kwwwwwwwwwwwwwwwwwwwk..",
      ".kwddddddddddddddwwwwk..",
      ".kwwwwwwwwwwwwwwwwwwwk..",
      ".kwdddddddddddddddddwk..",
      ".kwwwwwwwwwwwwwwwwwwwk..",
      ".kwdddddddddddwwwwwwwk..",
      ".kwwwwwwwwwwwwwwwwwwwk..",
      ".kkkkkkkkkkkkkkkkkkkkk..",
      "........................"}},
    {u"TKTWEBUPDATER",  // an arrow down onto a disk
     {"..........GGGG..........",
      "..........GggG..........",
      "..........GggG..........",
      "..........GggG..........",
      "..........GggG..........",
      "......GggggggggggG......",
      ".......GggggggggG.......",
      "........GggggggG........",
      ".........GggggG.........",
      "..........GggG..........",
      "...........GG...........",
      "..kkkkkkkkkkkkkkkkkk....",
      "..knnnnksssssnnsknnnk...",
      "..knnnnksssssnnsknnnnk..",
      "..knnnnksssssnnsknnnnk..",
      "..knnnnkkkkkkkkkknnnnk..",
      "..knnnnnnnnnnnnnnnnnnk..",
      "..knnkkkkkkkkkkkkkknnk..",
      "..knnkwwwwwwwwwwwwknnk..",
      "..knnkwsssssssssswknnk..",
      "..knnkwwwwwwwwwwwwknnk..",
      "..knnkwsssssssswwwknnk..",
      "..kkkkkkkkkkkkkkkkkkkk..",
      "........................"}},
    {u"TKTWEBDIRECT",  // a newspaper
     {"........................",
      "........................",
      ".kkkkkkkkkkkkkkkkkkkkk..",
      ".kwwwwwwwwwwwwwwwwwwwkd.",
      ".kwkwwkwkkkwkwwwkwkkkkd.",
      ".kwkkwkwkwwwkwwwkwkwwkd.",
      ".kwkwkkwkkwwkwkwkwkkkkd.",
      ".kwkwwkwkwwwkkwkkwwwkkd.",
      ".kwkwwkwkkkwkwwwkwkkkkd.",
      ".kwwwwwwwwwwwwwwwwwwwkd.",
      ".kkkkkkkkkkkkkkkkkkkkkd.",
      ".kwwwwwwwwwwwwwwwwwwwkd.",
      ".kwwbbbbbbbwwdddddddwkd.",
      ".kwwblllllbwwwwwwwwwwkd.",
      ".kwwblllllbwwdddddddwkd.",
      ".kwwbgggggbwwwwwwwwwwkd.",
      ".kwwbbbbbbbwwdddddddwkd.",
      ".kwwwwwwwwwwwwwwwwwwwkd.",
      ".kwwdddddddwwdddddddwkd.",
      ".kwwwwwwwwwwwwwwwwwwwkd.",
      ".kwwdddddddwwdddddddwkd.",
      ".kkkkkkkkkkkkkkkkkkkkkd.",
      "..ddddddddddddddddddddd.",
      "........................"}},
    {u"TKTREMOTEIMAGE",  // a camera
     {"........................",
      "........................",
      "........................",
      "........................",
      "....kkkkkk..............",
      "....kddddk......kkkk....",
      "....kddddk......krrk....",
      ".kkkkkkkkkkkkkkkkkkkkkk.",
      ".kwwwwwwwwwwwwwwwwwwwwk.",
      ".ksssssssskkkkksssssssk.",
      ".kskkksssknnnnnkssssssk.",
      ".kskkkssknnbbbnnksssssk.",
      ".ksssssknnllbbbnnkssssk.",
      ".ksssssknblnnnbbnkssssk.",
      ".ksssssknbbnnnbbnkssssk.",
      ".ksssssknbbnnnbbnkssssk.",
      ".ksssssknnbbbbbnnkssssk.",
      ".kssssssknnbbbnnksssssk.",
      ".ksssssssknnnnnkssssssk.",
      ".ksssssssskkkkksssssssk.",
      ".kkkkkkkkkkkkkkkkkkkkkk.",
      "........................",
      "........................",
      "........................"}},
    {u"TKTINFOEXTRACTOR",  // a magnifier over a page
     {"........................",
      ".kkkkkkkkkkkkkkk........",
      ".kwwwwwwwwwwwwwk........",
      ".kwwwwwwwwwwwwwk........",
      ".kwddddddddwwwwk........",
      ".kwwwwwwwwwwwwwk........",
      ".kwddddddddddkkk........",
      ".kwwwwwwwwwkkkkkk.......",
      ".kwbbbbbbbkkbbbbkk......",
      ".kwwwwwwwkkwwllllkk.....",
      ".kwddddddkbwbbbbbbk.....",
      ".kwwwwwwkkllllllllkk....",
      ".kwdddddkkbbbbbbbbkk....",
      ".kwwwwwwwkllllllllk.....",
      ".kwbbbbbbkkbbbbbbkk.....",
      ".kwwwwwwwwkkllllkk......",
      ".kwddddddddkkkkkkku.....",
      ".kwwwwwwwwwwwkkkkuuu....",
      ".kwdddddddddddwk..uuu...",
      ".kwwwwwwwwwwwwwk...uuu..",
      ".kwwwwwwwwwwwwwk....uuu.",
      ".kkkkkkkkkkkkkkk.....uuu",
      "......................u.",
      "........................"}},
    {u"TKTWEATHERINFO",  // the sun behind a cloud
     {"........o...............",
      "........o...............",
      "..o.....o.....o.........",
      "...o.........o..........",
      "....o.ooooo.o...........",
      ".....oyyyyyo............",
      "....oyyyyyyyo...........",
      "....oyyyyyyyo...........",
      "ooo.oyyyyyyyo.ooo.......",
      "....oyyyyyyyo....dd.....",
      "....oyyyyyyddd.ddwwdd...",
      ".....oyyyydwwwdwwwwwwd..",
      "....o.ooodwwwwwwwwwwwd..",
      "...o....dwwwwwwwwwwwwwd.",
      "..o...ddwwwwwwwwwwwwwwd.",
      ".....dwwwwwwwwwwwwwwwd..",
      "....dwwwwwwwwwwwwwwwwwdd",
      "....dwwwwwwwwwwwwwwwwwwd",
      "....dwwwwwwwwwwwwwwwwwwd",
      ".....dwwwsssssssssssswdd",
      "......dddddddddddddddd..",
      "........................",
      "........................",
      "........................"}},
    {u"TKTREMOTEFILES",  // a tree of folders
     {"........................",
      ".uuuuu..................",
      ".uuuuuuuuuuu............",
      ".ueeeeeeeeeu............",
      ".uyyyyyyyyyu............",
      ".uyyyyyyyyyu............",
      ".uyyyyyyyyyu............",
      ".uyyyyyyyyyu............",
      ".uuuuuuuuuuu............",
      "....d...................",
      "..........uuuuu.........",
      "....d.....uuuuuuuuuuu...",
      "..........ueeeeeeeeeu...",
      "....dd.d.duyyyyyyyyyu...",
      "..........uyyyyyyyyyu...",
      "....d.....uuuuuuuuuuu...",
      "........................",
      "....d.....uuuuu.........",
      "..........uuuuuuuuuuu...",
      "....d.....ueeeeeeeeeu...",
      ".....d.d.duyyyyyyyyyu...",
      "..........uyyyyyyyyyu...",
      "..........uuuuuuuuuuu...",
      "........................"}},
    {u"TKTISMTP",  // a sealed envelope
     {"........................",
      "........................",
      "........................",
      "........................",
      "........................",
      ".kkkkkkkkkkkkkkkkkkkkkk.",
      ".kkwwwwwwwwwwwwwwwwwwkk.",
      ".kwkkwwwwwwwwwwwwwwkkwk.",
      ".kwwwkwwwwwwwwwwwwkwwwk.",
      ".kwwwwkwwwwwwwwwwkwwwwk.",
      ".kwwwwwkwwwwwwwwkwwwwwk.",
      ".kwwwwwwkkwwwwkkwwwwwwk.",
      ".kwwwwwwwwkwwkwwwwwwwwk.",
      ".kwwwwwwwdrrrrdwwwwwwwk.",
      ".kwwwwwwdwrrrrwdwwwwwwk.",
      ".kwwwwwdwwwrrwwwdwwwwwk.",
      ".kwwwddwwwwwwwwwwddwwwk.",
      ".kwwdwwwwwwwwwwwwwwdwwk.",
      ".kwdwwwwwwwwwwwwwwwwdwk.",
      ".kdkkkkkkkkkkkkkkkkkkdk.",
      "........................",
      "........................",
      "........................",
      "........................"}},
    {u"TKTMSTRANSLATOR",  // two speech bubbles in two scripts
     {"........................",
      ".nnnnnnnnnnnnn..........",
      "nbbbbbbbbbbbbbn.........",
      "nbbbbbbwbbbbbbn.........",
      "nbbbbbwbwbbbbbn.........",
      "nbbbbwbbbwbbbbn.........",
      "nbbbbwwwwwbbbbn.........",
      "nbbbbwbbbwbbbbn.........",
      "nbbbbwbbbwuuuuuuuuuuuuu.",
      "nbbbbbbbbuyyyyyyyyyyyyyu",
      "nbbbbbbbbuyyyyyykyyyyyyu",
      ".nnbbbnnnuyyyykkkkkyyyyu",
      "...nbn...uyyyyykykyyyyyu",
      "...nn....uyyyyyykyyyyyyu",
      "...n.....uyyyyykykyyyyyu",
      ".........uyyyykyyykyyyyu",
      ".........uyyyyyyyyyyyyyu",
      ".........uyyyyyyyyyyyyyu",
      "..........uuuuuuuuyyyuu.",
      "..................uyu...",
      "...................uu...",
      "....................u...",
      "........................",
      "........................"}},
    {u"TKTIDNSRESOLVER",  // a tree of name servers
     {"........................",
      "..........kkkk..........",
      ".........krrrrk.........",
      ".........krrrrk.........",
      ".........krrrrk.........",
      ".........krrrrk.........",
      "..........kkkk..........",
      "...........k............",
      ".....kkkkkkkkkkkkkk.....",
      "...kkkkk........kkkkk...",
      "...kbbbk........kbbbk...",
      "...kbbbk........kbbbk...",
      "...kbbbk........kbbbk...",
      "...kkkkk........kkkkk...",
      "..k..k.........k..k.....",
      "..k..k.........k..k.....",
      "..kkkkkkk......kkkkkkk..",
      "..k.....k......k.....k..",
      "kkkkk.kkkkk..kkkkk.kkkkk",
      "kgggk.kgggk..kgggk.kgggk",
      "kgggk.kgggk..kgggk.kgggk",
      "kgggk.kgggk..kgggk.kgggk",
      "kkkkk.kkkkk..kkkkk.kkkkk",
      "........................"}},
};

constexpr bool InKey(char c) {
  if (c == '.') return true;
  for (const KeyEntry& e : kKey)
    if (e.letter == c) return true;
  return false;
}

// A drawing is 24 rows of 24 known letters with the background at its lower left;
// a slip of the pen fails the build instead of showing up as a stray transparent pixel.
constexpr bool WellDrawn(const PaletteArt& art) {
  for (const char* row : art.rows) {
    int n = 0;
    for (; row[n] != '\0'; ++n)
      if (!InKey(row[n])) return false;
    if (n != kSize) return false;
  }
  return art.rows[kSize - 1][0] == '.';
}

constexpr bool AllWellDrawn() {
  for (const PaletteArt& art : kPaletteArt)
    if (!WellDrawn(art)) return false;
  return true;
}
static_assert(AllWellDrawn(), "every palette drawing is 24 x 24 letters of the key, '.' at its lower left");

std::string BuildBitmap(const PaletteArt& art) {
  std::vector<std::pair<char, TColor>> key;
  for (const KeyEntry& e : kKey) key.emplace_back(e.letter, e.colour);
  return MakeBitmapFile(std::vector<std::string>(std::begin(art.rows), std::end(art.rows)), key);
}

}  // namespace

String PackageDescription() { return u"Ardenfold Internet components"; }

std::vector<String> PaletteBitmapNames() {
  std::vector<String> names;
  for (const PaletteArt& art : kPaletteArt) names.emplace_back(art.name);
  return names;
}

bool FindPaletteBitmap(std::u16string_view ResourceName, std::string& Bmp) {
  for (const PaletteArt& art : kPaletteArt)
    if (SameText(String(ResourceName), art.name)) {
      Bmp = BuildBitmap(art);
      return true;
    }
  return false;
}

}  // namespace ktinet
