// TKtISMTP against a scripted server: the exact bytes of the dialogue and the message, replies
// read and checked, and input refused before anything is sent.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "mail/KtISMTP.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"

namespace ktinet {
namespace {

using test::Script;
using test::ScriptedServer;

const std::string kOk = "250 2.0.0 Ok\r\n";

std::string LocalHost() {
  char name[256] = {};
  ::gethostname(name, sizeof name - 1);
  return name;
}

// Greets, answers each line before the data with the given replies, takes the data, says bye.
Script Dialogue(const std::vector<std::string>& replies, const std::string& afterData = "250 2.0.0 queued\r\n") {
  Script s;
  s.Send("220 test.localhost ESMTP\r\n");
  for (const std::string& r : replies) s.ReadUntil("\r\n").Send(r);
  s.ReadUntil("\r\n.\r\n").Send(afterData);
  s.ReadUntil("\r\n").Send("221 2.0.0 Bye\r\n");
  return s;
}

// The transcript with this machine's name as HOST and the message identifier checked and
// replaced by ID.
std::string Normalized(std::string t) {
  std::smatch m;
  static const std::regex id("Message-Id: <([0-9]{12})([a-t]{8})@([^>]*)>\r\n");
  EXPECT_TRUE(std::regex_search(t, m, id)) << t;
  if (!m.empty()) {
    EXPECT_EQ(m[3].str(), LocalHost());
    t.replace(m.position(0), m.length(0), "Message-Id: ID\r\n");
  }
  const std::string host = LocalHost();
  for (size_t at; (at = t.find(" " + host + "\r\n")) != std::string::npos;) t.replace(at + 1, host.size(), "HOST");
  return t;
}

class SmtpTranscript : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    smtp.SetHost(u"127.0.0.1");
    smtp.SetPort(server.Port());
    smtp.SetConnectTimeout(5000);
    smtp.SetReadTimeout(5000);
    smtp.SetDate(EncodeDateTime(2026, 12, 6, 9, 5, 3, 0));
    smtp.From()->SetText(u"Ann Sender <ann@example.com>");
  }
  ScriptedServer server;
  TKtISMTP smtp{nullptr};
  test::TempDir dir;
};

TEST_F(SmtpTranscript, PlainMessageHeadersEnvelopeAndDotStuffing) {
  smtp.Recipients()->SetEMailAddresses(u"Bob <bob@example.com>, \"Doe, Jane\" <jane@example.com>");
  smtp.CC()->SetEMailAddresses(u"carl@example.com");
  smtp.BCC()->SetEMailAddresses(u"Secret Sam <sam@example.com>");
  smtp.ReplyTo()->SetEMailAddresses(u"r1@example.com, R Two <r2@example.com>");
  smtp.SetPriority(spLowest);
  smtp.SetSubject(u"Plain subject");
  smtp.Body()->Add(u"First line");
  smtp.Body()->Add(u".");
  smtp.Body()->Add(u"..two dots\r\nsplit\rthree\nways");
  server.Add(Dialogue({kOk, kOk, kOk, kOk, kOk, kOk, kOk, "354 go ahead\r\n"}));

  EXPECT_EQ(smtp.Execute(), u"");
  EXPECT_EQ(smtp.LastError(), u"");
  ASSERT_TRUE(server.WaitDone(1));
  EXPECT_EQ(Normalized(server.Received(0)),
            "HELO HOST\r\n"
            "RSET\r\n"
            "MAIL FROM:<ann@example.com>\r\n"
            "RCPT TO:<bob@example.com>\r\n"
            "RCPT TO:<jane@example.com>\r\n"
            "RCPT TO:<carl@example.com>\r\n"
            "RCPT TO:<sam@example.com>\r\n"
            "DATA\r\n"
            "Message-Id: ID\r\n"
            "Reply-To: <r1@example.com>, <r2@example.com>\r\n"
            "From: Ann Sender <ann@example.com>\r\n"
            "To: Bob <bob@example.com>, \"Doe, Jane\" <jane@example.com>\r\n"
            "Cc: carl@example.com\r\n"
            "Date: Sun, 6 Dec 2026 09:05:03 GMT\r\n"
            "X-Priority: 5\r\n"
            "X-Mailer: Ardenfold mailer (https://github.com/ktinet/ktinet)\r\n"
            "Subject: Plain subject\r\n"
            "MIME-Version: 1.0\r\n"
            "Content-Type: Text/Plain; charset=us-ascii\r\n"
            "Content-Transfer-Encoding: 7bit\r\n"
            "\r\n"
            "First line\r\n"
            "..\r\n"
            "...two dots\r\n"
            "split\r\n"
            "three\r\n"
            "ways\r\n"
            "\r\n"
            ".\r\n"
            "QUIT\r\n");
  EXPECT_TRUE(server.Errors().empty());
}

