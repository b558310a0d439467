// TKtInetBase against real loopback servers: bytes on the wire, answers, statuses, events,
// the exception guard, proxies and the Host/Address setters.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/KtInBase.h"
#include "core/KtInCnst.h"
#include "support/Net.h"
#include "support/ScriptedServer.h"
#include "vcl/KtILogOn.h"
#include "vcl/ScriptedBackend.h"
#include "vcl/StdCtrls.h"

namespace ktinet {
namespace {

using test::Script;
using test::ScriptedServer;

const std::string kHeaderBlock = "Proxy-Connection: Keep-Alive\r\n\r\n";

class TTestQuery : public TKtInetBase {
 public:
  explicit TTestQuery(TComponent* owner = nullptr) : TKtInetBase(owner) {
    SetConnectTimeout(5000);
    SetReadTimeout(5000);
  }
  String Query;
  using TKtInetBase::CurrentStep;
  using TKtInetBase::StepCount;

 protected:
  String GetQuery() override { return Query; }
};

// A descendant that reads one line per step and keeps the connection for the next one, as the
// line protocols of the suite do.
class TLineQuery : public TTestQuery {
 public:
  using TTestQuery::TTestQuery;

 protected:
  String InternalExecute() override {
    SendToSocket(GetQuery() + GetRawHeaders());
    String line;
    char c = 0;
    while (ReceiveFromSocket(&c, 1) == 1) {
      line += static_cast<Char>(static_cast<unsigned char>(c));
      if (c == '\n') break;
    }
    return line;
  }
};

// A descendant whose answers are one line: it knows where each ends, so the connection can serve
// the next query with nothing of the last answer left on it.
class TCompleteLineQuery : public TTestQuery {
 public:
  using TTestQuery::TTestQuery;

