// The status window as a person sees it, its settings object, and the pieces of
// the visual stand-in it brought along (pictures, image list, progress bar, timer).
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "core/KtInCnst.h"
#include "support/TempDir.h"
#include "transfer/KtInStat.h"
#include "transfer/KtInStatDlg.h"
#include "vcl/ScriptedBackend.h"

namespace ktinet {
namespace {

std::string U8(const String& s) { return UTF8Encode(s); }

struct Scripted {
  ScriptedBackend* ui;
  TBackendScope scope;
  Scripted() : Scripted(std::make_unique<ScriptedBackend>()) {}

 private:
  explicit Scripted(std::unique_ptr<ScriptedBackend> b) : ui(b.get()), scope(std::move(b)) {}
};

// Changes the step marker the way a transfer's step change does.
void ShowStep(TfrmKtInetUpdate& w, TImage* marker, int image, const String& status) {
  w.lblStatus->SetCaption(status);
  marker->Picture()->Assign(nullptr);
  w.imgStatus->GetBitmap(image, marker->Picture()->Bitmap());
  Application->ProcessMessages();
}

TEST(StatusWindow, ControlsStandWhereTheFormPutsThem) {
  auto w = std::make_unique<TfrmKtInetUpdate>(nullptr);
  EXPECT_EQ(U8(w->Caption()), "Software update");
  EXPECT_EQ(w->ClientWidth(), 491);
  EXPECT_EQ(w->ClientHeight(), 286);
  EXPECT_EQ(w->BorderStyle(), bsSingle);
  EXPECT_EQ(w->Position(), poScreenCenter);
  EXPECT_EQ(U8(w->Font().Name), "MS Sans Serif");
  EXPECT_EQ(w->Font().Height, -11);
  EXPECT_FALSE(w->Icon()->Empty());
  EXPECT_EQ(w->Icon()->Width(), 16);
  EXPECT_EQ(w->Icon()->Height(), 16);
  EXPECT_FALSE(w->IsCanceled);
  EXPECT_FALSE(w->Visible());

  struct Expected {
    const char16_t* name;
    int left, top, width, height;
    const char* text;
  };
  const Expected table[] = {
      {u"pnlDescription", 0, 0, 491, 59, ""},
      {u"lblCaption", 16, 5, 300, 13, ""},
      {u"imgDescription", 440, 6, 48, 48, ""},
      {u"lblDescription", 32, 20, 360, 38, ""},
      {u"imgLogo", 5, 65, 95, 206, ""},
      {u"btnCancel", 408, 256, 75, 25, "&Cancel"},
      {u"lblStep1", 200, 122, 150, 13, "Step 1: Connection/Logon"},
      {u"lblStep2", 200, 140, 150, 13, "Step 2: File search"},
      {u"lblStep3", 200, 158, 150, 13, "Step 3: Download"},
      {u"lblStep4", 200, 176, 150, 13, "Step 4: Diconnect/Logoff"},
      {u"imgStep1", 179, 120, 16, 16, ""},
      {u"imgStep2", 179, 138, 16, 16, ""},
      {u"imgStep3", 179, 156, 16, 16, ""},
      {u"imgStep4", 179, 174, 16, 16, ""},
      {u"lblRemote", 105, 80, 70, 13, "Remote file:"},
      {u"lblLocal", 105, 96, 70, 13, "Local file:"},
      {u"lblLocalFileName", 185, 96, 300, 13, "lblLocalFileName"},
      {u"lblRemoteFileName", 185, 80, 300, 13, "lblRemoteFileName"},
      {u"pbStatus", 130, 214, 337, 10, ""},
      {u"lblStatus", 128, 200, 339, 13, ""},
  };
  for (const Expected& e : table) {
    auto* c = w->FindControl(e.name);
    ASSERT_NE(c, nullptr) << U8(e.name);
    EXPECT_EQ(c->Left(), e.left) << U8(e.name);
    EXPECT_EQ(c->Top(), e.top) << U8(e.name);
    EXPECT_EQ(c->Width(), e.width) << U8(e.name);
    EXPECT_EQ(c->Height(), e.height) << U8(e.name);
    EXPECT_EQ(U8(c->Caption()), e.text) << U8(e.name);
    if (auto* l = dynamic_cast<TLabel*>(c)) {
      EXPECT_FALSE(l->AutoSize()) << U8(e.name);
    }
  }
  // The header controls sit in the white panel; the background fills its right side.
  for (TControl* c : std::initializer_list<TControl*>{w->lblCaption, w->imgBackground, w->imgDescription, w->lblDescription})
    EXPECT_EQ(c->Parent(), w->pnlDescription) << U8(c->Name());
  EXPECT_EQ(w->pnlDescription->Color(), clWhite);
  EXPECT_EQ(w->pnlDescription->BevelOuter(), bvNone);
  EXPECT_EQ(w->imgBackground->Align(), alRight);
  EXPECT_EQ(w->imgBackground->Width(), 138);
  EXPECT_EQ(w->imgBackground->Left() + w->imgBackground->Width(), 491);
  EXPECT_TRUE(w->lblCaption->Font().Bold());
  EXPECT_EQ(w->lblCaption->Font().Color, clNavy);
  EXPECT_EQ(w->lblDescription->Font().Color, clNavy);
  EXPECT_TRUE(w->lblDescription->WordWrap());
  EXPECT_EQ(w->lblRemote->Alignment(), taRightJustify);
  EXPECT_EQ(w->lblLocal->Alignment(), taRightJustify);
  EXPECT_EQ(w->lblRemoteFileName->Font().Color, clHighlight);
  EXPECT_EQ(w->imgLogo->Picture()->Width(), 95);
  EXPECT_EQ(w->imgLogo->Picture()->Height(), 206);
  EXPECT_EQ(w->pbStatus->Min(), 0);
  EXPECT_EQ(w->pbStatus->Max(), 100);
  // Tab order: panel, Cancel, progress bar.
  EXPECT_EQ(w->pnlDescription->TabOrder(), 0);
  EXPECT_EQ(w->btnCancel->TabOrder(), 1);
  EXPECT_EQ(w->pbStatus->TabOrder(), 2);

  // The step markers start empty; the image list holds the six pictures by meaning.
  for (TImage* marker : {w->imgStep1, w->imgStep2, w->imgStep3, w->imgStep4}) EXPECT_TRUE(marker->Picture()->Empty());
  const char* meanings[] = {"arrow pointing right",        "warning sign",
                            "connection symbol",           "globe with magnifying glass",
                            "globe with transfer arrows",  "broken-connection symbol"};
  ASSERT_EQ(w->imgStatus->Count(), 6);
  for (int i = 0; i < 6; ++i) {
    const TBitmap* image = w->imgStatus->Images(i);
    EXPECT_EQ(U8(image->Description()), meanings[i]);
    EXPECT_EQ(image->Width(), 16);
    EXPECT_EQ(image->Height(), 16);
    EXPECT_FALSE(image->Glyph().empty());
  }
  EXPECT_EQ(U8(w->imgStatus->Images(siStepUnderWay)->Glyph()), "\u2192");
  // Two different done steps are still different pictures.
  EXPECT_NE(w->imgStatus->Images(siConnected)->Data(), w->imgStatus->Images(siDisconnected)->Data());

  // The caption comes from the message table when the form is created.
  String saved = strKtInSoftwareUpdate;
  strKtInSoftwareUpdate = u"Mise \u00e0 jour";
  auto translated = std::make_unique<TfrmKtInetUpdate>(nullptr);
  strKtInSoftwareUpdate = saved;
  EXPECT_EQ(translated->Caption(), u"Mise \u00e0 jour");
}

TEST(StatusWindow, StepMarkersProgressAndCancelAsTheTransferDrivesThem) {
  Scripted s;
  auto w = std::make_unique<TfrmKtInetUpdate>(nullptr);
  w->IsCanceled = false;
  w->Show();
  ASSERT_FALSE(s.ui->ModelessViews().empty());
  EXPECT_EQ(U8(s.ui->ModelessViews().back().Caption), "Software update");

  auto seen = [&](const char16_t* name) { return U8(s.ui->ModelessViews().back().Find(name)->Picture); };
  ShowStep(*w, w->imgStep1, siStepUnderWay, strKtInConnecting);
  EXPECT_EQ(seen(u"imgStep1"), "arrow pointing right");
  EXPECT_EQ(seen(u"imgStep2"), "");
  EXPECT_EQ(U8(s.ui->ModelessViews().back().Find(u"lblStatus")->Text), "Connecting...");
  ShowStep(*w, w->imgStep1, siConnected, strKtInConnected);
  EXPECT_EQ(seen(u"imgStep1"), "connection symbol");
  ShowStep(*w, w->imgStep2, siStepUnderWay, strKtInFileSearch);
  ShowStep(*w, w->imgStep2, siCompared, strKtInFileCompared);
  ShowStep(*w, w->imgStep3, siStepUnderWay, strKtInDownloading);
  EXPECT_EQ(seen(u"imgStep1"), "connection symbol");
  EXPECT_EQ(seen(u"imgStep2"), "globe with magnifying glass");
  EXPECT_EQ(seen(u"imgStep3"), "arrow pointing right");
  // The marker holds a copy: the image list's picture is untouched by what the step does with it.
  w->imgStep3->Picture()->Bitmap()->SetDescription(u"scribbled");
  EXPECT_EQ(U8(w->imgStatus->Images(siStepUnderWay)->Description()), "arrow pointing right");

  // Progress on a large file: the bar takes byte counts beyond 32 bits.
  const Int64 size = 6LL << 30;
  w->pbStatus->SetRange(0, size);
  w->pbStatus->SetPosition(size / 4);
  const TShownForm& view = s.ui->ModelessViews().back();
  EXPECT_EQ(view.Find(u"pbStatus")->Max, size);
  EXPECT_EQ(view.Find(u"pbStatus")->Position, size / 4);

  // Cancel pressed during a pump sets the flag; the window stays up for the owner to free.
  int pressed = 0;
  s.ui->OnPump = [&] {
    if (pressed < 2) {
      ++pressed;
      w->btnCancel->Click();
    }
  };
  Application->ProcessMessages();
  EXPECT_TRUE(w->IsCanceled);
  Application->ProcessMessages();  // pressed a second time: the same
  EXPECT_EQ(pressed, 2);
  EXPECT_TRUE(w->IsCanceled);
  EXPECT_TRUE(w->Visible());
  EXPECT_EQ(w->ModalResult(), mrNone);
}

TEST(StatusWindow, HeadlessBuildsAndUpdatesTheWindowButNeverCancels) {
  TBackendScope headless(std::make_unique<HeadlessBackend>(nullptr));
  auto w = std::make_unique<TfrmKtInetUpdate>(nullptr);
  w->Show();
  ShowStep(*w, w->imgStep1, siConnected, strKtInConnected);
  for (int i = 0; i < 10; ++i) Application->ProcessMessages();
  EXPECT_EQ(U8(w->imgStep1->Picture()->Graphic()->Description()), "connection symbol");
  EXPECT_EQ(U8(w->lblStatus->Caption()), "Connected.");
  EXPECT_FALSE(w->IsCanceled);
}

TEST(StatusDialogSettings, AssignCopiesAllSixAndOwnsItsPictures) {
  test::TempDir dir;
  TKtInetStatusDialog a;
  EXPECT_FALSE(a.Enabled());
  EXPECT_EQ(a.HelpContext(), 0);
  EXPECT_TRUE(a.Picture()->Empty());
  EXPECT_TRUE(a.Icon()->Empty());
  EXPECT_TRUE(a.Title().empty());
  EXPECT_TRUE(a.Description().empty());

  std::string bmp = MakeBitmapFile({"rgr", "grg"}, {{'r', clRed}, {'g', 0x00FF00}});
  a.SetEnabled(true);
  a.SetHelpContext(4711);
  a.Picture()->LoadFromFile(UTF8ToString(dir.Write("side.bmp", bmp)));
  a.Icon()->LoadFromBytes(MakeIconFile({"rr", "rr"}, {{'r', clRed}}));
  a.SetTitle(u"Updater");
  a.SetDescription(u"Fetching the newest price list");

  TKtInetStatusDialog b;
  b.Assign(&a);
  EXPECT_TRUE(b.Enabled());
  EXPECT_EQ(b.HelpContext(), 4711);
  EXPECT_EQ(U8(b.Title()), "Updater");
  EXPECT_EQ(U8(b.Description()), "Fetching the newest price list");
  ASSERT_NE(b.Picture()->Graphic(), nullptr);
  EXPECT_EQ(b.Picture()->Graphic()->Data(), bmp);
  EXPECT_EQ(b.Picture()->Width(), 3);
  EXPECT_EQ(b.Icon()->Width(), 2);
  // Copies, not shared: the owned objects stay the target's own.
  EXPECT_NE(b.Picture(), a.Picture());
  EXPECT_NE(b.Picture()->Graphic(), a.Picture()->Graphic());
  a.Picture()->Assign(nullptr);
  EXPECT_FALSE(b.Picture()->Empty());

  // An empty picture and icon empty the target's.
  b.Assign(&a);
  EXPECT_TRUE(b.Picture()->Empty());
  EXPECT_FALSE(b.Icon()->Empty());
  a.Icon()->Assign(nullptr);
  b.SetIcon(a.Icon());
  EXPECT_TRUE(b.Icon()->Empty());
  TPicture* owned = b.Picture();
  b.SetPicture(a.Picture());
  EXPECT_EQ(b.Picture(), owned);  // the setter copies into the owned object

  // Assigning something else fails as the framework's Assign does.
  TStringList foreign;
  EXPECT_THROW(b.Assign(&foreign), EConvertError);
  EXPECT_THROW(b.Assign(nullptr), EConvertError);
  EXPECT_EQ(U8(b.Title()), "Updater");
}

TEST(Pictures, TheExtensionChoosesTheClassAndBadFilesLeaveThePictureAlone) {
  test::TempDir dir;
  TPicture p;
  int changes = 0;
  p.OnChange = [&](TObject*) { ++changes; };
  p.LoadFromFile(UTF8ToString(dir.Write("a.BMP", MakeBitmapFile({"aaaa", "aaaa", "aaaa"}, {{'a', clWhite}}))));
  EXPECT_NE(dynamic_cast<TBitmap*>(p.Graphic()), nullptr);
  EXPECT_EQ(p.Width(), 4);
  EXPECT_EQ(p.Height(), 3);
  EXPECT_GE(changes, 1);

  // PNG and GIF sizes come from their headers.
  std::string png = std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\x01\x2c\0\0\0\x20", 24) + std::string(13, '\0');
  p.LoadFromFile(UTF8ToString(dir.Write("b.png", png)));
  EXPECT_NE(dynamic_cast<TPngImage*>(p.Graphic()), nullptr);
  EXPECT_EQ(p.Width(), 300);
  EXPECT_EQ(p.Height(), 32);
  p.LoadFromFile(UTF8ToString(dir.Write("c.gif", std::string("GIF89a\x10\0\x08\0", 10))));
  EXPECT_NE(dynamic_cast<TGIFImage*>(p.Graphic()), nullptr);
  EXPECT_EQ(p.Width(), 16);
  EXPECT_EQ(p.Height(), 8);

  // An unknown extension, or bytes that are not what the extension says, leave the picture as it was.
  EXPECT_THROW(p.LoadFromFile(UTF8ToString(dir.Write("d.txt", "hello"))), EInvalidGraphic);
  EXPECT_THROW(p.LoadFromFile(UTF8ToString(dir.Write("e.png", "GIF89a not a png"))), EInvalidGraphic);
  EXPECT_THROW(p.LoadFromFile(UTF8ToString(dir.Write("f.bmp", "BM"))), EInvalidGraphic);
  EXPECT_NE(dynamic_cast<TGIFImage*>(p.Graphic()), nullptr);
  EXPECT_EQ(p.Width(), 16);

  // Saving writes the bytes back as they were.
  p.SaveToFile(UTF8ToString(dir / "g.gif"));
  EXPECT_EQ(test::ReadFileBytes(dir / "g.gif"), std::string("GIF89a\x10\0\x08\0", 10));
  p.Assign(nullptr);
  EXPECT_TRUE(p.Empty());
  EXPECT_THROW(p.SaveToFile(UTF8ToString(dir / "h.gif")), EInvalidGraphic);

  // Bitmap() on a picture of another class starts an empty bitmap.
  p.LoadFromFile(UTF8ToString(dir / "c.gif"));
  TBitmap* bitmap = p.Bitmap();
  EXPECT_TRUE(bitmap->Empty());
  EXPECT_EQ(p.Graphic(), bitmap);
}

TEST(ProgressBarAndTimer, RangeClampsAndTimersRunFromTheLoop) {
  TProgressBar bar(nullptr);
  bar.SetRange(0, 1000);
  bar.SetPosition(1500);
  EXPECT_EQ(bar.Position(), 1000);
  bar.SetPosition(-5);
  EXPECT_EQ(bar.Position(), 0);
  bar.SetPosition(250);
  EXPECT_DOUBLE_EQ(bar.Fraction(), 0.25);
  bar.SetMax(100);  // the position follows a range that shrinks below it
  EXPECT_EQ(bar.Position(), 100);
  EXPECT_THROW(bar.SetRange(10, 5), EInvalidOperation);
  EXPECT_EQ(bar.Max(), 100);
  bar.SetRange(0, 0);  // an unknown size: the bar stays empty
  EXPECT_DOUBLE_EQ(bar.Fraction(), 0.0);

  TTimer timer(nullptr);
  int fired = 0, pumpsInside = 0;
  timer.SetInterval(20);
  timer.SetOnTimer([&](TObject*) {
    ++fired;
    // A handler that pumps does not run itself again.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    Application->ProcessMessages();
    ++pumpsInside;
    if (fired == 3) Application->Terminate();
  });
  Application->ProcessMessages();
  EXPECT_EQ(fired, 0);  // not due yet
  Application->ResetTerminated();
  auto start = std::chrono::steady_clock::now();
  Application->Run();
  auto took = std::chrono::steady_clock::now() - start;
  Application->ResetTerminated();
  EXPECT_EQ(fired, 3);
  EXPECT_EQ(pumpsInside, 3);
  EXPECT_GE(took, std::chrono::milliseconds(60));
  EXPECT_LT(took, std::chrono::seconds(5));

  timer.SetEnabled(false);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  Application->ProcessMessages();
  EXPECT_EQ(fired, 3);
  timer.SetEnabled(true);
  timer.SetInterval(0);  // an interval of 0 stops it too
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  Application->ProcessMessages();
  EXPECT_EQ(fired, 3);

  // A timer freed by its own handler is left alone afterwards.
  auto* once = new TTimer(nullptr);
  once->SetInterval(1);
  once->SetOnTimer([&](TObject* sender) { delete static_cast<TTimer*>(sender); ++fired; });
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  Application->ProcessMessages();
  Application->ProcessMessages();
  EXPECT_EQ(fired, 4);
}

}  // namespace
}  // namespace ktinet
