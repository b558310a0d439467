// The control model, forms, the application pump, message boxes and backend choice.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "vcl/ExtCtrls.h"
#include "vcl/Forms.h"
#include "vcl/ScriptedBackend.h"
#include "vcl/StdCtrls.h"
#include "vcl/TerminalBackend.h"

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

TEST(Controls, ParentsChildrenAndTabOrderFollowTheFramework) {
  auto form = std::make_unique<TForm>(nullptr);
  auto* a = new TEdit(form.get());
  auto* b = new TEdit(form.get());
  auto* label = new TLabel(form.get());
  auto* ok = new TButton(form.get());
  for (TControl* c : std::initializer_list<TControl*>{a, b, label, ok}) c->SetParent(form.get());
  EXPECT_EQ(form->ControlCount(), 4);
  EXPECT_EQ(a->TabOrder(), 0);
  EXPECT_EQ(b->TabOrder(), 1);
  EXPECT_EQ(ok->TabOrder(), 2);

  ok->SetTabOrder(0);
  EXPECT_EQ(ok->TabOrder(), 0);
  EXPECT_EQ(a->TabOrder(), 1);
  EXPECT_EQ(b->TabOrder(), 2);
  b->SetTabOrder(99);  // out of range: last
  EXPECT_EQ(b->TabOrder(), 2);

  // Deleting a control takes it out of its parent and its owner.
  delete a;
  EXPECT_EQ(form->ControlCount(), 3);
  EXPECT_EQ(form->ComponentCount(), 3);
  EXPECT_EQ(ok->TabOrder(), 0);
  EXPECT_EQ(b->TabOrder(), 1);

  // A control cannot be placed inside itself.
  auto* panel = new TForm(form.get());
  panel->SetParent(form.get());
  EXPECT_THROW(form->SetParent(panel), EInvalidOperation);

  // Visible and enabled combine up the parent chain.
  form->Show();  // through the headless backend: nothing to see
  EXPECT_TRUE(label->Showing());
  label->Hide();
  EXPECT_FALSE(label->Showing());
  form->SetEnabled(false);
  EXPECT_TRUE(ok->Showing());
  EXPECT_FALSE(ok->CanInteract());
  form->Hide();
  // The form (and ASan) must cope with the remaining children being both owned and parented.
}

TEST(Controls, AcceleratorsAndCaptionText) {
  EXPECT_EQ(AcceleratorOf(u"&OK"), u'O');
  EXPECT_EQ(AcceleratorOf(u"N&o to All"), u'O');
  EXPECT_EQ(AcceleratorOf(u"&cancel"), u'C');
  EXPECT_EQ(AcceleratorOf(u"Fish && &Chips"), u'C');
  EXPECT_EQ(AcceleratorOf(u"No mark"), 0);
  EXPECT_EQ(AcceleratorOf(u"trailing&"), 0);
  EXPECT_EQ(U8(StripAccelerator(u"Fish && &Chips")), "Fish & Chips");
  EXPECT_EQ(U8(StripAccelerator(u"&OK")), "OK");
  EXPECT_EQ(U8(StripAccelerator(u"trailing&")), "trailing&");

  TEdit edit(nullptr);
  int changes = 0;
  edit.OnChange = [&](TObject* sender) {
    EXPECT_EQ(sender, &edit);
    ++changes;
  };
  edit.SetMaxLength(3);
  edit.SetText(u"abcdef");
  EXPECT_EQ(U8(edit.Text()), "abc");
  edit.SetText(u"abc");  // unchanged: no event
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(edit.Caption(), edit.Text());
}

