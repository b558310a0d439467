// The shared request of the web-service components, against a real nginx over HTTPS with the test
// authority: answers of every status come back whole; refusals name their cause.
#include <gtest/gtest.h>

#include <string>

#include "services/KtRestCall.h"
#include "support/NginxServer.h"

namespace ktinet {
namespace {

class Caller : public TKtRestComponent {
 public:
  Caller() : TKtRestComponent(nullptr) {}
  bool Call(const TKtRestRequest& r, TKtRestAnswer& a) { return RestCall(r, a); }

 protected:
  void InternalExecute() override {}
};

class RestCallTest : public ::testing::Test {
 protected:
  static test::NginxServer::Options Site() {
    test::NginxServer::Options o;
    o.https = true;
    o.files = {{"doc.json", "{\"a\":1}"}, {"big.json", std::string(5000, 'x')}};
    o.locations = "location = /limited { add_header Retry-After 7 always; return 429 '{\"e\":1}'; }\n"
                  "location = /moved { return 302 /doc.json; }\n";
    return o;
  }
  std::string Base() const { return "https://127.0.0.1:" + std::to_string(nginx.Port()); }
  void Trust(Caller& c) const { c.SetCAFile(UTF8ToString(test::NginxServer::CAFile())); }

  test::NginxServer nginx{Site()};
};

TEST_F(RestCallTest, AnswersOfEveryStatusComeBackWhole) {
  Caller c;
  Trust(c);
  TKtRestRequest r;
  TKtRestAnswer a;
  r.Url = UTF8ToString(Base() + "/doc.json");
  ASSERT_TRUE(c.Call(r, a)) << UTF8Encode(c.LastErrorText());
  EXPECT_EQ(a.Status, 200);
  EXPECT_EQ(a.Body, "{\"a\":1}");

  r.Url = UTF8ToString(Base() + "/limited");
  ASSERT_TRUE(c.Call(r, a));
  EXPECT_EQ(a.Status, 429);
  EXPECT_EQ(a.RetryAfter, u"7");
  EXPECT_EQ(a.Body, "{\"e\":1}");

  r.Url = UTF8ToString(Base() + "/missing");
  ASSERT_TRUE(c.Call(r, a));
  EXPECT_EQ(a.Status, 404);
  EXPECT_EQ(c.LastHTTPStatus(), 404u);

  // A GET follows a redirect to its target.
  r.Url = UTF8ToString(Base() + "/moved");
  ASSERT_TRUE(c.Call(r, a));
  EXPECT_EQ(a.Status, 200);
  EXPECT_EQ(a.Body, "{\"a\":1}");

  // Unless the caller judges each hop itself.
  r.FollowRedirects = false;
  ASSERT_TRUE(c.Call(r, a));
  EXPECT_EQ(a.Status, 302);
  EXPECT_NE(a.Location.find(u"/doc.json"), String::npos) << UTF8Encode(a.Location);
}

TEST(RestCall, PostCarriesItsBodyAndHeaders) {
  // The echo location proxies to itself in plain HTTP, so this server speaks HTTP.
  test::NginxServer::Options o;
  o.locations = test::NginxServer::EchoBodyLocation("/echo");
  test::NginxServer plain(o);
  Caller c;
  TKtRestRequest r;
  TKtRestAnswer a;
  r.Method = u"POST";
  r.Url = UTF8ToString("http://127.0.0.1:" + std::to_string(plain.Port()) + "/echo");
  r.Headers = {{u"Content-Type", u"application/json"}};
  r.Body = "{\"q\":\"b\xc3\xbc\"}";
  ASSERT_TRUE(c.Call(r, a)) << UTF8Encode(c.LastErrorText());
  EXPECT_EQ(a.Status, 200);
  EXPECT_NE(a.Body.find("b\xc3\xbc"), std::string::npos) << a.Body;
}

TEST_F(RestCallTest, RefusalsNameTheirCause) {
  TKtRestRequest r;
  TKtRestAnswer a;
  {
    Caller c;  // no CA given: the test authority is not trusted
    r.Url = UTF8ToString(Base() + "/doc.json");
    EXPECT_FALSE(c.Call(r, a));
    EXPECT_EQ(c.Status(), isFailed);
    EXPECT_NE(LowerCase(c.LastErrorText()).find(u"certificate"), String::npos) << UTF8Encode(c.LastErrorText());
  }
  {
    Caller c;
    c.SetIgnoreCertificateErrors(true);
    EXPECT_TRUE(c.Call(r, a)) << UTF8Encode(c.LastErrorText());
  }
  {
    Caller c;
    Trust(c);
    c.SetMaxSize(1000);
    r.Url = UTF8ToString(Base() + "/big.json");
    EXPECT_FALSE(c.Call(r, a));
    EXPECT_NE(c.LastErrorText().find(u"1000"), String::npos) << UTF8Encode(c.LastErrorText());
  }
  {
    Caller c;
    Trust(c);
    r.Url = UTF8ToString(Base() + "/doc.json");
    r.Headers = {{u"X-Key", u"a\r\nX-Forged: 1"}};
    EXPECT_FALSE(c.Call(r, a));
    EXPECT_TRUE(nginx.AccessLog().find("doc.json") == std::string::npos || a.Status == 0);
  }
  for (const char* url : {"ftp://127.0.0.1/x", "https://user:pw@127.0.0.1/", "https://127.0.0.1:99999/", "https:///x"}) {
    Caller c;
    r.Headers.clear();
    r.Url = UTF8ToString(url);
    EXPECT_FALSE(c.Call(r, a)) << url;
  }
}

TEST(RestUrl, SplitsEveryForm) {
  bool secure = false;
  String host, path;
  Word port = 0;
  ASSERT_TRUE(SplitRestUrl(u"https://[::1]:8443/a/b?x=1#frag", secure, host, port, path));
  EXPECT_TRUE(secure);
  EXPECT_EQ(host, u"::1");
  EXPECT_EQ(port, 8443);
  EXPECT_EQ(path, u"/a/b?x=1");
  ASSERT_TRUE(SplitRestUrl(u"http://example.test?q", secure, host, port, path));
  EXPECT_FALSE(secure);
  EXPECT_EQ(port, 80);
  EXPECT_EQ(path, u"/?q");
}

}  // namespace
}  // namespace ktinet
