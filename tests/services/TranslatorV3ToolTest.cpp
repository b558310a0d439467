// `ktinet translate|detect|languages|speak --api v3` against the loopback stand-in of the
// Translator V3 API: what reaches the service, what the program prints, and its exit codes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/FakeServices.h"
#include "support/RunTool.h"
#include "support/TempDir.h"

namespace ktinet {
namespace {

using test::FakeServices;
using test::ShellQuote;
using Outcome = test::ToolOutcome;

class TranslatorV3Tool : public ::testing::Test {
 protected:
  static FakeServices::Options V3() {
    FakeServices::Options o;
    o.script = "fake_translator_v3.py";
    o.data = "services/data/translator_v3";
    return o;
  }
  Outcome Tool(const std::string& args, const std::string& key = "test-key") {
    const std::string keyFile = dir.Write("key", key + "\n");
    return test::RunTool(args + " --api v3 --base-url " + fake.BaseUrl() + " --cacert " + fake.CAFile() +
                         " --key-file " + ShellQuote(keyFile));
  }

  FakeServices fake{V3()};
  test::TempDir dir;
};

TEST_F(TranslatorV3Tool, TranslatesWithTheKeyFromAFile) {
  Outcome one = Tool("translate 'Hello, what is your name?' --to de");
  EXPECT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(one.out, "Hallo, wie hei\xc3\x9f" "t du?\n");
  EXPECT_EQ(one.err, "");
  auto requests = fake.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, "/translate?api-version=3.0&to=de");
  EXPECT_EQ(requests[0].Header("Ocp-Apim-Subscription-Key"), "test-key");

  Outcome several = Tool("translate 'Hello, what is your name?' 'Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln' --to fr --to en --from de --region westeurope");
  EXPECT_EQ(several.status, 0) << several.err;
  EXPECT_EQ(several.out,
            "fr: Salut, comment t'appelles-tu ?\nen: Hello, what is your name?\n"
            "fr: Salutations de Cologne\nen: Greetings from Cologne\n");
  requests = fake.Requests();
  EXPECT_EQ(requests[1].target, "/translate?api-version=3.0&from=de&to=fr&to=en");
  EXPECT_EQ(requests[1].Header("Ocp-Apim-Subscription-Region"), "westeurope");
  EXPECT_EQ(requests[1].body, "[{\"Text\":\"Hello, what is your name?\"},{\"Text\":\"Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln\"}]");

  Outcome json = Tool("translate --json 'Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln' 'line\nbreak' --to en --text-type html");
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out,
            "[{\"text\":\"Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln\",\"detectedLanguage\":{\"language\":\"de\",\"score\":1"
            "},"
            "\"translations\":[{\"to\":\"en\",\"text\":\"Greetings from Cologne\"}]},"
            "{\"text\":\"line\\nbreak\",\"detectedLanguage\":{\"language\":\"en\",\"score\":1"
            "},"
            "\"translations\":[{\"to\":\"en\",\"text\":\"[en] line\\nbreak\"}]}]\n");
  EXPECT_EQ(fake.Requests()[2].target, "/translate?api-version=3.0&to=en&textType=html");

  // The key from the environment.
  ::setenv("KTINET_KEY", "test-key", 1);
  Outcome env = test::RunTool("detect hello --api v3 --base-url " + fake.BaseUrl() + " --cacert " + fake.CAFile());
  ::unsetenv("KTINET_KEY");
  EXPECT_EQ(env.status, 0) << env.err;
  EXPECT_EQ(env.out, "en\n");
}