TEST_F(SmtpTranscript, LoginAndAttachmentLayouts) {
  std::string one = dir.Write("one.bin", std::string("\x00\x01\xff.bin", 7));
  std::string two = dir.Write("notes.txt", ".hidden\nline two\r\n");
  smtp.Recipients()->SetEMailAddresses(u"bob@example.com");
  smtp.SetPriority(spHighest);
  smtp.Body()->Add(u"See attached.");
  smtp.Login()->SetUserID(u"user");
  smtp.Login()->SetPassword(u"pass");
  smtp.Login()->SetUseLogin(true);
  TKtIEMailAttachment* a = smtp.Attachments()->Add();
  a->SetFileName(UTF8ToString(one));
  a->SetContentType(u"application/octet-stream");
  a->SetEncoding(u"");  // empty means base64
  TKtIEMailAttachment* b = smtp.Attachments()->Add();
  b->SetFileName(UTF8ToString(two));
  b->SetAttachmentName(u"Notes \"final\".txt");
  b->SetContentType(u"text/plain");
  b->SetEncoding(u"7bit");
  server.Add(Dialogue({"250-test.localhost\r\n250-AUTH LOGIN PLAIN\r\n250 8BITMIME\r\n", kOk, "334 VXNlcm5hbWU6\r\n",
                       "334 UGFzc3dvcmQ6\r\n", "235 2.7.0 Authentication successful\r\n", kOk, kOk,
                       "354 go ahead\r\n"}));

  EXPECT_EQ(smtp.Execute(), u"");
  ASSERT_TRUE(server.WaitDone(1));
  const std::string t = Normalized(server.Received(0));
  const std::string head =
      "EHLO HOST\r\nRSET\r\nauth LOGIN\r\ndXNlcg==\r\ncGFzcw==\r\nMAIL FROM:<ann@example.com>\r\n"
      "RCPT TO:<bob@example.com>\r\nDATA\r\n";
  EXPECT_EQ(t.substr(0, head.size()), head);
  EXPECT_NE(t.find("X-Priority: 1\r\n"), std::string::npos);
  const std::string body =
      "MIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"----------ArdenfoldSMTP\"\r\n"
      "\r\n"
      "------------ArdenfoldSMTP\r\n"
      "Content-Type: Text/Plain; charset=us-ascii\r\n"
      "Content-Transfer-Encoding: 7bit\r\n"
      "\r\n"
      "See attached.\r\n"
      "------------ArdenfoldSMTP\r\n"
      "Content-Type: application/octet-stream; name=\"one.bin\"\r\n"
      "Content-Transfer-Encoding: base64\r\n"
      "Content-Disposition: attachment; filename=\"one.bin\"\r\n"
      "\r\n"
      "AAH/LmJpbg==\r\n"
      "------------ArdenfoldSMTP\r\n"
      "Content-Type: text/plain; name=\"Notes \\\"final\\\".txt\"\r\n"
      "Content-Transfer-Encoding: 7bit\r\n"
      "Content-Disposition: attachment; filename=\"notes.txt\"\r\n"
      "\r\n"
      "..hidden\r\n"
      "line two\r\n"
      "\r\n"
      "------------ArdenfoldSMTP--\r\n"
      "\r\n"
      ".\r\n"
      "QUIT\r\n";
  ASSERT_GE(t.size(), body.size());
  EXPECT_EQ(t.substr(t.size() - body.size()), body);
  // Two attachments: three delimiters and one closing delimiter.
  size_t delimiters = 0;
  for (size_t at = 0; (at = t.find("------------ArdenfoldSMTP\r\n", at)) != std::string::npos; ++at) ++delimiters;
  EXPECT_EQ(delimiters, 3u);
}

