// Registration with a designer (palette, verbs, the About property) and form files of the suite's
// own components, through the library and through the program.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"
#include "core/KtInBase.h"
#include "design/KtInetR.h"
#include "mail/KtISMTP.h"
#include "protocols/KtIHTTP.h"
#include "protocols/KtWhoIs.h"
#include "rtl/FormFiles.h"
#include "transfer/ktidirect.h"
#include "transfer/ktiimage.h"
#include "transfer/ktiupdate.h"
#include "vcl/ExtCtrls.h"
#include "vcl/Graphics.h"
#include "vcl/ScriptedBackend.h"

namespace ktinet {
namespace {

const std::vector<std::string> kPalette = {
    "TKtWhoIs",         "TKtInetDateTime", "TKtUPSTracker",  "TKtFedExTracker", "TKtIHTTPClient",
    "TKtWebUpdater",    "TKtWebDirect",    "TKtRemoteImage", "TKtInfoExtractor", "TKtWeatherInfo",
    "TKtRemoteFiles",   "TKtISMTP",        "TKtIRSSParser",  "TKtInetSNTP",     "TKtMSTranslator"};

class Design : public ::testing::Test {
 protected:
  void SetUp() override {
    Register();
    RegisterFormClasses();
  }
  static std::unique_ptr<TComponent> Create(const std::string& cls) {
    const TClassInfo* info = FindClassInfo(UTF8ToString(cls));
    EXPECT_TRUE(info) << cls;
    return std::unique_ptr<TComponent>(static_cast<TComponent*>(info->Create()(nullptr)));
  }
  // Writes a data module holding `c` (which it takes over) and reads it back.
  static std::unique_ptr<TComponent> RoundTrip(TComponent* c, std::string* text = nullptr) {
    TDataModule root(nullptr);
    root.SetName(u"DataModule1");
    root.InsertComponent(c);
    String written = WriteComponentText(&root);
    if (text) *text = UTF8Encode(written);
    auto loaded = ReadComponentText(written);
    EXPECT_EQ(WriteComponentText(loaded.get()), written) << "a second write differs:\n" << UTF8Encode(written);
    return loaded;
  }
};

TEST_F(Design, PalettePageHoldsTheFifteenComponentsInOrderWhateverRegisterIsCalled) {
  Register();  // a second call adds nothing
  auto pages = PalettePages();
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].Name, u"Kt-Internet");
  std::vector<std::string> names;
  for (const TClassInfo* c : pages[0].Classes) names.push_back(UTF8Encode(c->Name()));
  EXPECT_EQ(names, kPalette);
  EXPECT_NE(FindClassInfo(u"TKtIDNSResolver"), nullptr) << "form files may still name the DNS resolver";
}

TEST_F(Design, EveryPaletteComponentHasOneVerbThatShowsTheAboutBox) {
  auto* backend = new ScriptedBackend;
  TBackendScope scope{std::unique_ptr<UiBackend>(backend)};
  for (const std::string& cls : kPalette) {
    auto c = Create(cls);
    auto editor = GetComponentEditor(c.get());
    ASSERT_TRUE(dynamic_cast<TKtInetComponentEditor*>(editor.get())) << cls;
    EXPECT_EQ(editor->GetVerbCount(), 1) << cls;
    EXPECT_EQ(editor->GetVerb(0), u"About KtInternet") << cls;
    EXPECT_EQ(editor->GetVerb(1), u"") << cls;
    const size_t before = backend->Messages().size();
    editor->ExecuteVerb(7);  // any index shows the box
    editor->Edit();          // a double-click runs the first verb
    ASSERT_EQ(backend->Messages().size(), before + 2) << cls;
    EXPECT_EQ(backend->Messages().back().Request.DlgType, mtInformation);
    EXPECT_EQ(backend->Messages().back().Request.Text.rfind(u"KtInternet suite is the network/internet components:\r\n", 0), 0u);
  }
  TComponent plain(nullptr);
  EXPECT_EQ(GetComponentEditor(&plain)->GetVerbCount(), 0) << "other components get no verb";
}

