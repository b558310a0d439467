// The translator client against the loopback stand-in of the translator service: addresses as
// sent, text and list answers, speech files, certificates and percent-encoding.
#include <gtest/gtest.h>

#include <string>

#include "rtl/Exceptions.h"
#include "services/KtIMSTranslator.h"
#include "support/FakeServices.h"
#include "support/TempDir.h"

namespace ktinet {
namespace {

using test::FakeServices;

std::string DataFile(const std::string& name) {
  return test::ReadFileBytes(std::string(KTINET_SOURCE_DIR) + "/tests/services/data/" + name);
}

void PointAt(TKtMSTranslator& t, const FakeServices& fake) {
  t.SetHost(UTF8ToString(fake.BaseUrl() + "/v2/Http.svc"));
  t.SetCAFile(UTF8ToString(fake.CAFile()));
}

const std::string kApp = "appId=5E0B8C27D91F46A3B07E2C85D4F91A60C3E7B214";

TEST(Translator, PercentEncoding) {
  EXPECT_EQ(PercentEncode(u"rock & roll"), u"rock%20%26%20roll");
  EXPECT_EQ(PercentEncode(u"a#b+c/d?e=f%"), u"a%23b%2Bc%2Fd%3Fe%3Df%25");
  EXPECT_EQ(PercentEncode(u"AZaz09-._~"), u"AZaz09-._~");
  EXPECT_EQ(PercentEncode(u"\u00FC\u20AC"), u"%C3%BC%E2%82%AC");
  EXPECT_EQ(PercentEncode(u"\U0001F600"), u"%F0%9F%98%80");
}

TEST(Translator, DefaultsAndAddresses) {
  TKtMSTranslator t(nullptr);
  EXPECT_EQ(t.BingAppId(), u"5E0B8C27D91F46A3B07E2C85D4F91A60C3E7B214");
  EXPECT_EQ(t.Agent(), u"Ardenfold Tracker");
  EXPECT_EQ(t.Service(), isHTTP);
  EXPECT_EQ(t.Port(), 443);
  EXPECT_EQ(t.Host(), u"https://api.microsofttranslator.com/v2/Http.svc");
  EXPECT_TRUE(t.Execute());  // the work step does nothing
  EXPECT_EQ(t.BuildAddress(u"/Speak?appId=%s&text=%s&language=%s", {u"A", u"x y", u"de"}),
            u"https://api.microsofttranslator.com/v2/Http.svc/Speak?appId=A&text=x%20y&language=de");
}

TEST(Translator, TextAndListCallsOverHttps) {
  FakeServices fake;
  TKtMSTranslator t(nullptr);
  PointAt(t, fake);

  EXPECT_EQ(t.TranslateText(u"rock & roll #1+\u00FC", u"en", u"de"), u"de:rock & roll #1+\u00FC");
  EXPECT_EQ(t.DetectLanguage(u"hello"), u"en");
  TStringList langs;
  langs.Add(u"stale");
  t.GetLanguagesForTranslate(&langs);
  ASSERT_EQ(langs.Count(), 6);
  EXPECT_EQ(langs[0], u"ar");
  EXPECT_EQ(langs[5], u"zh-CHS");
  t.GetLanguagesForSpeak(&langs);
  ASSERT_EQ(langs.Count(), 3);
  EXPECT_EQ(langs[2], u"en-us");
  t.GetLanguagesForSpeak(nullptr);  // no list: no request

  auto r = fake.Requests();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].method, "GET");
  EXPECT_EQ(r[0].target, "/v2/Http.svc/Translate?" + kApp + "&text=rock%20%26%20roll%20%231%2B%C3%BC&from=en&to=de");
  EXPECT_EQ(r[0].Header("User-Agent"), "Ardenfold Tracker");
  EXPECT_EQ(r[1].target, "/v2/Http.svc/Detect?" + kApp + "&text=hello");
  EXPECT_EQ(r[2].target, "/v2/Http.svc/GetLanguagesForTranslate?" + kApp);
  EXPECT_EQ(r[3].target, "/v2/Http.svc/GetLanguagesForSpeak?" + kApp);

  // A Host ending in "/" gives a doubled slash: the templates are appended as they stand.
  t.SetHost(UTF8ToString(fake.BaseUrl() + "/v2/Http.svc/"));
  t.DetectLanguage(u"x");
  EXPECT_EQ(fake.Requests().back().target, "/v2/Http.svc//Detect?" + kApp + "&text=x");
}

TEST(Translator, SpeechFilesAndFailures) {
  FakeServices fake;
  test::TempDir dir;
  TKtMSTranslator t(nullptr);
  PointAt(t, fake);
  const std::string out = dir / "speech.wav";
  t.SpeakText(u"de", UTF8ToString(out), u"guten Tag");
  EXPECT_EQ(test::ReadFileBytes(out), DataFile("translator_speech.wav"));
  EXPECT_EQ(fake.Requests().back().target, "/v2/Http.svc/Speak?" + kApp + "&text=guten%20Tag&language=de");

  // Unverified server: nothing is asked; the file keeps the previous speech, the list is emptied.
  t.SetCAFile(u"");
  t.SpeakText(u"de", UTF8ToString(out), u"x");
  EXPECT_EQ(test::ReadFileBytes(out), DataFile("translator_speech.wav"));
  TStringList langs;
  langs.Add(u"stale");
  t.GetLanguagesForTranslate(&langs);
  EXPECT_EQ(langs.Count(), 0);
  EXPECT_EQ(t.TranslateText(u"a", u"en", u"de"), u"");
  EXPECT_EQ(fake.Requests().size(), 1u);

  t.SetIgnoreCertificateErrors(true);
  EXPECT_EQ(t.DetectLanguage(u"x"), u"en");

  // A file that cannot be created raises before anything is sent.
  EXPECT_THROW(t.SpeakText(u"de", UTF8ToString(dir / "missing/dir/x.wav"), u"x"), EFCreateError);
  EXPECT_EQ(fake.Requests().size(), 2u);
}

}  // namespace
}  // namespace ktinet
