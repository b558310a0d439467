// TKtCustomWebComponent without a server: properties, the step bookkeeping, the status window,
// progress texts, and what Execute does around the descendant's run.
#include <dirent.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "TransferSupport.h"
#include "core/KtInCnst.h"
#include "transfer/KtInStat.h"
#include "vcl/Forms.h"
#include "vcl/ScriptedBackend.h"

namespace ktinet::test {

std::vector<std::string> DirEntries(const std::string& dir) {
  std::vector<std::string> out;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (auto* e = ::readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") out.push_back(n);
    }
    ::closedir(d);
  }
  return out;
}

namespace {

// A transfer component that is not an updater.
class TBare : public TKtCustomWebComponent {
 public:
  using TKtCustomWebComponent::TKtCustomWebComponent;
  std::function<void()> Body;

 protected:
  void InternalExecute() override {
    if (Body) Body();
  }
};

struct Scripted {
  ScriptedBackend* ui;
  TBackendScope scope;
  Scripted() : Scripted(new ScriptedBackend) {}

 private:
  explicit Scripted(ScriptedBackend* b) : ui(b), scope(std::unique_ptr<UiBackend>(b)) {}
};

const TControlSnapshot* Control(const TShownForm& f, const char16_t* name) {
  const TControlSnapshot* c = f.Find(name);
  if (!c) ADD_FAILURE() << "no control " << U8(name);
  return c;
}

TEST(WebComponent, DefaultsAndServicePorts) {
  TKtWebUpdater u(nullptr);
  EXPECT_EQ(U8(u.Agent()), "Ardenfold WebUpdater");
  EXPECT_EQ(u.Port(), 80);
  EXPECT_EQ(u.Service(), isHTTP);
  EXPECT_TRUE(u.LoginPrompt());
  EXPECT_FALSE(u.ResumeDownload());
  EXPECT_FALSE(u.StatusDialog()->Enabled());
  EXPECT_EQ(u.Proxy()->Port(), 0);
  EXPECT_EQ(u.Status(), isInProgress);
  EXPECT_EQ(u.Action(), iaIdle);

  u.SetService(isHTTPS);
  EXPECT_EQ(u.Port(), 443);
  u.SetService(isNetwork);  // keeps the port
  EXPECT_EQ(u.Port(), 443);
  u.SetService(isFTP);
  EXPECT_EQ(u.Port(), 21);
  u.SetPort(2121);
  u.SetService(isFTP);  // the same service again: a port typed by hand survives
  EXPECT_EQ(u.Port(), 2121);
  u.SetService(isHTTP);
  EXPECT_EQ(u.Port(), 80);

  // Nested settings are copied in, never shared.
  TKtInetProxy proxy;
  proxy.SetServer(u"proxy.example");
  proxy.SetPort(3128);
  u.SetProxy(&proxy);
  proxy.SetServer(u"changed");
  EXPECT_EQ(U8(u.Proxy()->Server()), "proxy.example");
  EXPECT_EQ(u.Proxy()->Port(), 3128);
}

TEST(WebComponent, StatusAndActionFireOnlyOnChangeAndTouchTheWindowOnlyThen) {
  Scripted s;
  TBare c(nullptr);
  TEventLog log;
  log.Attach(c);
  c.SetStatus(isInProgress);  // the initial value: nothing
  c.SetAction(iaIdle);
  EXPECT_TRUE(log.events.empty());
  c.SetStatus(isFailed);
  c.SetStatus(isFailed);
  c.SetAction(iaConnecting);
  c.SetAction(iaConnecting);
  EXPECT_EQ(log.events, (std::vector<std::string>{"s:2", "a:1"}));

  // With the window shown, a change redraws the status line and one step marker and pumps once;
  // the same action again neither pumps nor redraws.
  c.StatusDialog()->SetEnabled(true);
  c.Body = [&] {
    TfrmKtInetUpdate* w = c.StatusWindow();
    ASSERT_NE(w, nullptr);
    const auto pumps = Application->PumpCount();
    c.SetAction(iaConnected);
    EXPECT_EQ(Application->PumpCount(), pumps + 1);
    EXPECT_EQ(U8(w->lblStatus->Caption()), "Connected.");
    ASSERT_NE(w->imgStep1->Picture()->Graphic(), nullptr);
    EXPECT_FALSE(w->imgStep1->Picture()->Empty());
    EXPECT_EQ(w->imgStep1->Picture()->Graphic()->Data(), w->imgStatus->Images(siConnected)->Data());
    const size_t views = s.ui->ModelessViews().size();
    c.SetAction(iaConnected);
    EXPECT_EQ(Application->PumpCount(), pumps + 1);
    EXPECT_EQ(s.ui->ModelessViews().size(), views);

    // Each step line gets its marker: under way, then the done image of its step.
    const std::pair<TKtIAction, std::pair<const char*, int>> table[] = {
        {iaFileSearch, {"File search...", siStepUnderWay}}, {iaFileFound, {"File found.", siStepUnderWay}},
        {iaComparing, {"Comparing...", siStepUnderWay}},    {iaCompared, {"Compared.", siCompared}},
        {iaDownloading, {"Downloading...", siStepUnderWay}}, {iaDownloaded, {"Downloaded.", siDownloaded}},
        {iaDisconnecting, {"Disconnecting...", siStepUnderWay}}, {iaDisconnected, {"Disconnected.", siDisconnected}}};
    for (const auto& [action, want] : table) {
      c.SetAction(action);
      EXPECT_EQ(U8(w->lblStatus->Caption()), want.first);
      TImage* step = action <= iaCompared && action >= iaFileSearch ? w->imgStep2
                     : action == iaDownloading || action == iaDownloaded ? w->imgStep3
                                                                          : w->imgStep4;
      EXPECT_EQ(step->Picture()->Graphic()->Data(), w->imgStatus->Images(want.second)->Data()) << action;
    }
    // Idle keeps the status line and only pumps.
    c.SetAction(iaIdle);
    EXPECT_EQ(U8(w->lblStatus->Caption()), "Disconnected.");
  };
  EXPECT_TRUE(c.Execute());
  EXPECT_EQ(c.StatusWindow(), nullptr);
  EXPECT_EQ(c.Status(), isFinished);
}

TEST(WebComponent, ExecuteFillsTheWindowAndFreesIt) {
  Scripted s;
  Application->SetTitle(u"Application title");
  TProbe u(nullptr);
  u.SetHost(u"files.example");
  u.SetRemoteFileName(u"/pub/f.bin");
  u.SetLocalFileName(u"/tmp/f.bin");
  u.StatusDialog()->SetEnabled(true);
  u.StatusDialog()->SetDescription(u"Fetching the price list");
  bool ran = false;
  u.Body = [&] {
    ran = true;
    ASSERT_NE(u.StatusWindow(), nullptr);
    EXPECT_TRUE(u.StatusWindow()->Visible());
    EXPECT_FALSE(u.StatusWindow()->IsCanceled);
  };
  int after = 0;
  u.SetOnAfterExecute([&](TObject*) { ++after; });
  EXPECT_TRUE(u.Execute());
  EXPECT_TRUE(ran);
  EXPECT_EQ(after, 1);
  EXPECT_EQ(u.StatusWindow(), nullptr);
  ASSERT_FALSE(s.ui->ModelessViews().empty());
  const TShownForm& shown = s.ui->ModelessViews().front();
  EXPECT_EQ(U8(Control(shown, u"lblCaption")->Text), "Application title");  // no Title: the application's
  EXPECT_EQ(U8(Control(shown, u"lblDescription")->Text), "Fetching the price list");
  EXPECT_EQ(U8(Control(shown, u"lblRemoteFileName")->Text), "files.example/pub/f.bin");
  EXPECT_TRUE(Control(shown, u"lblRemoteFileName")->Visible);
  EXPECT_EQ(U8(Control(shown, u"lblLocalFileName")->Text), "/tmp/f.bin");

  // A component that is no updater hides both file-name values; a Title wins over the application's.
  TBare bare(nullptr);
  bare.StatusDialog()->SetEnabled(true);
  bare.StatusDialog()->SetTitle(u"Tracker");
  bool checked = false;
  bare.Body = [&] {
    checked = true;
    EXPECT_FALSE(bare.StatusWindow()->lblRemoteFileName->Visible());
    EXPECT_FALSE(bare.StatusWindow()->lblLocalFileName->Visible());
    EXPECT_TRUE(bare.StatusWindow()->lblRemote->Visible());
    EXPECT_EQ(U8(bare.StatusWindow()->lblCaption->Caption()), "Tracker");
  };
  bare.Execute();
  EXPECT_TRUE(checked);
}

TEST(WebComponent, ExecuteWithoutTheWindowNeverCreatesOneNorPumps) {
  Scripted s;
  TBare c(nullptr);
  const auto pumps = Application->PumpCount();
  bool aborted = false;
  c.SetOnProgress([&](TObject*, Integer cur, Integer max, bool& abort) {
    EXPECT_EQ(cur, 10);
    EXPECT_EQ(max, 20);
    abort = true;
  });
  c.Body = [&] {
    EXPECT_EQ(c.StatusWindow(), nullptr);
    c.SetAction(iaConnecting);
  };
  EXPECT_TRUE(c.Execute());
  EXPECT_EQ(Application->PumpCount(), pumps);
  EXPECT_TRUE(s.ui->ModelessViews().empty());

  TProbe p(nullptr);
  p.SetOnProgress(c.OnProgress());
  p.UpdateProgress(10, 20, aborted);
  EXPECT_TRUE(aborted);  // OnProgress alone can abort
  EXPECT_EQ(Application->PumpCount(), pumps);
}

TEST(WebComponent, ProgressLineAndBar) {
  Scripted s;
  TProbe p(nullptr);
  p.StatusDialog()->SetEnabled(true);
  p.Body = [&] {
    TfrmKtInetUpdate* w = p.StatusWindow();
    bool abort = true;  // the window's flag overwrites what the caller passed
    p.UpdateProgress(1500, 3000, abort);
    EXPECT_FALSE(abort);
    EXPECT_EQ(U8(w->lblStatus->Caption()), "Downloaded 1500 of 3000 bytes (50%)");
    EXPECT_EQ(w->pbStatus->Max(), 3000);
    EXPECT_EQ(w->pbStatus->Position(), 1500);

    // Above 42,949,672 bytes current * 100 no longer fits 32 bits: the quotient stays exact.
    p.UpdateProgress(4000000000u, 4294967295u, abort);
    EXPECT_EQ(U8(w->lblStatus->Caption()), "Downloaded 4000000000 of 4294967295 bytes (93%)");
    p.UpdateProgress(50000000u, 100000000u, abort);
    EXPECT_EQ(U8(w->lblStatus->Caption()), "Downloaded 50000000 of 100000000 bytes (50%)");
    EXPECT_EQ(w->pbStatus->Position(), 50000000);

    // An unknown size: the bytes so far, no percentage, an empty bar, no failure.
    p.UpdateProgress(2050, 0, abort);
    EXPECT_EQ(U8(w->lblStatus->Caption()), "Downloaded 2050 bytes");
    EXPECT_EQ(w->pbStatus->Position(), 0);
    EXPECT_EQ(w->pbStatus->Fraction(), 0.0);

    // Cancel in the window reaches the abort flag at the next update, pressed once or twice.
    w->btnCancelClick(w->btnCancel);
    w->btnCancelClick(w->btnCancel);
    abort = false;
    p.UpdateProgress(1, 2, abort);
    EXPECT_TRUE(abort);
  };
  p.Execute();
}

TEST(WebComponent, AnExceptionLeavingTheRunClosesHandlesAndFreesTheWindow) {
  Scripted s;
  TProbe p(nullptr);
  p.SetHost(u"127.0.0.1");
  p.SetPort(9);  // nothing goes over the wire before a request is sent
  p.StatusDialog()->SetEnabled(true);
  int after = 0;
  p.SetOnAfterExecute([&](TObject*) { ++after; });
  p.Body = [&] {
    p.ConnectToInet(false);
    ASSERT_NE(p.Session(), nullptr);
    ASSERT_NE(p.Connection(), nullptr);
    throw EFCreateError(u"Cannot create file \"x\".");
  };
  EXPECT_THROW(p.Execute(), EFCreateError);
  EXPECT_EQ(p.Session(), nullptr);
  EXPECT_EQ(p.Connection(), nullptr);
  EXPECT_EQ(p.StatusWindow(), nullptr);
  EXPECT_EQ(after, 0);
  // The next run starts clean.
  p.Body = [] {};
  EXPECT_TRUE(p.Execute());
  EXPECT_EQ(after, 1);
}

TEST(WebComponent, PrimitivesWithoutAConnectionOrRequest) {
  TProbe p(nullptr);
  TEventLog log;
  log.Attach(p);
  Cardinal size = 7;
  FILETIME time;
  // No connection: nothing happens, not even an action.
  EXPECT_FALSE(p.GetFileInfoFromInet(u"/x", size, time));
  EXPECT_EQ(size, 0u);
  TStringList list;
  EXPECT_FALSE(p.ReadDirFromInet(u"", u"*", false, &list));
  EXPECT_FALSE(p.ReadFileFromInet(u"/x", u"/nonexistent/x", 0));
  EXPECT_TRUE(log.events.empty());

  // HTTP with a connection but no request: ReadFileFromInet finds nothing to read, yet passes
  // through both of its steps; HTTP lists nothing, but a list that held entries gives true.
  p.SetHost(u"127.0.0.1");
  p.SetPort(9);
  p.ConnectToInet(false);
  ASSERT_NE(p.Connection(), nullptr);
  log.events.clear();
  EXPECT_FALSE(p.ReadFileFromInet(u"/x", u"/nonexistent/x", 0));
  EXPECT_EQ(log.Actions(), (std::vector<TKtIAction>{iaDownloading, iaDownloaded}));
  EXPECT_FALSE(p.ReadDirFromInet(u"", u"*", true, &list));
  list.Add(u"kept");
  EXPECT_TRUE(p.ReadDirFromInet(u"", u"*", true, &list));
  EXPECT_EQ(list.Count(), 1);
  p.DisconnectFromInet();
  EXPECT_EQ(p.Connection(), nullptr);
  EXPECT_EQ(p.Action(), iaDisconnected);
}

}  // namespace
}  // namespace ktinet::test