TEST_F(Design, AboutRowOfSocketComponentsIsAReadOnlyDialogThatNeverChanges) {
  auto* backend = new ScriptedBackend;
  TBackendScope scope{std::unique_ptr<UiBackend>(backend)};
  for (const std::string& cls : kPalette) {
    auto c = Create(cls);
    const TPropInfo* about = c->ClassInfo()->FindProperty(u"About");
    if (!dynamic_cast<TKtInetBase*>(c.get())) {
      EXPECT_EQ(about, nullptr) << cls << ": only socket components have an About row";
      continue;
    }
    ASSERT_NE(about, nullptr) << cls;
    auto editor = GetPropertyEditor(c.get(), about);
    ASSERT_TRUE(dynamic_cast<TKtInetAboutProperty*>(editor.get())) << cls;
    EXPECT_EQ(editor->GetAttributes(), (TPropertyAttributes{paDialog, paReadOnly})) << cls;
    EXPECT_EQ(editor->GetValue(), u"About KtInternet...");
    EXPECT_THROW(editor->SetValue(u"typed"), EPropertyError);
    static_cast<TKtInetBase*>(c.get())->SetAbout(u"assigned in code");
    EXPECT_EQ(editor->GetValue(), u"About KtInternet...");
    EXPECT_FALSE(about->IsStored(c.get())) << "nothing is stored for About";
    const size_t before = backend->Messages().size();
    editor->Edit();
    EXPECT_EQ(backend->Messages().size(), before + 1);
  }
  // Other string properties keep the plain editor, which does take typing.
  TKtWhoIs whois(nullptr);
  auto domain = GetPropertyEditor(&whois, whois.ClassInfo()->FindProperty(u"Domain"));
  EXPECT_FALSE(dynamic_cast<TKtInetAboutProperty*>(domain.get()));
  domain->SetValue(u"example.org");
  EXPECT_EQ(whois.Domain(), u"example.org");
  auto port = GetPropertyEditor(&whois, whois.ClassInfo()->FindProperty(u"Port"));
  EXPECT_THROW(port->SetValue(u"forty-three"), EPropertyError);
  port->SetValue(u"4343");
  EXPECT_EQ(whois.Port(), 4343);
}

TEST_F(Design, EveryPaletteComponentSurvivesAFormFileRoundTrip) {
  for (const std::string& cls : kPalette) {
    auto c = Create(cls);
    c->SetName(u"C1");
    auto loaded = RoundTrip(c.release());
    ASSERT_EQ(loaded->ComponentCount(), 1) << cls;
    EXPECT_EQ(UTF8Encode(loaded->Components(0)->ClassName()), cls);
  }
}

TEST_F(Design, MailSenderKeepsNestedObjectsCollectionsAndItsDate) {
  auto* smtp = new TKtISMTP(nullptr);
  smtp->SetName(u"Mail1");
  smtp->SetSubject(u"Monthly report");
  smtp->Body()->Add(u"Hello,");
  smtp->Body()->Add(u"see attached.");
  smtp->From()->SetText(u"Ann Smith <ann@example.org>");
  smtp->Recipients()->SetEMailAddresses(u"bob@example.org, \"Carol\" <carol@example.org>");
  smtp->Login()->SetUseLogin(true);
  smtp->Login()->SetUserID(u"ann");
  smtp->Attachments()->Add()->SetFileName(u"/tmp/report.pdf");
  smtp->SetPriority(spHigh);
  smtp->SetDate(46000.25);
  std::string text;
  auto loaded = RoundTrip(smtp, &text);
  EXPECT_NE(text.find("    Recipients = <\r\n      item\r\n        Address = 'bob@example.org'\r\n"), std::string::npos) << text;
  auto* m = dynamic_cast<TKtISMTP*>(loaded->FindComponent(u"Mail1"));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->Subject(), u"Monthly report");
  EXPECT_EQ(m->Body()->Count(), 2);
  EXPECT_EQ(m->From()->Address(), u"ann@example.org");
  EXPECT_EQ(m->From()->Name(), u"Ann Smith");
  ASSERT_EQ(m->Recipients()->Count(), 2);
  EXPECT_EQ(m->Recipients()->Items(1)->Name(), u"Carol");
  EXPECT_TRUE(m->Login()->UseLogin());
  EXPECT_EQ(m->Login()->UserID(), u"ann");
  EXPECT_EQ(m->Attachments()->Items(0)->FileName(), u"/tmp/report.pdf");
  EXPECT_EQ(m->Priority(), spHigh);
  EXPECT_EQ(m->Date(), 46000.25) << "the stored date, not the time of loading";
}