 protected:
  size_t AnswerReceived(const char* Data, size_t Count, bool& Complete) override {
    const char* lf = static_cast<const char*>(std::memchr(Data, '\n', Count));
    if (!lf) return Count;
    Complete = true;
    return static_cast<size_t>(lf - Data) + 1;
  }
};

void PointAt(TKtInetBase& q, const ScriptedServer& server) {
  q.SetHost(u"127.0.0.1");
  q.SetPort(server.Port());
}

TEST(KtInBase, SendsQueryWithHeaderBlockAndKeepsEveryByteOfTheAnswer) {
  std::string binary;
  for (int i = 0; i < 48; ++i) binary.push_back(static_cast<char>((i * 37) & 0xFF));  // zeros at 0 and ...
  binary[20] = '\0';
  ScriptedServer server;
  server.Add(Script().ReadUntil("\r\n\r\n").Send(binary));
  TTestQuery q;
  PointAt(q, server);
  q.Query = u"hello\r\n";
  String result = q.Execute();
  ASSERT_TRUE(server.WaitDone(1));
  EXPECT_EQ(server.Received(0), "hello\r\n" + kHeaderBlock);
  EXPECT_EQ(result.size(), 48u);
  EXPECT_EQ(StringToBytes(result), binary);
  EXPECT_TRUE(q.LastError().empty());
  EXPECT_FALSE(q.Connected());

  // An answer spanning many reads and buffer blocks arrives whole and in order.
  const std::string pattern = "0123456789abcdefghijklmnopqrstuvwxyz\n";
  const size_t big = 5 * 1024 * 1024 + 7;
  server.Add(Script().ReadUntil("\r\n\r\n").SendRepeated(pattern, big));
  result = q.Execute();
  ASSERT_EQ(result.size(), big);
  for (size_t i = 0; i < big; i += 4099) ASSERT_EQ(result[i], static_cast<Char>(pattern[i % pattern.size()])) << i;
  EXPECT_EQ(result.back(), static_cast<Char>(pattern[(big - 1) % pattern.size()]));
}

TEST(KtInBase, EmptyQuerySendsNothingAndSilentServerGivesEmptyText) {
  ScriptedServer server;
  server.Add(Script().Send("% WHOIS banner first\r\n"));
  server.Add(Script().Close());
  TTestQuery q;
  PointAt(q, server);
  EXPECT_EQ(q.Execute(), u"% WHOIS banner first\r\n");
  ASSERT_TRUE(server.WaitDone(1));
  EXPECT_EQ(server.Received(0), "");

  // A server that closes without a word is an empty answer, not an error.
  q.Query = u"x\r\n";
  EXPECT_EQ(q.Execute(), u"");
  EXPECT_TRUE(q.LastError().empty());
}

TEST(KtInBase, StatusOfTheFirstLineHoweverItArrives) {
  struct Case {
    std::string answer;
    String expected;  // empty: the answer itself
  };
  const std::vector<Case> cases = {
      {"HTTP/1.0 404 Not Found\r\n\r\n", u"File not found"},
      {"HTTP/1.0 401 Unauthorized\r\n", u"HTTP Server authorization required"},
      {"HTTP/1.0 407 Proxy Authentication Required\r\n", u"Proxy Server authorization required"},
      {"XYZ 407", u"Proxy Server authorization required"},
      {"% This is a WHOIS banner\r\n404 lines later\r\n", u""},  // "Thi" is no number
      {"HTTP/1.0 200 OK\r\n\r\nbody 404 here", u""},
      {"HTTP/1.0 40", u""},  // 40 is no status of interest
      {"nospace404", u""},
  };
  for (const auto& c : cases) {
    ScriptedServer server;
    server.Add(Script().ReadUntil("\r\n\r\n").Send(c.answer));
    TTestQuery q;
    PointAt(q, server);
    q.Query = u"GET / HTTP/1.0\r\n";
    String result = q.Execute();
    if (c.expected.empty()) {
      EXPECT_EQ(StringToBytes(result), c.answer) << c.answer;
      EXPECT_TRUE(q.LastError().empty()) << c.answer;
    } else {
      EXPECT_EQ(result, c.expected) << c.answer;
      EXPECT_EQ(q.LastError(), c.expected) << c.answer;
      // The guard does not disconnect: the connection is still open, unless the status line
      // was only whole when the server closed.
      EXPECT_EQ(q.Connected(), c.answer.find('\n') != std::string::npos) << c.answer;
    }
  }

  // A status line split over reads is looked at once it is whole; a status in a later line is
  // not looked at, however the reads fall.
  ScriptedServer server;
  server.Add(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 ").Stall(300).Send("404 Not Found\r\n\r\n"));
  server.Add(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 40").Stall(300).Send("7 Proxy\r\n"));
  server.Add(Script().ReadUntil("\r\n\r\n").Send("x").Stall(300).Send(" 404 Not Found"));
  server.Add(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n").Stall(300).Send("X 404 later\r\n"));
  TTestQuery q;
  PointAt(q, server);
  q.Query = u"q";
  EXPECT_EQ(q.Execute(), u"File not found");
  EXPECT_EQ(q.Execute(), u"Proxy Server authorization required");
  EXPECT_EQ(q.Execute(), u"File not found") << "a first line without its end is whole when the server closes";
  EXPECT_EQ(q.Execute(), u"HTTP/1.0 200 OK\r\nX 404 later\r\n");

  // Texts are read when used, so a translated table takes effect at once.
  const String saved = strKtInEFileNotFound;
  strKtInEFileNotFound = u"Datei nicht gefunden";
  server.Add(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 404 Not Found\r\n"));
  String translated = q.Execute();
  strKtInEFileNotFound = saved;
  EXPECT_EQ(translated, u"Datei nicht gefunden");
}

TEST(KtInBase, ConnectionReuse) {
  // With KeepConnection the second Execute goes over the open connection.
  ScriptedServer server;
  server.Add(Script().ReadUntil("\r\n\r\n").Send("one\r\n").ReadUntil("\r\n\r\n").Send("two\r\n"));
  TLineQuery q;
  PointAt(q, server);
  int connects = 0, disconnects = 0;
  q.SetOnConnect([&](TObject*, TCustomWinSocket*) { ++connects; });
  q.SetOnDisconnect([&](TObject*, TCustomWinSocket*) { ++disconnects; });
  q.SetKeepConnection(true);
  q.Query = u"A";
  EXPECT_EQ(q.Execute(), u"one\r\n");
  EXPECT_TRUE(q.Connected());
  q.Query = u"B";
  EXPECT_EQ(q.Execute(), u"two\r\n");
  EXPECT_EQ(connects, 1);
  EXPECT_EQ(disconnects, 0);
  EXPECT_EQ(server.ConnectionCount(), 1u);

  // Without it every Execute ends by disconnecting, and the next one connects anew.
  q.SetKeepConnection(false);
  q.Query = u"C";
  EXPECT_EQ(q.Execute(), u"");  // the server's script has ended: it closed
  server.Add(Script().ReadUntil("\r\n\r\n").Send("three\r\n").ReadUntilClose());
  q.Query = u"D";
  EXPECT_EQ(q.Execute(), u"three\r\n");
  EXPECT_FALSE(q.Connected());
  ASSERT_TRUE(server.WaitDone(2));
  EXPECT_EQ(server.Received(0), "A" + kHeaderBlock + "B" + kHeaderBlock + "C" + kHeaderBlock);
  EXPECT_EQ(server.Received(1), "D" + kHeaderBlock);

  // After a status error the connection stays open until the next Execute, which starts on a
  // new one: the rest of the failed answer ("stale") is never read as the next answer. That
  // holds with KeepConnection too, since the failed answer was not read to its end.
  for (bool keep : {false, true}) {
    ScriptedServer s2;
    s2.Add(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 404 Not Found\r\n").Stall(300).Send("stale").ReadUntilClose());
    s2.Add(Script().ReadUntil("\r\n\r\n").Send("fresh"));
    TTestQuery q2;
    PointAt(q2, s2);
    q2.SetKeepConnection(keep);
    int closes = 0;
    q2.SetOnDisconnect([&](TObject*, TCustomWinSocket*) { ++closes; });
    q2.Query = u"first";
    EXPECT_EQ(q2.Execute(), u"File not found");
    EXPECT_TRUE(q2.Connected());
    q2.Query = u"second";
    EXPECT_EQ(q2.Execute(), u"fresh") << keep;
    EXPECT_TRUE(q2.LastError().empty());
    EXPECT_EQ(s2.ConnectionCount(), 2u);
    EXPECT_GE(closes, 1);
    ASSERT_TRUE(s2.WaitDone(2));
    EXPECT_EQ(s2.Received(0), "first" + kHeaderBlock) << "the second query never went over the stale connection";
  }

  // An answer that was read to its end leaves nothing behind: with KeepConnection the
  // connection serves the next query even after an error text.
  ScriptedServer s3;
  s3.Add(Script().ReadUntil("\r\n\r\n").Send("ERR 404 gone\n").ReadUntil("\r\n\r\n").Send("ok\n"));
  TCompleteLineQuery q3;
  PointAt(q3, s3);
  q3.SetKeepConnection(true);
  q3.Query = u"a";
  EXPECT_EQ(q3.Execute(), u"File not found");
  q3.Query = u"b";
  EXPECT_EQ(q3.Execute(), u"ok\n");
  EXPECT_EQ(s3.ConnectionCount(), 1u);
}

TEST(KtInBase, MaxSizeBoundsTheAnswer) {
  ScriptedServer server;
  server.Add(Script().ReadUntil("\r\n\r\n").SendRepeated("0123456789", 100));
  server.Add(Script().ReadUntil("\r\n\r\n").SendRepeated("0123456789", 101));
  // A server that never stops sending: the limit ends the reading, not the memory.
  server.Add(Script().ReadUntil("\r\n\r\n").SendRepeated("endless ", size_t{1} << 40));
  TTestQuery q;
  EXPECT_EQ(q.MaxSize(), 0);
  PointAt(q, server);
  q.SetMaxSize(100);
  q.Query = u"q";
  EXPECT_EQ(q.Execute().size(), 100u) << "an answer of exactly MaxSize bytes passes";
  EXPECT_TRUE(q.LastError().empty());
  String result = q.Execute();
  EXPECT_EQ(result, u"The answer is larger than MaxSize (100 bytes); reading stopped");
  EXPECT_EQ(q.LastError(), result);
  q.SetMaxSize(1 << 20);
  EXPECT_EQ(q.Execute(), u"The answer is larger than MaxSize (1048576 bytes); reading stopped");
  q.SetMaxSize(-5);
  EXPECT_EQ(q.MaxSize(), 0);
}

TEST(KtInBase, EventsInOrderAndAfterExecuteChangesResult) {
  ScriptedServer server;
  server.Add(Script().ReadUntil("\r\n\r\n").Send("answer"));
  TTestQuery q;
  PointAt(q, server);
  q.Query = u"query";
  std::vector<std::string> log;
  auto add = [&](const std::string& what) {
    if (log.empty() || log.back() != what) log.push_back(what);
  };
  bool senderIsSocket = true;
  auto socketEvent = [&](const char* name) {
    return [&, name](TObject* Sender, TCustomWinSocket* Socket) {
      senderIsSocket = senderIsSocket && Sender != &q && dynamic_cast<TClientSocket*>(Sender) && Socket;
      add(name);
    };
  };
  q.SetOnBeforeExecute([&](TObject* Sender) {
    EXPECT_EQ(Sender, &q);
    add("before");
  });
  q.SetOnLookup(socketEvent("lookup"));
  q.SetOnConnecting(socketEvent("connecting"));
  q.SetOnConnect(socketEvent("connect"));
  q.SetOnSendTextToSocket(socketEvent("write"));
  q.SetOnReceiveTextFromSocket(socketEvent("read"));
  q.SetOnDisconnect(socketEvent("disconnect"));
  q.SetOnAfterExecute([&](TObject* Sender, String& Text) {
    EXPECT_EQ(Sender, &q);
    EXPECT_EQ(Text, u"answer");
    Text = u"changed";
    add("after");
  });
  EXPECT_EQ(q.Execute(), u"changed");
  EXPECT_TRUE(senderIsSocket);
  EXPECT_EQ(log, (std::vector<std::string>{"before", "lookup", "connecting", "connect", "write", "read",
                                           "disconnect", "after"}));

  // Every step's text goes through AfterExecute, CurrentStep counts from 0, texts are joined.
  server.Add(Script().ReadUntil("\r\n\r\n").Send("one\r\n").ReadUntil("\r\n\r\n").Send("two\r\n"));
  TLineQuery lq;
  PointAt(lq, server);
  lq.Query = u"step";
  lq.StepCount = 2;
  std::vector<int> steps;
  lq.SetOnAfterExecute([&](TObject*, String& Text) {
    steps.push_back(lq.CurrentStep);
    Text = u"[" + Text + u"]";
  });
  EXPECT_EQ(lq.Execute(), u"[one\r\n][two\r\n]");
  EXPECT_EQ(steps, (std::vector<int>{0, 1}));
  EXPECT_FALSE(lq.Connected());
}

TEST(KtInBase, GuardCatchesOnlyExceptionsRaisedAfterTheConnect) {
  ScriptedServer server;
  TTestQuery q;
  q.Query = u"q";

  // Before the connect: no host, a failing OnBeforeExecute.
  try {
    q.Execute();
    ADD_FAILURE() << "no host accepted";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), u"Host/Address is not defined.");
  }
  PointAt(q, server);
  q.SetOnBeforeExecute([](TObject*) { throw EAbort(u"stop"); });
  EXPECT_THROW(q.Execute(), EAbort);
  q.SetOnBeforeExecute(nullptr);
  EXPECT_EQ(server.ConnectionCount(), 0u);

  // After it: an Exception (or descendant) becomes the result and LastError.
  server.Add(Script().ReadUntil("\r\n\r\n").Send("fine"));
  q.SetOnAfterExecute([](TObject*, String&) { throw EConvertError(u"bad answer"); });
  EXPECT_EQ(q.Execute(), u"bad answer");
  EXPECT_EQ(q.LastError(), u"bad answer");

  // Anything else passes on.
  server.Add(Script().ReadUntil("\r\n\r\n").Send("fine"));
  q.SetOnAfterExecute([](TObject*, String&) { throw std::runtime_error("not ours"); });
  EXPECT_THROW(q.Execute(), std::runtime_error);

  // A clean run clears the last error.
  server.Add(Script().ReadUntil("\r\n\r\n").Send("fine"));
  q.SetOnAfterExecute(nullptr);
  q.Disconnect();
  EXPECT_EQ(q.Execute(), u"fine");
  EXPECT_TRUE(q.LastError().empty());

  // A character that has no byte is refused before anything is sent.
  server.Add(Script().ReadUntilClose());
  q.Query = u"caf\u00e9 \u20ac";
  String r = q.Execute();
  EXPECT_FALSE(q.LastError().empty());
  EXPECT_EQ(r, q.LastError());
  EXPECT_NE(UTF8Encode(r).find("U+20AC"), std::string::npos) << UTF8Encode(r);
  q.Disconnect();
  // One connection per script: the last one (the refused text) must have received nothing. The
  // count is fixed rather than read, since the server may not have taken the last one yet.
  ASSERT_TRUE(server.WaitDone(4));
  EXPECT_EQ(server.ConnectionCount(), 4u);
  EXPECT_EQ(server.Received(3), "");
}

TEST(KtInBase, RefusedConnectionAndReadTimeOut) {
  TTestQuery q;
  q.SetHost(u"127.0.0.1");
  q.SetPort(test::FreePort());
  q.Query = u"q";
  std::vector<TErrorEvent> errors;
  q.SetOnError([&](TObject*, TCustomWinSocket*, TErrorEvent kind, int& code) {
    errors.push_back(kind);
    EXPECT_NE(code, 0);
  });
  EXPECT_THROW(q.Execute(), ESocketError);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], eeConnect);
  EXPECT_FALSE(q.Connected());

  // A handler that waves the errors through: nothing can be sent, and the step says so.
  errors.clear();
  q.SetOnError([&](TObject*, TCustomWinSocket*, TErrorEvent kind, int& code) {
    errors.push_back(kind);
    code = 0;
  });
  EXPECT_EQ(q.Execute(), u"No answer from server");
  EXPECT_TRUE(q.LastError().empty());
  EXPECT_EQ(errors, (std::vector<TErrorEvent>{eeConnect, eeSend}));

  // A server that neither answers nor closes: the read time-out ends Execute in its guard.
  ScriptedServer server;
  server.Add(Script().ReadUntil("\r\n\r\n").Stall(3000));
  TTestQuery slow;
  PointAt(slow, server);
  slow.SetReadTimeout(200);
  slow.Query = u"q";
  auto t0 = std::chrono::steady_clock::now();
  String r = slow.Execute();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_FALSE(slow.LastError().empty());
  EXPECT_EQ(r, slow.LastError());
  EXPECT_LT(ms, 2000);
  EXPECT_FALSE(slow.Connected());
}

TEST(KtInBase, ProxyEndpointAndHeaderBlock) {
  ScriptedServer proxy;
  TTestQuery q;
  q.SetHost(u"whois.example.invalid");
  q.SetPort(43);
  q.SetLoginPrompt(false);
  q.Proxy()->SetUseProxy(true);
  q.Proxy()->SetServer(u"127.0.0.1");
  q.Proxy()->SetPort(proxy.Port());
  q.Proxy()->SetUser(u"u1");
  q.Proxy()->SetPassword(u"p1");
  q.Query = u"example.com\r\n";
  proxy.Add(Script().ReadUntil("\r\n\r\n").Send("via proxy"));
  EXPECT_EQ(q.Execute(), u"via proxy");
  ASSERT_TRUE(proxy.WaitDone(1));
  EXPECT_EQ(proxy.Received(0), "example.com\r\nUsername: u1\r\nPassword: p1\r\n\r\n");
  // The socket keeps pointing at the proxy.
  EXPECT_EQ(q.Host(), u"");
  EXPECT_EQ(q.Address(), u"127.0.0.1");
  EXPECT_EQ(q.Port(), proxy.Port());

  // A proxy given by name lands in Host; credentials left empty are not sent.
  q.Proxy()->SetServer(u"localhost");
  q.Proxy()->SetUser(u"");
  q.Proxy()->SetPassword(u"p2");
  proxy.Add(Script().ReadUntil("\r\n\r\n").Send("ok"));
  EXPECT_EQ(q.Execute(), u"ok");
  ASSERT_TRUE(proxy.WaitDone(2));
  EXPECT_EQ(proxy.Received(1), "example.com\r\nPassword: p2\r\n\r\n");
  EXPECT_EQ(q.Host(), u"localhost");
  EXPECT_EQ(q.Address(), u"");

  // UseProxy without a server connects straight to the destination, and the destination sees
  // neither the proxy's credentials nor is anyone asked for them.
  auto backend = std::make_unique<ScriptedBackend>();
  ScriptedBackend* ui = backend.get();
  TBackendScope scope(std::move(backend));
  ScriptedServer direct;
  direct.Add(Script().ReadUntil("\r\n\r\n").Send("direct"));
  TTestQuery d;
  PointAt(d, direct);
  d.Proxy()->SetUseProxy(true);
  d.Proxy()->SetUser(u"secret-user");
  d.Proxy()->SetPassword(u"secret-password");
  ASSERT_TRUE(d.LoginPrompt());
  d.Query = u"q\r\n";
  EXPECT_EQ(d.Execute(), u"direct");
  ASSERT_TRUE(direct.WaitDone(1));
  EXPECT_EQ(direct.Received(0), "q\r\n\r\n");
  EXPECT_TRUE(ui->Forms().empty());
}

TEST(KtInBase, ProxyLogonPromptOncePerQuery) {
  auto backend = std::make_unique<ScriptedBackend>();
  ScriptedBackend* ui = backend.get();
  TBackendScope scope(std::move(backend));
  ScriptedServer proxy;
  TTestQuery q;
  q.SetHost(u"example.invalid");
  q.Proxy()->SetUseProxy(true);
  q.Proxy()->SetServer(u"127.0.0.1");
  q.Proxy()->SetPort(proxy.Port());
  q.Proxy()->SetUser(u"old");
  q.Query = u"q\r\n";

  ui->AnswerForm([](TForm& form) {
    auto& dlg = dynamic_cast<TfrmKtILogon&>(form);
    dlg.edLogin->SetText(u"alice");
    dlg.edPassword->SetText(u"s3cret");
    return mrOk;
  });
  proxy.Add(Script().ReadUntil("\r\n\r\n").Send("1"));
  EXPECT_EQ(q.Execute(), u"1");
  ASSERT_EQ(ui->Forms().size(), 1u);
  EXPECT_EQ(ui->Forms()[0].Caption, u"Proxy Server authorization");
  ASSERT_NE(ui->Forms()[0].Find(u"edLogin"), nullptr);
  EXPECT_EQ(ui->Forms()[0].Find(u"edLogin")->Text, u"old");
  EXPECT_EQ(q.Proxy()->User(), u"alice");
  EXPECT_EQ(q.Proxy()->Password(), u"s3cret");

  // Cancel keeps the stored values, and they are still sent.
  ui->AnswerForm([](TForm& form) {
    dynamic_cast<TfrmKtILogon&>(form).edLogin->SetText(u"mallory");
    return mrCancel;
  });
  proxy.Add(Script().ReadUntil("\r\n\r\n").Send("2"));
  EXPECT_EQ(q.Execute(), u"2");
  ASSERT_TRUE(proxy.WaitDone(2));
  EXPECT_EQ(ui->Forms().size(), 2u);
  EXPECT_EQ(proxy.Received(0), "q\r\nUsername: alice\r\nPassword: s3cret\r\n\r\n");
  EXPECT_EQ(proxy.Received(1), "q\r\nUsername: alice\r\nPassword: s3cret\r\n\r\n");

  // Without a query nothing is sent, so nobody is asked.
  proxy.Add(Script().Send("banner"));
  q.Query.clear();
  EXPECT_EQ(q.Execute(), u"banner");
  EXPECT_EQ(ui->Forms().size(), 2u);
}

TEST(KtInBase, HostAddressSettersAndAddrIsIP) {
  TTestQuery q;
  q.SetHost(u"192.168.1.1");
  EXPECT_EQ(q.Host(), u"");
  EXPECT_EQ(q.Address(), u"192.168.1.1");
  q.SetAddress(u"whois.example.net");
  EXPECT_EQ(q.Host(), u"whois.example.net");
  EXPECT_EQ(q.Address(), u"");
  q.SetAddress(u"10.0.0.1");
  EXPECT_EQ(q.Host(), u"");
  EXPECT_EQ(q.Address(), u"10.0.0.1");
  q.SetPort(4343);
  EXPECT_EQ(q.Port(), 4343);

  const std::vector<std::pair<String, bool>> cases = {
      {u"1.2.3.4", true},       {u"0.0.0.0", true},          {u"255.255.255.255", true},
      {u"10.0.0.1", true},      {u"256.1.1.1", false},       {u"1.2.3.256", false},
      {u"10.0.0", false},       {u"10.0.0.1.", false},       {u"10.0.0.1.5", false},
      {u"10..0.1", false},      {u"", false},                {u"a.b.c.d", false},
      {u".1.2.3", false},       {u"1.2.3.4.5.6", false},     {u"-1.2.3.4", false},
      {u"1.2.3.4.99999999999", false},                       {u"::1", false},
      {u"example.com", false},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(TKtInetBase::AddrIsIP(text), expected) << UTF8Encode(text);
}

TEST(KtInBase, PropertiesAndProxyAssign) {
  TComponent owner(nullptr);
  auto* q = new TTestQuery(&owner);  // freed by its owner
  EXPECT_EQ(q->Port(), 0);
  EXPECT_FALSE(q->KeepConnection());
  EXPECT_TRUE(q->LoginPrompt());
  EXPECT_EQ(q->ClientType(), ctBlocking);
  EXPECT_EQ(q->ConnectTimeout(), 5000);
  q->SetAbout(u"anything");
  EXPECT_EQ(q->About(), u"");
  EXPECT_EQ(q->Proxy()->Port(), 0);
  EXPECT_FALSE(q->Proxy()->UseProxy());
  EXPECT_EQ(q->GetRawHeaders(), u"Proxy-Connection: Keep-Alive\r\n\r\n");

  TKtInetProxy settings;
  settings.SetServer(u"proxy.example");
  settings.SetUser(u"u");
  settings.SetPassword(u"p");
  settings.SetUseProxy(true);
  settings.SetPort(3128);
  q->SetProxy(&settings);
  EXPECT_NE(q->Proxy(), &settings);  // copied, never shared
  settings.SetServer(u"changed");
  EXPECT_EQ(q->Proxy()->Server(), u"proxy.example");
  EXPECT_EQ(q->Proxy()->User(), u"u");
  EXPECT_EQ(q->Proxy()->Password(), u"p");
  EXPECT_TRUE(q->Proxy()->UseProxy());
  EXPECT_EQ(q->Proxy()->Port(), 3128);

  TStringList other;
  EXPECT_THROW(q->Proxy()->Assign(&other), EConvertError);
}

}  // namespace
}  // namespace ktinet