TEST_F(TranslatorV3Tool, DetectsAndListsLanguages) {
  Outcome detect = Tool("detect 'Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln' hello");
  EXPECT_EQ(detect.status, 0) << detect.err;
  EXPECT_EQ(detect.out, "de\nen\n");
  Outcome json = Tool("detect --json '\xe6\x97\xa5\xe6\x9c\xac'");
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out, "[{\"language\":\"ja\",\"score\":1,\"isTranslationSupported\":true,"
                      "\"isTransliterationSupported\":true,\"alternatives\":[],\"text\":\"\xe6\x97\xa5\xe6\x9c\xac\"}]\n");

  Outcome list = test::RunTool("languages --api v3 --base-url " + fake.BaseUrl() + " --cacert " + fake.CAFile());
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("de\tGerman\tDeutsch\n"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("ja\tJapanese\t\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\n"), std::string::npos) << list.out;
  Outcome listJson = Tool("languages --json");
  EXPECT_EQ(listJson.status, 0) << listJson.err;
  EXPECT_EQ(listJson.out.rfind("[{\"code\":\"ar\",\"name\":\"Arabic\",\"nativeName\":\"\xd8\xa7", 0), 0u) << listJson.out;
  EXPECT_NE(listJson.out.find("\"dir\":\"rtl\"}"), std::string::npos);
}

TEST_F(TranslatorV3Tool, RefusalsFailWithTheServicesMessage) {
  Outcome bad = Tool("translate x --to de", "wrong-key");
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(bad.err,
            "ktinet translate: The request is not authorized because credentials are missing or invalid. (error 401000)\n");
  Outcome limited = Tool("detect x", "throttled-key");
  EXPECT_EQ(limited.status, 1);
  EXPECT_EQ(limited.err,
            "ktinet detect: The server rejected the request because the client has exceeded request limits. "
            "(error 429001); retry after 7 s\n");
  Outcome target = Tool("translate x --to xx");
  EXPECT_EQ(target.status, 1);
  EXPECT_NE(target.err.find("(error 400036)"), std::string::npos) << target.err;
  Outcome untrusted = test::RunTool("languages --api v3 --base-url " + fake.BaseUrl());
  EXPECT_EQ(untrusted.status, 1);
  EXPECT_NE(untrusted.err.find("certificate"), std::string::npos) << untrusted.err;
  EXPECT_EQ(fake.Requests().size(), 3u);
}

TEST_F(TranslatorV3Tool, UsageErrorsSendNothing) {
  // Speech left the service: the command says so instead of trying.
  Outcome speak = Tool("speak hello --lang en --out " + dir / "out.wav");
  EXPECT_EQ(speak.status, 2);
  EXPECT_NE(speak.err.find("speech is not part of the Translator V3 API"), std::string::npos) << speak.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "out.wav"));
  ::unsetenv("KTINET_KEY");
  Outcome keyless = test::RunTool("translate x --to de --api v3 --base-url " + fake.BaseUrl());
  EXPECT_EQ(keyless.status, 2);
  EXPECT_NE(keyless.err.find("--key-file"), std::string::npos) << keyless.err;
  for (const std::string& args : {std::string("translate x"), std::string("translate x --to de --appid A"),
                                  std::string("languages --speak"),
                                  std::string("translate x --to de --text-type rtf"),
                                  std::string("detect x --host http://127.0.0.1:1")}) {
    Outcome run = Tool(args);
    EXPECT_EQ(run.status, 2) << args << run.err;
  }
  Outcome api = test::RunTool("detect x --api v4");
  EXPECT_EQ(api.status, 2);
  EXPECT_NE(api.err.find("--api is v2 or v3, not 'v4'"), std::string::npos) << api.err;
  // The options of the V3 form do not slip into the earlier one.
  for (const std::string& args : {std::string("translate x --to de --json"), std::string("detect x --region eu"),
                                  std::string("languages --base-url http://127.0.0.1:1")}) {
    Outcome run = test::RunTool(args);
    EXPECT_EQ(run.status, 2) << args << run.err;
    EXPECT_NE(run.err.find("needs --api v3"), std::string::npos) << run.err;
  }
  EXPECT_TRUE(fake.Requests().empty());
  // Beyond the service's limits the job fails before it is sent.
  std::string texts;
  for (int i = 0; i < 101; ++i) texts += " a";
  Outcome many = Tool("detect" + texts);
  EXPECT_EQ(many.status, 1);
  EXPECT_NE(many.err.find("too many texts for one request: 101 (the service takes at most 100)"), std::string::npos)
      << many.err;
  EXPECT_TRUE(fake.Requests().empty());
}

}  // namespace
}  // namespace ktinet
