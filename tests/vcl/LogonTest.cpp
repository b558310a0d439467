// The logon dialog as a person meets it, answered by the scripted and headless backends.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "vcl/KtILogOn.h"
#include "vcl/ScriptedBackend.h"

namespace ktinet {
namespace {

// Installs a scripted backend for one test and hands it out for queueing answers.
struct Scripted {
  ScriptedBackend* ui;
  TBackendScope scope;
  Scripted() : Scripted(std::make_unique<ScriptedBackend>()) {}

 private:
  explicit Scripted(std::unique_ptr<ScriptedBackend> b) : ui(b.get()), scope(std::move(b)) {}
};

TEdit* Edit(TForm& f, const char16_t* name) { return dynamic_cast<TEdit*>(f.FindControl(name)); }
TButton* Button(TForm& f, const char16_t* name) { return dynamic_cast<TButton*>(f.FindControl(name)); }

std::string U8(const String& s) { return UTF8Encode(s); }

TEST(KtInAskLogon, OkTakesTheEditsAndTheDialogStartsFromTheCurrentValues) {
  Scripted s;
  s.ui->AnswerForm([](TForm& f) {
    Edit(f, u"edLogin")->SetText(u"bob");
    Edit(f, u"edPassword")->SetText(u"n\u00e9w pass");
    Button(f, u"btnOk")->Click();
    return mrNone;  // the click decides
  });
  String user = u"alice", password = u"old";
  EXPECT_TRUE(KtInAskLogon(u"Proxy Server authorization", user, password));
  EXPECT_EQ(U8(user), "bob");
  EXPECT_EQ(U8(password), "n\xc3\xa9w pass");

  ASSERT_EQ(s.ui->Forms().size(), 1u);
  const TShownForm& shown = s.ui->Forms()[0];
  EXPECT_EQ(U8(shown.ClassName), "TfrmKtILogon");
  EXPECT_EQ(U8(shown.Caption), "Proxy Server authorization");
  EXPECT_EQ(U8(shown.Find(u"edLogin")->Text), "alice");
  EXPECT_EQ(U8(shown.Find(u"edPassword")->Text), "old");
  EXPECT_EQ(shown.Result, mrOk);
  EXPECT_EQ(s.ui->Unanswered(), 0);
}

TEST(KtInAskLogon, EveryWayOfNotConfirmingLeavesTheValuesAlone) {
  Scripted s;
  // Cancel button after editing both fields.
  s.ui->AnswerForm([](TForm& f) {
    Edit(f, u"edLogin")->SetText(u"mallory");
    Edit(f, u"edPassword")->SetText(u"guess");
    Button(f, u"btnCancel")->Click();
    return mrNone;
  });
  // The window closed (Escape or its close box) after editing.
  s.ui->AnswerForm([](TForm& f) {
    Edit(f, u"edLogin")->SetText(u"mallory");
    f.Close();
    return mrNone;
  });
  // A backend answering with no result at all, and one answering an unknown result.
  s.ui->AnswerForm([](TForm& f) {
    Edit(f, u"edPassword")->SetText(u"x");
    return mrNone;
  });
  s.ui->AnswerForm([](TForm& f) {
    Edit(f, u"edPassword")->SetText(u"x");
    return mrYes;
  });
  for (int i = 0; i < 4; ++i) {
    String user = u"alice", password = u"secret";
    EXPECT_FALSE(KtInAskLogon(u"HTTP Server authorization", user, password)) << "answer " << i;
    EXPECT_EQ(U8(user), "alice") << "answer " << i;
    EXPECT_EQ(U8(password), "secret") << "answer " << i;
  }
  ASSERT_EQ(s.ui->Forms().size(), 4u);
  EXPECT_EQ(s.ui->Forms()[0].Result, mrCancel);
  EXPECT_EQ(s.ui->Forms()[1].Result, mrCancel);
  EXPECT_EQ(s.ui->Forms()[2].Result, mrCancel);
  EXPECT_EQ(s.ui->Forms()[3].Result, mrYes);
}

TEST(KtInAskLogon, EmptyCaptionEmptyAnswersAndRepeatedCalls) {
  Scripted s;
  s.ui->AnswerForm([](TForm& f) {
    Edit(f, u"edLogin")->SetText(u"");
    Edit(f, u"edPassword")->SetText(u"");
    return mrOk;
  });
  s.ui->AnswerForm([](TForm& f) {
    // Enter in a window presses its default button.
    f.DefaultButton()->Click();
    return mrNone;
  });
  String user = u"alice", password = u"pw";
  EXPECT_TRUE(KtInAskLogon(u"", user, password));
  EXPECT_TRUE(user.empty());
  EXPECT_TRUE(password.empty());
  EXPECT_EQ(U8(s.ui->Forms()[0].Caption), "Enter Password");

  // A second call gets a fresh dialog: the caption of the first does not stick, and
  // the now-empty values are what it shows.
  user = u"carol";
  EXPECT_TRUE(KtInAskLogon(u"", user, password));
  EXPECT_EQ(U8(user), "carol");
  EXPECT_EQ(U8(s.ui->Forms()[1].Caption), "Enter Password");
  EXPECT_EQ(U8(s.ui->Forms()[1].Find(u"edLogin")->Text), "carol");
  EXPECT_EQ(U8(s.ui->Forms()[1].Find(u"edPassword")->Text), "");

  // Nothing queued: answered as nobody being there (Cancel), and counted.
  EXPECT_FALSE(KtInAskLogon(u"x", user, password));
  EXPECT_EQ(s.ui->Unanswered(), 1);
}

TEST(KtInAskLogon, AnExceptionFromTheBackendReachesTheCallerAndTheValuesStay) {
  Scripted s;
  s.ui->AnswerForm([](TForm& f) -> TModalResult {
    Edit(f, u"edLogin")->SetText(u"half");
    throw EAbort("window system went away");
  });
  String user = u"alice", password = u"pw";
  EXPECT_THROW(KtInAskLogon(u"", user, password), EAbort);
  EXPECT_EQ(U8(user), "alice");
  EXPECT_EQ(U8(password), "pw");
}

TEST(TfrmKtILogon, ShowsTheDesignedControls) {
  Scripted s;
  s.ui->AnswerForm(nullptr);
  String user, password;
  KtInAskLogon(u"", user, password);
  const TShownForm& f = s.ui->Forms().at(0);
  EXPECT_EQ(f.ClientWidth, 305);
  EXPECT_EQ(f.ClientHeight, 105);

  struct Want {
    const char16_t* name;
    const char* cls;
    const char* text;
    int l, t, w, h, tab;
  };
  const Want want[] = {
      {u"lblLogin", "TLabel", "User ID:", 48, 12, 88, 13, -1},
      {u"lblPassword", "TLabel", "Password:", 16, 37, 120, 13, -1},
      {u"edLogin", "TEdit", "", 144, 8, 150, 21, 0},
      {u"edPassword", "TEdit", "", 144, 32, 150, 21, 1},
      {u"bvlButtons", "TBevel", "", 8, 64, 289, 17, -1},
      {u"btnOk", "TButton", "&OK", 139, 72, 75, 25, 2},
      {u"btnCancel", "TButton", "&Cancel", 219, 72, 75, 25, 3},
      {u"imgKey", "TImage", "", 16, 8, 24, 24, -1},
  };
  ASSERT_EQ(f.Controls.size(), std::size(want));
  for (size_t i = 0; i < std::size(want); ++i) {
    const TControlSnapshot& c = f.Controls[i];
    SCOPED_TRACE(U8(want[i].name));
    EXPECT_EQ(c.Name, want[i].name);  // declaration order
    EXPECT_EQ(U8(c.ClassName), want[i].cls);
    EXPECT_EQ(U8(c.Text), want[i].text);
    EXPECT_EQ(c.Left, want[i].l);
    EXPECT_EQ(c.Top, want[i].t);
    EXPECT_EQ(c.Width, want[i].w);
    EXPECT_EQ(c.Height, want[i].h);
    EXPECT_EQ(c.TabOrder, want[i].tab);
    EXPECT_TRUE(c.Visible && c.Enabled);
  }

  // What the snapshot does not carry, on a live dialog.
  TfrmKtILogon dlg(nullptr);
  EXPECT_EQ(dlg.BorderStyle(), bsDialog);
  EXPECT_EQ(U8(dlg.Font().Name), "MS Sans Serif");
  EXPECT_EQ(dlg.Font().Height, -11);
  EXPECT_EQ(dlg.lblLogin->Alignment(), taRightJustify);
  EXPECT_EQ(dlg.lblPassword->Alignment(), taRightJustify);
  EXPECT_FALSE(dlg.lblLogin->AutoSize());
  EXPECT_TRUE(dlg.lblLogin->Transparent() && dlg.lblPassword->Transparent());
  EXPECT_EQ(dlg.edPassword->PasswordChar(), 0);  // the window shows it as typed...
  EXPECT_TRUE(dlg.edPassword->Secret());         // ...text backends never do
  EXPECT_FALSE(dlg.edLogin->Secret());
  EXPECT_EQ(dlg.bvlButtons->Shape(), bsTopLine);
  EXPECT_EQ(dlg.DefaultButton(), dlg.btnOk);
  EXPECT_EQ(dlg.CancelButton(), dlg.btnCancel);
  EXPECT_EQ(dlg.btnOk->ModalResult(), mrOk);
  EXPECT_EQ(dlg.btnCancel->ModalResult(), mrCancel);
  EXPECT_TRUE(dlg.imgKey->Transparent());
  EXPECT_FALSE(dlg.Visible());
}

TEST(HeadlessBackend, AnswersCancelWithoutBlockingAndSaysWhy) {
  std::FILE* log = std::tmpfile();
  ASSERT_NE(log, nullptr);
  {
    TBackendScope scope(std::make_unique<HeadlessBackend>(log));
    String user = u"alice", password = u"pw";
    EXPECT_FALSE(KtInAskLogon(u"Proxy Server authorization", user, password));
    EXPECT_EQ(U8(user), "alice");
    EXPECT_EQ(U8(password), "pw");
  }
  std::rewind(log);
  char buf[512] = {};
  size_t n = std::fread(buf, 1, sizeof buf - 1, log);
  std::fclose(log);
  std::string text(buf, n);
  EXPECT_NE(text.find("Proxy Server authorization"), std::string::npos) << text;
  EXPECT_NE(text.find("Cancel"), std::string::npos) << text;
  EXPECT_EQ(text.find("pw"), std::string::npos) << "the password must never be written: " << text;
}

}  // namespace
}  // namespace ktinet