TEST_F(SmtpTranscript, RefusalsEndExecuteWithTheServersText) {
  smtp.Recipients()->SetEMailAddresses(u"bad@example.com");
  server.Add(Dialogue({kOk, kOk, kOk, "550 5.1.1 <bad@example.com>: Recipient address rejected\r\n"}));
  EXPECT_EQ(smtp.Execute(), u"550 5.1.1 <bad@example.com>: Recipient address rejected");
  EXPECT_EQ(smtp.LastError(), u"550 5.1.1 <bad@example.com>: Recipient address rejected");
  server.Stop();
  EXPECT_EQ(server.Received(0).find("DATA"), std::string::npos);

  // A refused message after the data, with a multi-line reply read whole.
  ScriptedServer second;
  smtp.SetPort(second.Port());
  smtp.Disconnect();
  second.Add(Dialogue({"250-hello\r\n250 more\r\n", kOk, kOk, kOk, "354 go\r\n"},
                      "554-5.7.1 Message rejected\r\n554 5.7.1 as spam\r\n"));
  EXPECT_EQ(smtp.Execute(), u"554-5.7.1 Message rejected 554 5.7.1 as spam");

  // A greeting that is not 220 reaches the caller and leaves no connection behind.
  ScriptedServer third;
  smtp.SetPort(third.Port());
  smtp.Disconnect();
  third.Add(Script().Send("554 5.3.2 No service\r\n").ReadUntilClose());
  EXPECT_THROW(smtp.Execute(), Exception);
  EXPECT_FALSE(smtp.Connected());
}

TEST_F(SmtpTranscript, MalformedAndOversizedRepliesAreErrors) {
  smtp.Recipients()->SetEMailAddresses(u"bob@example.com");
  std::string many = "220-hello\r\n";
  for (int i = 0; i < 101; ++i) many += "220-more\r\n";
  many += "220 end\r\n";
  server.Add(Script().Send(many).ReadUntilClose());
  server.Add(Script().Send("220 " + std::string(5000, 'x') + "\r\n").ReadUntilClose());
  server.Add(Script().Send("hello there\r\n").ReadUntilClose());
  try {
    smtp.Execute();
    ADD_FAILURE() << "a reply of 102 continuation lines was accepted";
  } catch (const Exception& e) {
    EXPECT_NE(e.Message().find(u"more than 100 continuation lines"), String::npos);
  }
  try {
    smtp.Execute();
    ADD_FAILURE() << "a 5000-byte reply line was accepted";
  } catch (const Exception& e) {
    EXPECT_NE(e.Message().find(u"longer than 4 KiB"), String::npos);
  }
  try {
    smtp.Execute();
    ADD_FAILURE() << "a reply without a code was accepted";
  } catch (const Exception& e) {
    EXPECT_NE(e.Message().find(u"malformed reply: hello there"), String::npos);
  }
}

TEST_F(SmtpTranscript, GreetingChoicesAndTheGoodbye) {
  // Login over a server that refuses EHLO: HELO again, then the login.
  smtp.Recipients()->SetEMailAddresses(u"bob@example.com");
  smtp.Login()->SetUseLogin(true);
  smtp.Login()->SetUserID(u"u");
  smtp.Login()->SetPassword(u"p");
  Script s;
  s.Send("220 old server\r\n");
  for (const char* r : {"502 5.5.2 Error: command not recognized\r\n", "250 ok\r\n", "250 ok\r\n", "334 x\r\n",
                        "334 y\r\n", "235 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n"})
    s.ReadUntil("\r\n").Send(r);
  // No reply to QUIT: the server just closes, which is no error.
  s.ReadUntil("\r\n.\r\n").Send(kOk).ReadUntil("QUIT\r\n").Close();
  server.Add(s);
  EXPECT_EQ(smtp.Execute(), u"");
  EXPECT_EQ(smtp.LastError(), u"");
  ASSERT_TRUE(server.WaitDone(1));
  EXPECT_EQ(Normalized(server.Received(0)).substr(0, 32), "EHLO HOST\r\nHELO HOST\r\nRSET\r\nauth");

  // STARTTLS wanted but not offered: nothing travels in clear text beyond EHLO.
  ScriptedServer plain;
  smtp.SetPort(plain.Port());
  smtp.SetUseTLS(utStartTLS);
  plain.Add(Script().Send("220 hi\r\n").ReadUntil("\r\n").Send("250-hi\r\n250 AUTH LOGIN\r\n").ReadUntilClose());
  try {
    smtp.Execute();
    ADD_FAILURE() << "sent without the STARTTLS the caller asked for";
  } catch (const Exception& e) {
    EXPECT_NE(e.Message().find(u"does not offer STARTTLS"), String::npos) << UTF8Encode(e.Message());
  }
  ASSERT_TRUE(plain.WaitDone(1));
  EXPECT_EQ(Normalized("Message-Id: <202601010000aaaaaaaa@" + LocalHost() + ">\r\n" + plain.Received(0)),
            "Message-Id: ID\r\nEHLO HOST\r\n");
}