TEST(Forms, ButtonsEndAModalFormAndHandlersMayOverrule) {
  Scripted s;
  TForm form(nullptr);
  auto* yes = new TButton(&form);
  yes->SetParent(&form);
  yes->SetModalResult(mrYes);
  auto* plain = new TButton(&form);
  plain->SetParent(&form);
  int shows = 0, hides = 0;
  form.OnShow = [&](TObject*) { ++shows; };
  form.OnHide = [&](TObject*) { ++hides; };

  // The button sets the result first, then its handler runs and may change it.
  yes->OnClick = [&](TObject*) {
    EXPECT_EQ(form.ModalResult(), mrYes);
    form.SetModalResult(mrRetry);
  };
  s.ui->AnswerForm([&](TForm& f) {
    EXPECT_TRUE(f.Visible());
    EXPECT_TRUE(f.Modal());
    yes->Click();
    return mrNone;
  });
  EXPECT_EQ(form.ShowModal(), mrRetry);
  EXPECT_FALSE(form.Visible());
  EXPECT_FALSE(form.Modal());
  EXPECT_EQ(shows, 1);
  EXPECT_EQ(hides, 1);

  // A button without a modal result leaves the result alone; a stale result from the
  // previous showing does not leak into the next one.
  s.ui->AnswerForm([&](TForm& f) {
    EXPECT_EQ(f.ModalResult(), mrNone);
    plain->Click();
    return f.ModalResult();
  });
  EXPECT_EQ(form.ShowModal(), mrCancel);

  // Hiding a modal form ends it as closing does.
  s.ui->AnswerForm([&](TForm& f) {
    f.Hide();
    return mrNone;
  });
  EXPECT_EQ(form.ShowModal(), mrCancel);

  // A shown form cannot also be made modal.
  form.Show();
  EXPECT_THROW(form.ShowModal(), EInvalidOperation);
  form.Hide();
}

TEST(Forms, ModelessFormsReachTheBackendAndReleaseWaitsForThePump) {
  Scripted s;
  auto* form = new TForm(nullptr);
  form->SetCaption(u"Status");
  auto* label = new TLabel(form);
  label->SetParent(form);
  label->SetCaption(u"hidden form changes are not drawn");
  EXPECT_TRUE(s.ui->ModelessViews().empty());

  form->Show();
  label->SetCaption(u"Step 1");
  label->SetCaption(u"Step 1");  // no change: nothing to redraw
  ASSERT_EQ(s.ui->ModelessViews().size(), 2u);
  EXPECT_EQ(U8(s.ui->ModelessViews()[1].Controls.at(0).Text), "Step 1");

  bool destroyed = false;
  int pumpsSeen = 0;
  s.ui->OnPump = [&] { ++pumpsSeen; };
  form->OnDestroy = [&](TObject*) { destroyed = true; };
  form->OnClose = [](TObject*, TCloseAction& action) { action = caFree; };
  form->Close();
  EXPECT_FALSE(form->Visible());
  EXPECT_FALSE(destroyed);  // freed later, so its own handlers can still run
  auto before = Application->PumpCount();
  Application->ProcessMessages();
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(Application->PumpCount(), before + 1);
  EXPECT_EQ(pumpsSeen, 1);

  // A released form that its owner deletes first is not deleted twice.
  auto* other = new TForm(nullptr);
  other->Release();
  delete other;
  Application->ProcessMessages();

  // Pump hooks run on every pump until removed, even when one removes another.
  int ticks = 0, second = 0;
  int id2 = 0;
  int id1 = Application->AddPumpHook([&] {
    ++ticks;
    Application->RemovePumpHook(id2);
  });
  id2 = Application->AddPumpHook([&] { ++second; });
  Application->ProcessMessages();
  Application->ProcessMessages();
  Application->RemovePumpHook(id1);
  Application->ProcessMessages();
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(second, 0);
}

