// The track subcommand of the program (standard trackers) against the loopback stand-ins.
#include <gtest/gtest.h>

#include <string>

#include "support/FakeServices.h"
#include "support/RunTool.h"

namespace ktinet {
namespace {

using test::FakeServices;

using Outcome = test::ToolOutcome;
Outcome Tool(const std::string& args) { return test::RunTool(args); }

TEST(TrackTool, UpsAndFedExOverVerifiedHttps) {
  FakeServices fake;
  const std::string at = " --host 127.0.0.1 --port " + std::to_string(fake.Port());
  Outcome ups = Tool("track ups 1Z999" + at + " --cacert " + fake.CAFile());
  ASSERT_EQ(ups.status, 0) << ups.err;
  // Activities in document order: date, status, location.
  size_t first = ups.out.find("  2010-05-20 13:45:10  DELIVERED  ANYTOWN 30340 US\n");
  size_t second = ups.out.find("  2010-05-20 07:12:00  OUT FOR DELIVERY  ATLANTA US\n");
  size_t third = ups.out.find("  -  PICKUP SCAN  TIMONIUM US\n");
  EXPECT_NE(first, std::string::npos) << ups.out;
  EXPECT_LT(first, second);
  EXPECT_LT(second, third);
  EXPECT_NE(third, std::string::npos);
  EXPECT_NE(ups.out.find("Pickup date:      2010-05-17\n"), std::string::npos) << ups.out;
  ASSERT_EQ(fake.Requests().size(), 1u);
  EXPECT_NE(fake.Requests()[0].body.find("\r\n<TrackingNumber>#1Z999</TrackingNumber></TrackRequest>"), std::string::npos);

  Outcome fedex = Tool("track fedex 123456789012 --json --key K --account 510087" + at + " --cacert " + fake.CAFile());
  ASSERT_EQ(fedex.status, 0) << fedex.err;
  EXPECT_NE(fedex.out.find("\"activities\":[{\"dateTime\":\"2010-05-20 13:45:10\",\"statusTypeCode\":\"DL\""),
            std::string::npos)
      << fedex.out;
  EXPECT_NE(fedex.out.find("\"pickupDate\":\"2010-05-20\""), std::string::npos);
  const std::string body = fake.Requests().back().body;
  EXPECT_NE(body.find("<v10:UserCredential>\r\n          <v10:Key>K</v10:Key>"), std::string::npos);
  EXPECT_NE(body.find("<v10:AccountNumber>510087</v10:AccountNumber>"), std::string::npos);

  // Without the authority both fail with the certificate error, unless told not to verify.
  for (const char* carrier : {"ups 1Z999", "fedex 123456789012"}) {
    Outcome refused = Tool(std::string("track ") + carrier + at);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("certificate"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(Tool(std::string("track ") + carrier + at + " --insecure").status, 0);
  }
  EXPECT_EQ(fake.Requests().size(), 4u);
  EXPECT_EQ(Tool("track dhl 1" + at).status, 2);
}

}  // namespace
}  // namespace ktinet