TEST_F(SmtpTranscript, UnsafeInputIsRefusedBeforeConnecting) {
  smtp.Recipients()->SetEMailAddresses(u"bob@example.com");
  auto refused = [&](const char* what) {
    EXPECT_THROW(smtp.Execute(), Exception) << what;
    EXPECT_EQ(server.ConnectionCount(), 0u) << what;
  };
  smtp.SetSubject(u"Hi\r\nBcc: victim@example.com");
  refused("CR LF in the subject");
  smtp.SetSubject(u"ok");
  smtp.Recipients()->Items(0)->SetAddress(u"bob@example.com>\r\nRCPT TO:<x@y");
  refused("CR LF in a recipient");
  smtp.Recipients()->Items(0)->SetAddress(u"bob@example.com");
  smtp.From()->SetAddress(String(u"ann@example.com\0", 16));
  refused("NUL in the sender");
  smtp.From()->SetAddress(u"ann@example.com");
  smtp.SetCharSet(u"utf-8\nX-Evil: 1");
  refused("LF in the charset");
  smtp.SetCharSet(u"us-ascii");
  TKtIEMailAttachment* a = smtp.Attachments()->Add();
  a->SetFileName(UTF8ToString(dir.Write("a.txt", "x")));
  a->SetAttachmentName(u"a.txt\r\nContent-Type: text/html");
  refused("CR LF in an attachment's name");
  a->SetAttachmentName(u"a.txt");
  a->SetContentType(u"text/plain\n");
  refused("LF in an attachment's type");
  a->SetContentType(u"text/plain");
  a->SetFileName(UTF8ToString(dir / "missing.bin"));
  refused("an attachment file that cannot be read");
  smtp.Attachments()->Clear();
  smtp.Body()->Add(u"caf\u00e9");
  refused("a character us-ascii cannot carry");
  smtp.Body()->Clear();
  smtp.Body()->Add(u"\u20ac");
  smtp.SetCharSet(u"iso-8859-1");
  refused("a character iso-8859-1 cannot carry");
}

TEST_F(SmtpTranscript, EnvelopeAddressesMustBeWholeAddresses) {
  auto refused = [&](const String& list, const char* what) {
    smtp.Recipients()->SetEMailAddresses(list);
    EXPECT_THROW(smtp.Execute(), Exception) << what;
    EXPECT_EQ(server.ConnectionCount(), 0u) << what;
  };
  refused(u"bob@example.com, (Smith)", "an entry that is only a comment");
  refused(u"bob@example.com>", "a stray bracket leaves the address empty");
  refused(u"bob smith@example.com", "a blank");
  refused(u"bob@example.com (Smith", "an unclosed comment");
  refused(u"bob", "no domain");
  refused(u"bob@", "an empty domain");
  refused(u"@example.com", "an empty local part");
  refused(u"bob..x@example.com", "two dots in a row");
  refused(u"bob@exa_mple.com", "an underscore in the domain");
  smtp.Recipients()->SetEMailAddresses(u"bob@example.com");
  smtp.ReplyTo()->SetEMailAddresses(u"r@example.com, not an address");
  EXPECT_THROW(smtp.Execute(), Exception) << "a reply-to address";
  smtp.ReplyTo()->Clear();
  smtp.From()->SetText(u"Ann <>");
  EXPECT_THROW(smtp.Execute(), Exception) << "an empty sender";
  EXPECT_EQ(server.ConnectionCount(), 0u);

  // A comment may hold a comma; its entry stays one address. Unusual but sound forms pass.
  smtp.From()->SetText(u"Ann Sender <ann@example.com>");
  smtp.Recipients()->SetEMailAddresses(u"x@y.org (Smith, Jr.), o'neil+tag@sub.example.com, admin@[127.0.0.1]");
  ASSERT_EQ(smtp.Recipients()->Count(), 3);
  server.Add(Dialogue({kOk, kOk, kOk, kOk, kOk, kOk, "354 go ahead\r\n"}));
  EXPECT_EQ(smtp.Execute(), u"");
  ASSERT_TRUE(server.WaitDone(1));
  const std::string t = server.Received(0);
  EXPECT_NE(t.find("RCPT TO:<x@y.org>\r\nRCPT TO:<o'neil+tag@sub.example.com>\r\nRCPT TO:<admin@[127.0.0.1]>\r\n"),
            std::string::npos)
      << t;
  EXPECT_NE(t.find("To: \"Smith, Jr.\" <x@y.org>, o'neil+tag@sub.example.com,"), std::string::npos) << t;
}

