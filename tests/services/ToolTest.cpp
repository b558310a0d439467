// The translator subcommands of the program against the loopback stand-in (the track subcommand
// of the standard trackers: TrackerToolTest.cpp).
#include <gtest/gtest.h>

#include <string>

#include "support/FakeServices.h"
#include "support/RunTool.h"
#include "support/TempDir.h"

namespace ktinet {
namespace {

using test::FakeServices;

using Outcome = test::ToolOutcome;
Outcome Tool(const std::string& args) { return test::RunTool(args); }

TEST(TranslateTool, WholeTextsListsAndSpeech) {
  FakeServices fake;
  test::TempDir dir;
  const std::string base = " --host " + fake.BaseUrl() + "/v2/Http.svc";
  const std::string ca = " --cacert " + fake.CAFile();
  Outcome t = Tool("translate 'rock & roll' --from en --to de" + base + ca);
  ASSERT_EQ(t.status, 0) << t.err;
  EXPECT_EQ(t.out, "de:rock & roll\n");
  EXPECT_NE(fake.Requests().back().target.find("&text=rock%20%26%20roll&from=en&to=de"), std::string::npos);

  EXPECT_EQ(Tool("detect hello" + base + ca).out, "en\n");
  EXPECT_EQ(Tool("languages --speak" + base + ca).out, "de\nen\nen-us\n");
  Outcome s = Tool("speak 'guten Tag' --lang de --out " + (dir / "a.wav") + base + ca);
  EXPECT_EQ(s.status, 0) << s.err;
  EXPECT_EQ(test::ReadFileBytes(dir / "a.wav"),
            test::ReadFileBytes(std::string(KTINET_SOURCE_DIR) + "/tests/services/data/translator_speech.wav"));

  Outcome refused = Tool("translate x --to de" + base);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("certificate"), std::string::npos) << refused.err;
  EXPECT_EQ(Tool("translate x --to de --insecure" + base).out, "de:x\n");
  EXPECT_EQ(Tool("translate x" + base).status, 2);
}

}  // namespace
}  // namespace ktinet
