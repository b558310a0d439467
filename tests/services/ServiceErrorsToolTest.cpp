// Error answers of the services fail the program's subcommands with the service's own message,
// and the components tell the HTTP status of the last answer.
#include <gtest/gtest.h>

#include <string>

#include "services/KtIMSTranslator.h"
#include "support/FakeServices.h"
#include "support/RunTool.h"

namespace ktinet {
namespace {

using test::FakeServices;

using Outcome = test::ToolOutcome;
Outcome Tool(const std::string& args) { return test::RunTool(args); }

TEST(ServiceErrors, TrackerFaultsAndErrorElementsFail) {
  FakeServices fake;
  const std::string at = " --host 127.0.0.1 --port " + std::to_string(fake.Port()) + " --cacert " + fake.CAFile();
  // A SOAP fault (status 500) is the service's refusal, not a shipment without activities.
  Outcome fault = Tool("track fedex FAULT" + at);
  EXPECT_EQ(fault.status, 1);
  EXPECT_EQ(fault.out, "");
  EXPECT_EQ(fault.err, "ktinet track: Authentication Failed\n");
  // An Error element in a 200 answer.
  Outcome error = Tool("track ups ERROR" + at);
  EXPECT_EQ(error.status, 1);
  EXPECT_EQ(error.out, "");
  EXPECT_EQ(error.err, "ktinet track: Invalid tracking number (error 151018)\n");
  Outcome missing = Tool("track ups NOTFOUND" + at);
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("404"), std::string::npos) << missing.err;
  EXPECT_EQ(Tool("track ups 1Z999" + at).status, 0);
}

TEST(ServiceErrors, TranslatorErrorPagesFail) {
  FakeServices fake;
  const std::string base = " --host " + fake.BaseUrl() + "/v2/Http.svc --cacert " + fake.CAFile();
  for (const char* appId : {"INVALID", "ERRORPAGE"}) {
    const std::string id = std::string(" --appid ") + appId;
    for (const std::string& call : {std::string("detect hello"), std::string("translate x --to de"),
                                    std::string("languages"), std::string("languages --speak")}) {
      Outcome run = Tool(call + base + id);
      EXPECT_EQ(run.status, 1) << call << id;
      EXPECT_EQ(run.out, "") << call << id;
      EXPECT_NE(run.err.find(": Argument Exception: Invalid appId\n"), std::string::npos) << call << id << run.err;
    }
  }
  Outcome speak = Tool("speak hi --lang en --out /dev/null --appid INVALID" + base);
  EXPECT_EQ(speak.status, 1);
  EXPECT_NE(speak.err.find("400"), std::string::npos) << speak.err;
  EXPECT_EQ(Tool("detect hello" + base).out, "en\n");
}

TEST(ServiceErrors, TranslatorTellsTheStatusOfTheLastAnswer) {
  FakeServices fake;
  TKtMSTranslator t(nullptr);
  t.SetHost(UTF8ToString(fake.BaseUrl() + "/v2/Http.svc"));
  t.SetCAFile(UTF8ToString(fake.CAFile()));
  EXPECT_EQ(t.DetectLanguage(u"hello"), u"en");
  EXPECT_EQ(t.HttpStatus(), 200u);
  EXPECT_TRUE(t.ServiceError().empty());
  t.SetBingAppId(u"INVALID");
  EXPECT_EQ(t.DetectLanguage(u"hello"), u"");
  EXPECT_EQ(t.HttpStatus(), 400u);
  EXPECT_EQ(t.ServiceError(), u"Argument Exception: Invalid appId");
  TStringList list;
  t.GetLanguagesForTranslate(&list);
  EXPECT_EQ(list.Count(), 0);
  t.SetBingAppId(u"ERRORPAGE");
  EXPECT_EQ(t.TranslateText(u"x", u"", u"de"), u"");
  EXPECT_EQ(t.HttpStatus(), 200u);
  EXPECT_EQ(t.ServiceError(), u"Argument Exception: Invalid appId");
}

}  // namespace
}  // namespace ktinet