TEST_F(Design, MailAddressTextIsAppliedAfterAddressAndName) {
  auto root = ReadComponentText(
      u"object DataModule1: TDataModule\n"
      u"  object Mail1: TKtISMTP\n"
      u"    From.Address = 'old@example.org'\n"
      u"    From.Name = 'Old'\n"
      u"    From.Text = '\"Quoted Name\" <new@example.org>'\n"
      u"    ReplyTo = <\n"
      u"      item\n"
      u"        Address = 'same@example.org'\n"
      u"        Name = 'SAME@example.org'\n"
      u"        Text = 'same@example.org'\n"
      u"      end>\n"
      u"  end\n"
      u"end\n");
  auto* m = dynamic_cast<TKtISMTP*>(root->FindComponent(u"Mail1"));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->From()->Address(), u"new@example.org");
  EXPECT_EQ(m->From()->Name(), u"Quoted Name") << "the surrounding quotes of a name are gone";
  EXPECT_EQ(m->ReplyTo()->Items(0)->Name(), u"") << "a name equal to the address is dropped";
}

TEST_F(Design, TransferComponentKeepsAPortSetByHandNextToItsService) {
  auto* up = new TKtWebUpdater(nullptr);
  up->SetName(u"Updater1");
  up->SetService(isHTTPS);
  up->SetPort(8443);
  up->SetHost(u"files.example.org");
  up->SetRemoteFileName(u"/app/latest.zip");
  up->SetLocalFileName(u"/tmp/latest.zip");
  up->StatusDialog()->SetEnabled(true);
  up->StatusDialog()->SetTitle(u"Updating");
  const std::string bmp = MakeBitmapFile({"ab", "ba", "aa"}, {{'a', TColor(0x0000FF)}, {'b', TColor(0x00FF00)}});
  TBitmap side;
  side.LoadFromBytes(bmp);
  up->StatusDialog()->Picture()->SetGraphic(&side);
  const std::string ico = MakeIconFile({"ab", "ba"}, {{'a', TColor(0x0000FF)}});
  up->StatusDialog()->Icon()->LoadFromBytes(ico);
  std::string text;
  auto loaded = RoundTrip(up, &text);
  auto* u2 = dynamic_cast<TKtWebUpdater*>(loaded->FindComponent(u"Updater1"));
  ASSERT_TRUE(u2);
  EXPECT_EQ(u2->Service(), isHTTPS);
  EXPECT_EQ(u2->Port(), 8443) << "the stored port, although Service is applied after it:\n" << text;
  EXPECT_TRUE(u2->StatusDialog()->Enabled());
  EXPECT_EQ(u2->StatusDialog()->Title(), u"Updating");
  ASSERT_TRUE(dynamic_cast<TBitmap*>(u2->StatusDialog()->Picture()->Graphic())) << text;
  EXPECT_EQ(u2->StatusDialog()->Picture()->Graphic()->Data(), bmp) << "the side image comes back byte for byte";
  EXPECT_EQ(u2->StatusDialog()->Picture()->Height(), 3);
  EXPECT_EQ(u2->StatusDialog()->Icon()->Data(), ico);
  EXPECT_NE(text.find("    StatusDialog.Picture.Data = {\r\n      07544269746D6170424D"), std::string::npos) << text;

  // Image data that is not what it claims to be is refused with the line.
  std::string broken = text;
  broken.replace(broken.find("07544269746D6170424D"), 20, "0754426974");
  try {
    ReadComponentText(UTF8ToString(broken));
    ADD_FAILURE() << "broken picture data was accepted";
  } catch (const EReadError& e) {
    EXPECT_NE(UTF8Encode(e.Message()).find("error reading Updater1.StatusDialog.Picture.Data"), std::string::npos)
        << UTF8Encode(e.Message());
  }
  EXPECT_EQ(u2->RemoteFileName(), u"/app/latest.zip");
  // Outside loading the service still sets its port.
  u2->SetService(isFTP);
  EXPECT_EQ(u2->Port(), 21);
}

