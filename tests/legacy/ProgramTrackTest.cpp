// `ktinet track` of a build for host version 10 (the program then carries the earlier trackers;
// this file joins test_legacy only in that build) against loopback servers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/FakeServices.h"
#include "support/RunTool.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"

namespace ktinet {
namespace {

using test::Script;
using test::ScriptedServer;

using Outcome = test::ToolOutcome;
Outcome Tool(const std::string& args) { return test::RunTool(args); }

TEST(LegacyTrackTool, FedExPageLinesAndUpsOverVerifiedHttps) {
  ScriptedServer site;
  const std::string page =
      "HTTP/1.0 200 OK\r\n\r\n<!-- shipment info --><table><tr><td>Service</td><td>Ground</td></tr></table>"
      "<!-- BEGIN Scan Activity --><tr><td>Dec 3</td><td>Delivered &amp; signed</td></tr><!-- END Scan Activity -->";
  site.Add(Script().ReadUntil("\r\n\r\n").Send(page));
  site.Add(Script().ReadUntil("\r\n\r\n").Send(page));
  site.Add(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\n<html>moved</html>"));
  const std::string at = " --host 127.0.0.1 --port " + std::to_string(site.Port());
  Outcome plain = Tool("track fedex '7946 1234'" + at);
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.out, "Tracking number:  7946 1234\nShipment:\n  Service=Ground\nActivity:\n  Dec 3=Delivered & signed\n");
  EXPECT_EQ(site.Received(0).substr(0, 4), "GET ");
  EXPECT_NE(site.Received(0).find("&tracknumbers=7946%201234   HTTP/1.0\r\n"), std::string::npos);
  Outcome json = Tool("track fedex 1 --json" + at);
  EXPECT_EQ(json.out, "{\"carrier\":\"fedex\",\"trackingNumber\":\"1\",\"shipmentInfo\":[\"Service=Ground\"],"
                      "\"activity\":[\"Dec 3=Delivered & signed\"]}\n");
  Outcome none = Tool("track fedex 1" + at);
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("no tracking sections"), std::string::npos) << none.err;

  test::FakeServices fake;
  const std::string upsAt = " --host 127.0.0.1 --port " + std::to_string(fake.Port());
  Outcome ups = Tool("track ups 1Z999" + upsAt + " --cacert " + fake.CAFile());
  ASSERT_EQ(ups.status, 0) << ups.err;
  EXPECT_NE(ups.out.find("  2010-05-20 13:45:10  DELIVERED  ANYTOWN 30340 US\n"), std::string::npos) << ups.out;
  Outcome refused = Tool("track ups 1Z999" + upsAt);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("certificate"), std::string::npos) << refused.err;
  EXPECT_EQ(Tool("track ups 1Z999 --json --insecure" + upsAt).out.find("\"state\""), std::string::npos);
  EXPECT_EQ(fake.Requests().size(), 2u);

  // Options of the other carrier are refused as bad usage.
  EXPECT_EQ(Tool("track ups 1Z999 --proxy 127.0.0.1:1" + upsAt).status, 2);
  EXPECT_EQ(Tool("track fedex 1 --insecure" + at).status, 2);
  EXPECT_EQ(Tool("track fedex 1 --http" + at).status, 2);
}

// The secret forms and the error answers are those of the standard build's tracker command.
TEST(LegacyTrackTool, LicenceFromAFileOrTheEnvironmentAndErrorAnswersFail) {
  test::FakeServices fake;
  test::TempDir dir;
  const std::string upsAt = " --host 127.0.0.1 --port " + std::to_string(fake.Port()) + " --cacert " + fake.CAFile();
  Outcome fromFile = Tool("track ups 1Z999 --license-file " + dir.Write("licence", "FROM-FILE-77\n") + upsAt);
  ASSERT_EQ(fromFile.status, 0) << fromFile.err;
  setenv("KTINET_LICENSE", "FROM-ENV-88", 1);
  Outcome fromEnv = Tool("track ups 1Z999" + upsAt);
  unsetenv("KTINET_LICENSE");
  ASSERT_EQ(fromEnv.status, 0) << fromEnv.err;
  ASSERT_EQ(fake.Requests().size(), 2u);
  EXPECT_NE(fake.Requests()[0].body.find("FROM-FILE-77"), std::string::npos) << fake.Requests()[0].body;
  EXPECT_NE(fake.Requests()[1].body.find("FROM-ENV-88"), std::string::npos) << fake.Requests()[1].body;
  EXPECT_EQ(Tool("track ups 1Z999 --license A --license-file " + dir.Write("l2", "B\n") + upsAt).status, 2);

  Outcome refused = Tool("track ups ERROR" + upsAt);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "ktinet track: Invalid tracking number (error 151018)\n");
  Outcome missing = Tool("track ups NOTFOUND --json" + upsAt);
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "{\"carrier\":\"ups\",\"trackingNumber\":\"NOTFOUND\",\"error\":\"the service answered 404 Not "
                         "Found\"}\n");

  ScriptedServer site;
  site.Add(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 503 Service Unavailable\r\n\r\n<html>busy</html>"));
  Outcome busy = Tool("track fedex 1 --host 127.0.0.1 --port " + std::to_string(site.Port()));
  EXPECT_EQ(busy.status, 1);
  EXPECT_EQ(busy.err, "ktinet track: the service answered 503 Service Unavailable\n");
}

}  // namespace
}  // namespace ktinet