TEST(Dialogs, MessageBoxesCarryTypeCaptionButtonsAndAnswers) {
  Scripted s;
  s.ui->AnswerMessage(mrNo);
  EXPECT_EQ(MessageDlg(u"Replace the file?", mtConfirmation, mbYesNoCancel, 7), mrNo);
  EXPECT_EQ(MessageDlg(u"Line 1\r\nLine 2", mtInformation, {mbOK}), mrOk);  // unanswered: OK
  EXPECT_EQ(MessageDlg(u"Really?", mtWarning, mbOKCancel), mrCancel);        // unanswered: Cancel
  EXPECT_EQ(MessageDlg(u"none", mtError, {}), mrOk);                         // no buttons means OK
  String oldTitle = Application->Title();
  Application->SetTitle(u"My App");
  ShowMessage(u"Hello");
  EXPECT_EQ(MessageDlg(u"custom", mtCustom, {mbOK}), mrOk);
  Application->SetTitle(oldTitle);

  const auto& m = s.ui->Messages();
  ASSERT_EQ(m.size(), 6u);
  EXPECT_EQ(U8(m[0].Request.Caption), "Confirmation");
  EXPECT_EQ(m[0].Request.Buttons, mbYesNoCancel);
  EXPECT_EQ(m[0].Request.HelpCtx, 7);
  EXPECT_EQ(U8(m[1].Request.Caption), "Information");
  EXPECT_EQ(U8(m[1].Request.Text), "Line 1\r\nLine 2");
  EXPECT_EQ(U8(m[2].Request.Caption), "Warning");
  EXPECT_EQ(U8(m[3].Request.Caption), "Error");
  EXPECT_EQ((m[3].Request.Buttons), (TMsgDlgButtons{mbOK}));
  EXPECT_EQ(U8(m[4].Request.Caption), "My App");
  EXPECT_EQ(U8(m[5].Request.Caption), "My App");
  EXPECT_EQ(s.ui->Unanswered(), 5);

  EXPECT_EQ(UnattendedAnswer(mbYesNo), mrNo);
  EXPECT_EQ(UnattendedAnswer(mbAbortRetryIgnore), mrAbort);
  EXPECT_EQ(UnattendedAnswer({mbOK, mbHelp}), mrOk);
}

TEST(Dialogs, HeadlessMessagesGoToTheStreamWithoutBlocking) {
  std::FILE* log = std::tmpfile();
  ASSERT_NE(log, nullptr);
  {
    TBackendScope scope(std::make_unique<HeadlessBackend>(log));
    EXPECT_EQ(MessageDlg(u"Line 1\r\nLine 2", mtInformation, {mbOK}), mrOk);
    EXPECT_EQ(MessageDlg(u"Delete?", mtConfirmation, mbYesNo), mrNo);
  }
  std::rewind(log);
  char buf[512] = {};
  std::string text(buf, std::fread(buf, 1, sizeof buf - 1, log));
  std::fclose(log);
  EXPECT_EQ(text, "Information:\nLine 1\nLine 2\nConfirmation: Delete?\n");
}

class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : FName(name) {
    if (const char* old = std::getenv(name)) FOld = old, FHad = true;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~EnvVar() {
    if (FHad) setenv(FName, FOld.c_str(), 1);
    else unsetenv(FName);
  }

 private:
  const char* FName;
  std::string FOld;
  bool FHad = false;
};

TEST(UiBackend, ChosenFromTheEnvironmentAndRestoredByScope) {
  TBackendScope keep(nullptr);  // whatever the choices install is undone at the end
  EXPECT_STREQ(CurrentBackend().Name(), "headless");
  {
    EnvVar v("KTINET_UI", "terminal");
    EXPECT_STREQ(ChooseBackendFromEnvironment().Name(), "terminal");
  }
  {
    EnvVar v("KTINET_UI", "HEADLESS");
    EXPECT_STREQ(ChooseBackendFromEnvironment().Name(), "headless");
  }
  const char* automatic = isatty(0) && isatty(1) ? "terminal" : "headless";
  {
    EnvVar v("KTINET_UI", nullptr);
    EXPECT_STREQ(ChooseBackendFromEnvironment().Name(), automatic);
  }
  {
    EnvVar v("KTINET_UI", "gtk");
    testing::internal::CaptureStderr();
    EXPECT_STREQ(ChooseBackendFromEnvironment().Name(), automatic);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("KTINET_UI=gtk"), std::string::npos) << err;
  }
  {
    TBackendScope inner(std::make_unique<ScriptedBackend>());
    EXPECT_STREQ(CurrentBackend().Name(), "scripted");
  }
  EXPECT_STREQ(CurrentBackend().Name(), automatic);
  SetBackend(nullptr);
  EXPECT_STREQ(CurrentBackend().Name(), "headless");
}

}  // namespace
}  // namespace ktinet