TEST_F(Design, RemoteImageLoadedActiveRunsItsTimerAndFindsItsImageControl) {
  auto root = ReadComponentText(
      u"object DataModule1: TDataModule\n"
      u"  object RemoteImage1: TKtRemoteImage\n"
      u"    Host = '127.0.0.1'\n"
      u"    RemoteFileName = '/cam.png'\n"
      u"    Image = Image1\n"
      u"    Active = True\n"
      u"    Interval = 60000\n"
      u"  end\n"
      u"  object Image1: TImage\n"
      u"  end\n"
      u"end\n");
  auto* r = dynamic_cast<TKtRemoteImage*>(root->FindComponent(u"RemoteImage1"));
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->Active());
  EXPECT_EQ(r->Interval(), 60000);
  EXPECT_EQ(r->Image(), root->FindComponent(u"Image1"));
  const std::string text = UTF8Encode(WriteComponentText(root.get()));
  EXPECT_NE(text.find("    Image = Image1\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("    Active = True\r\n"), std::string::npos) << text;
  r->Stop();

  EXPECT_THROW(ReadComponentText(u"object D: TDataModule\n  object R: TKtRemoteImage\n    Image = D\n  end\nend\n"),
               EReadError)
      << "a reference to a component of the wrong class is refused";
}

TEST_F(Design, NewsBrowserFindsThePanelItShowsItsTreeIn) {
  auto root = ReadComponentText(
      u"object DataModule1: TDataModule\n"
      u"  object WebDirect1: TKtWebDirect\n"
      u"    ParentControl = Panel1\n"
      u"    ShowMode = omNever\n"
      u"  end\n"
      u"  object Panel1: TPanel\n"
      u"    Caption = 'News'\n"
      u"    BevelOuter = bvLowered\n"
      u"  end\n"
      u"end\n");
  auto* direct = dynamic_cast<TKtWebDirect*>(root->FindComponent(u"WebDirect1"));
  auto* panel = dynamic_cast<TPanel*>(root->FindComponent(u"Panel1"));
  ASSERT_TRUE(direct && panel);
  EXPECT_EQ(direct->ParentControl(), panel);
  EXPECT_EQ(direct->ShowMode(), omNever);
  EXPECT_EQ(panel->Caption(), u"News");
  EXPECT_EQ(panel->BevelOuter(), bvLowered);
  const std::string text = UTF8Encode(WriteComponentText(root.get()));
  EXPECT_NE(text.find("    ParentControl = Panel1\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("BevelInner"), std::string::npos) << "a default stays out";
}

TEST_F(Design, WhoisServerTableIsStoredOnlyWhenEdited) {
  auto* whois = new TKtWhoIs(nullptr);
  whois->SetName(u"KtWhoIs1");
  std::string text;
  RoundTrip(whois, &text);
  EXPECT_EQ(text.find("ServerList"), std::string::npos) << "the built-in table stays out of the file";

  auto* edited = new TKtWhoIs(nullptr);
  edited->SetName(u"KtWhoIs1");
  edited->ServerList()->SetValue(u"test", u"whois.test.example");
  auto loaded = RoundTrip(edited, &text);
  EXPECT_NE(text.find("'test=whois.test.example')"), std::string::npos);
  auto* w = dynamic_cast<TKtWhoIs*>(loaded->FindComponent(u"KtWhoIs1"));
  ASSERT_TRUE(w);
  EXPECT_EQ(w->ServerList()->Values(u"test"), u"whois.test.example");
}

// ---- the program -----------------------------------------------------------------------------

using test::RunTool;
using test::ToolOutcome;

TEST(DesignTool, ComponentsAndInspectShowWhatADesignerShows) {
  test::TempDir dir;
  ToolOutcome list = RunTool("components --bitmaps " + dir.Path());
  ASSERT_EQ(list.status, 0) << list.err;
  size_t at = 0;
  for (const std::string& cls : kPalette) {
    size_t found = list.out.find("  " + cls + " ", at);
    ASSERT_NE(found, std::string::npos) << cls << " missing or out of order:\n" << list.out;
    at = found;
  }
  EXPECT_NE(list.out.find("Palette page Kt-Internet"), std::string::npos);
  EXPECT_NE(test::ReadFileBytes(dir / "TKTISMTP.bmp").rfind("BM", 0), std::string::npos);

  ToolOutcome inspect = RunTool("inspect TKtWhoIs");
  ASSERT_EQ(inspect.status, 0) << inspect.err;
  EXPECT_NE(inspect.out.find("About KtInternet..."), std::string::npos) << inspect.out;
  EXPECT_LT(inspect.out.find("  About "), inspect.out.find("  Domain ")) << "published order: inherited first";
  EXPECT_NE(inspect.out.find("LoginPrompt"), std::string::npos);
  EXPECT_NE(inspect.out.find("OnAfterExecute"), std::string::npos);

  ToolOutcome unknown = RunTool("inspect TNoSuchThing");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("unknown component class TNoSuchThing"), std::string::npos) << unknown.err;
}

TEST(DesignTool, FormNewThenRunAgainstLoopbackServers) {
  test::TempDir dir;
  ToolOutcome created = RunTool("form new TKtWhoIs TKtIHTTPClient");
  ASSERT_EQ(created.status, 0) << created.err;
  EXPECT_NE(created.out.find("object KtWhoIs1: TKtWhoIs"), std::string::npos) << created.out;
  EXPECT_NE(created.out.find("object KtIHTTPClient1: TKtIHTTPClient"), std::string::npos) << created.out;

  test::ScriptedServer whois, http;
  whois.Add(test::Script().ReadUntil("\r\n").Send("Domain Name: FORM.TEST\r\n"));
  http.Add(test::Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nform body\n"));
  // The file as a user edits it: each component's lines go before its "end".
  std::string form = created.out;
  auto append = [&](const std::string& object, const std::string& lines) {
    size_t at = form.find("  end\r\n", form.find(object));
    ASSERT_NE(at, std::string::npos);
    form.insert(at, lines);
  };
  append("object KtWhoIs1: TKtWhoIs", "    Host = '127.0.0.1'\r\n    AutoSelectServer = False\r\n    Domain = 'form.test'\r\n    Port = " +
                                        std::to_string(whois.Port()) + "\r\n    ReadTimeout = 5000\r\n");
  append("object KtIHTTPClient1: TKtIHTTPClient", "    Address = '127.0.0.1'\r\n    Action = haGet\r\n    Request = '/page'\r\n    Port = " +
                                                    std::to_string(http.Port()) + "\r\n    ReadTimeout = 5000\r\n");
  const std::string path = dir.Write("form.txt", form);
  ToolOutcome run = RunTool("form run " + path);
  ASSERT_EQ(run.status, 0) << run.err << "\n" << form;
  EXPECT_NE(run.out.find("== KtWhoIs1: TKtWhoIs\nDomain Name: FORM.TEST"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("== KtIHTTPClient1: TKtIHTTPClient\nform body"), std::string::npos) << run.out;
  ASSERT_TRUE(whois.WaitDone(1));
  EXPECT_NE(whois.Received(0).find("form.test\r\n"), std::string::npos) << whois.Received(0);
  ASSERT_TRUE(http.WaitDone(1));
  EXPECT_EQ(http.Received(0).rfind("GET /page HTTP/1.0\r\n", 0), 0u) << http.Received(0);

  const std::string bad = dir.Write("bad.txt", "object D: TDataModule\n  object W: TKtWhoIs\n    Porty = 1\n  end\nend\n");
  ToolOutcome refused = RunTool("form run " + bad);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("Line 3: error reading W.Porty: property Porty does not exist"), std::string::npos) << refused.err;
}

}  // namespace
}  // namespace ktinet