TEST_F(SmtpTranscript, CharsetsAndEncodedSubjects) {
  smtp.Recipients()->SetEMailAddresses(u"bob@example.com");
  smtp.SetCharSet(u"iso-8859-1");
  smtp.SetEncoding(u"8bit");
  smtp.Body()->Add(u"caf\u00e9");
  // 44 ASCII characters and then a three-byte character: the word must end before it.
  smtp.SetSubject(String(44, u'a') + u"\u20ac!");
  server.Add(Dialogue({kOk, kOk, kOk, kOk, "354 go\r\n"}));
  smtp.Execute();
  ASSERT_TRUE(server.WaitDone(1));
  std::string t = server.Received(0);
  EXPECT_NE(t.find("\r\ncaf\xe9\r\n"), std::string::npos);
  EXPECT_NE(t.find("Subject: =?UTF-8?B?YWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWE=?=\r\n"
                   " =?UTF-8?B?4oKsIQ==?=\r\n"),
            std::string::npos)
      << t;

  ScriptedServer second;
  smtp.SetPort(second.Port());
  smtp.SetCharSet(u"windows-1252");
  smtp.Body()->Clear();
  smtp.Body()->Add(u"\u20ac 5");
  smtp.SetSubject(u"plain ascii");
  second.Add(Dialogue({kOk, kOk, kOk, kOk, "354 go\r\n"}));
  smtp.Execute();
  ASSERT_TRUE(second.WaitDone(1));
  EXPECT_NE(second.Received(0).find("\r\n\x80 5\r\n"), std::string::npos);
  EXPECT_NE(second.Received(0).find("Subject: plain ascii\r\n"), std::string::npos);
}

TEST(SmtpTexts, DatesZonesAndIdentifiers) {
  EXPECT_EQ(TKtISMTP::TimeZoneText(0), u"GMT");
  EXPECT_EQ(TKtISMTP::TimeZoneText(-330), u"+0530");
  EXPECT_EQ(TKtISMTP::TimeZoneText(300), u"-0500");
  EXPECT_EQ(TKtISMTP::TimeZoneText(570), u"-0930");
  EXPECT_EQ(TKtISMTP::LeadZero(7, 3), u"007");
  EXPECT_EQ(TKtISMTP::LeadZero(1234, 2), u"1234");
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  EXPECT_EQ(TKtISMTP::EMailFormatDate(EncodeDateTime(2027, 3, 1, 23, 59, 9, 0)), u"Mon, 1 Mar 2027 23:59:09 GMT");
  ::setenv("TZ", "IST-5:30", 1);
  ::tzset();
  EXPECT_EQ(TKtISMTP::GetTimeZoneString(), u"+0530");
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  std::regex shape("<[0-9]{12}[a-t]{8}@mail\\.example>");
  String first = TKtISMTP::UniqueMessageID(u"mail.example");
  EXPECT_TRUE(std::regex_match(UTF8Encode(first), shape)) << UTF8Encode(first);
  EXPECT_NE(TKtISMTP::UniqueMessageID(u"mail.example"), first);
}

}  // namespace
}  // namespace ktinet
