#include "transfer/KtInStat.h"

#include "core/KtInCnst.h"

namespace ktinet {

namespace {

template <class T>
T* Place(TComponent* owner, TWinControl* parent, const char16_t* name, int left, int top, int width, int height) {
  T* c = new T(owner);
  c->SetName(name);
  c->SetParent(parent);
  c->SetBounds(left, top, width, height);
  return c;
}

// ---- artwork of our own: small drawings, one letter per pixel ---------------------------------

const std::vector<std::pair<char, TColor>> kPalette = {
    {'k', 0x202020}, {'n', clNavy},   {'b', 0xD07830}, {'l', 0xF0C890}, {'g', 0x30A040},
    {'y', 0x00D0F0}, {'r', 0x2020D0}, {'w', clWhite},  {'s', 0xA0A0A0},
};

struct Artwork {
  const char16_t* description;
  const char16_t* glyph;  // what the terminal draws in the image's place
  std::vector<std::string> rows;
};

// The six step images of imgStatus, in index order.
const Artwork kStepImages[] = {
    {u"arrow pointing right", u"\u2192",
     {"................", "................", "........n.......", "........nn......", "........nbn.....",
      "..nnnnnnnbbn....", "..nbbbbbbbbbn...", "..nbbbbbbbbbbn..", "..nbbbbbbbbbbn..", "..nbbbbbbbbbn...",
      "..nnnnnnnbbn....", "........nbn.....", "........nn......", "........n.......", "................",
      "................"}},
    {u"warning sign", u"!",
     {".......kk.......", "......kyyk......", "......kyyk......", ".....kyyyyk.....", ".....kykkyk.....",
      "....kyykkyyk....", "....kyykkyyk....", "...kyyykkyyyk...", "...kyyykkyyyk...", "..kyyyykkyyyyk..",
      "..kyyyyyyyyyyk..", ".kyyyyykkyyyyyk.", ".kyyyyykkyyyyyk.", "kyyyyyyyyyyyyyyk", "kkkkkkkkkkkkkkkk",
      "................"}},
    {u"connection symbol", u"\u2713",
     {"................", "................", "..kk........kk..", ".kssk......kssk.", ".kssskkkkkksssk.",
      ".kssssssssssssk.", ".kssskkkkkksssk.", ".kssk......kssk.", "..kk........kk..", "................",
      "......gggg......", ".....gggggg.....", "......gggg......", "................", "................",
      "................"}},
    {u"globe with magnifying glass", u"\u2713",
     {".....nnnnn......", "...nnbllbbnn....", "..nblllbbbbbn...", ".nbllbbbbbbbbn..", ".nbbbbbbbnnnbn..",
      "nbbbbbbbnwwwnbn.", "nbbbbbbnwwwwwn..", "nbbbbbbnwwwwwn..", "nbbbbbbnwwwwwn..", ".nbbbbbbnwwwn...",
      ".nbbbbbbbnnnkk..", "..nbbbbbbbbn.kk.", "...nnbbbbnn...kk", ".....nnnnn.....k", "................",
      "................"}},
    {u"globe with transfer arrows", u"\u2713",
     {".....nnnnn......", "...nnbllbbnn....", "..nblllbbbbbn...", ".nbllbbbbbbbbn..", ".nbbbbbbbbbbbn..",
      "nbbbbbbbbbbbbbn.", "nbbbbbbbbbbbbbn.", "nbbbbbbbbbbbbbn.", ".nbbbbbbbbbbbn..", ".nbbbbbbbbbbbn..",
      "..nbbbbbbbbbn...", "...nnbbbbnn.....", ".g...nnnnn...r..", "ggg.........rrr.", ".g...........r..",
      ".g...........r.."}},
    {u"broken-connection symbol", u"\u2713",
     {"................", "................", "..kk........kk..", ".kssk......kssk.", ".kssskk..kksssk.",
      ".ksssss..ssssk..", ".kssskk..kksssk.", ".kssk......kssk.", "..kk........kk..", "................",
      "......r..r......", ".......rr.......", ".......rr.......", "......r..r......", "................",
      "................"}},
};

// A drawing `width` x `height` shaded from light blue at the top to navy at the bottom,
// for the header and side pictures.
std::string Shaded(int width, int height) {
  static const char kShades[] = "abcdefgh";
  std::vector<std::pair<char, TColor>> palette;
  for (int i = 0; i < 8; ++i) {
    int r = 0xE0 - i * 0x1C, g = 0xE8 - i * 0x1A, b = 0xFF - i * 0x0F;
    palette.push_back({kShades[i], b << 16 | g << 8 | r});
  }
  std::vector<std::string> rows;
  for (int y = 0; y < height; ++y) rows.emplace_back(static_cast<size_t>(width), kShades[y * 8 / height]);
  return MakeBitmapFile(rows, palette);
}

void Draw(TPicture* picture, const std::string& bmp, const char16_t* description) {
  TBitmap* b = picture->Bitmap();
  b->LoadFromBytes(bmp);
  b->SetDescription(description);
}

}  // namespace

TfrmKtInetUpdate::TfrmKtInetUpdate(TComponent* AOwner) : TForm(AOwner) {
  SetName(u"frmKtInetUpdate");
  SetBorderStyle(bsSingle);
  SetPosition(poScreenCenter);
  SetClientWidth(491);
  SetClientHeight(286);
  TFont font;
  font.Name = u"MS Sans Serif";
  font.Height = -11;
  SetFont(font);
  Icon()->LoadFromBytes(MakeIconFile(kStepImages[siDownloaded].rows, kPalette));
  Icon()->SetDescription(u"globe with transfer arrows");

  pnlDescription = Place<TPanel>(this, this, u"pnlDescription", 0, 0, 491, 59);
  pnlDescription->SetAlign(alTop);
  pnlDescription->SetColor(clWhite);
  pnlDescription->SetBevelOuter(bvNone);
  pnlDescription->SetFont(font);

  TFont captionFont = font;
  captionFont.Style = fsBold;
  captionFont.Color = clNavy;
  lblCaption = Place<TLabel>(this, pnlDescription, u"lblCaption", 16, 5, 300, 13);
  lblCaption->SetAutoSize(false);
  lblCaption->SetFont(captionFont);

  imgBackground = Place<TImage>(this, pnlDescription, u"imgBackground", 491 - 138, 0, 138, 59);
  imgBackground->SetAlign(alRight);
  Draw(imgBackground->Picture(), Shaded(138, 58), u"header background");

  imgDescription = Place<TImage>(this, pnlDescription, u"imgDescription", 440, 6, 48, 48);
  imgDescription->SetTransparent(true);
  Draw(imgDescription->Picture(), Shaded(48, 48), u"header picture");

  TFont descriptionFont = font;
  descriptionFont.Color = clNavy;
  lblDescription = Place<TLabel>(this, pnlDescription, u"lblDescription", 32, 20, 360, 38);
  lblDescription->SetAutoSize(false);
  lblDescription->SetFont(descriptionFont);
  lblDescription->SetWordWrap(true);
  lblDescription->SetTransparent(true);

  imgLogo = Place<TImage>(this, this, u"imgLogo", 5, 65, 95, 206);
  Draw(imgLogo->Picture(), Shaded(95, 206), u"side picture");

  btnCancel = Place<TButton>(this, this, u"btnCancel", 408, 256, 75, 25);
  btnCancel->SetCaption(u"&Cancel");
  btnCancel->SetFont(font);
  // Escape presses Cancel, in the terminal as in a window.
  btnCancel->SetCancel(true);
  btnCancel->OnClick = [this](TObject* Sender) { btnCancelClick(Sender); };

  auto step = [&](const char16_t* name, int top, const char16_t* caption) {
    TLabel* l = Place<TLabel>(this, this, name, 200, top, 150, 13);
    l->SetAutoSize(false);
    l->SetFont(font);
    l->SetCaption(caption);
    return l;
  };
  lblStep1 = step(u"lblStep1", 122, u"Step 1: Connection/Logon");
  lblStep2 = step(u"lblStep2", 140, u"Step 2: File search");
  lblStep3 = step(u"lblStep3", 158, u"Step 3: Download");
  // The designed caption, spelling included: it is what people have seen for years.
  lblStep4 = step(u"lblStep4", 176, u"Step 4: Diconnect/Logoff");

  imgStatus = new TImageList(this);
  imgStatus->SetName(u"imgStatus");
  for (const Artwork& art : kStepImages) {
    TBitmap image;
    image.LoadFromBytes(MakeBitmapFile(art.rows, kPalette));
    image.SetDescription(art.description);
    image.SetGlyph(art.glyph);
    image.SetTransparent(true);
    imgStatus->Add(&image);
  }

  auto marker = [&](const char16_t* name, int top) {
    TImage* i = Place<TImage>(this, this, name, 179, top, 16, 16);
    i->SetTransparent(true);
    return i;
  };
  imgStep1 = marker(u"imgStep1", 120);
  imgStep2 = marker(u"imgStep2", 138);
  imgStep3 = marker(u"imgStep3", 156);
  imgStep4 = marker(u"imgStep4", 174);

  auto caption = [&](const char16_t* name, int top, const char16_t* text) {
    TLabel* l = Place<TLabel>(this, this, name, 105, top, 70, 13);
    l->SetAutoSize(false);
    l->SetAlignment(taRightJustify);
    l->SetFont(font);
    l->SetCaption(text);
    return l;
  };
  lblRemote = caption(u"lblRemote", 80, u"Remote file:");
  lblLocal = caption(u"lblLocal", 96, u"Local file:");

  TFont valueFont = font;
  valueFont.Color = clHighlight;
  auto value = [&](const char16_t* name, int top) {
    TLabel* l = Place<TLabel>(this, this, name, 185, top, 300, 13);
    l->SetAutoSize(false);
    l->SetFont(valueFont);
    l->SetCaption(name);
    return l;
  };
  lblLocalFileName = value(u"lblLocalFileName", 96);
  lblRemoteFileName = value(u"lblRemoteFileName", 80);

  pbStatus = Place<TProgressBar>(this, this, u"pbStatus", 130, 214, 337, 10);
  pbStatus->SetRange(0, 100);

  lblStatus = Place<TLabel>(this, this, u"lblStatus", 128, 200, 339, 13);
  lblStatus->SetAutoSize(false);
  lblStatus->SetFont(font);

  // The framework fires the create event once the designed controls exist.
  FormCreate(this);
}

void TfrmKtInetUpdate::FormCreate(TObject*) { SetCaption(strKtInSoftwareUpdate); }

void TfrmKtInetUpdate::btnCancelClick(TObject*) { IsCanceled = true; }

}  // namespace ktinet
