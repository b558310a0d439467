// `ktinet track --api rest` against the loopback stand-ins of the carriers' JSON services: the
// output, the exit codes, and where the client secret may come from.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/FakeServices.h"
#include "support/RunTool.h"
#include "support/TempDir.h"

namespace ktinet {
namespace {

using test::FakeServices;
using Outcome = test::ToolOutcome;

class TrackRestTool : public ::testing::Test {
 protected:
  static FakeServices::Options Carriers() {
    FakeServices::Options o;
    o.script = "fake_rest_carriers.py";
    return o;
  }
  Outcome Track(const std::string& tail) {
    return test::RunTool("track --api rest " + tail + " --base-url " + fake.BaseUrl() + " --cacert " + fake.CAFile() +
                         " --client-id test-client --client-secret-file " + secret);
  }

  FakeServices fake{Carriers()};
  test::TempDir dir;
  std::string secret = dir.Write("secret", "test-secret\n");
};

TEST_F(TrackRestTool, PrintsTheShipmentOfBothCarriers) {
  Outcome ups = Track("ups 1Z5338FF0107231059");
  ASSERT_EQ(ups.status, 0) << ups.err;
  EXPECT_EQ(ups.err, "");
  EXPECT_NE(ups.out.find("Status:           Delivered (011)\nDelivered:        2026-12-03 10:15:00\n"
                         "Signed for by:    MUELLER\nDelivered at:     Front Door\n"),
            std::string::npos)
      << ups.out;
  EXPECT_NE(ups.out.find("Activities:       3\n  2026-12-03 10:15:00  DELIVERED  Z\xc3\xbcrich 8001 CH\n"), std::string::npos)
      << ups.out;

  Outcome transit = Track("ups 1Z999AA10123456784");
  ASSERT_EQ(transit.status, 0) << transit.err;
  EXPECT_NE(transit.out.find("Expected:         2026-12-09 19:00:00\n"), std::string::npos) << transit.out;

  Outcome fedex = Track("fedex 123456789012 --json");
  ASSERT_EQ(fedex.status, 0) << fedex.err;
  EXPECT_EQ(fedex.out.rfind("{\"carrier\":\"fedex\",\"trackingNumber\":\"123456789012\",\"status\":\"Delivered\","
                            "\"statusCode\":\"DL\",\"delivered\":true,\"deliveryDate\":\"2026-12-03 12:01:00\",",
                            0),
            0u)
      << fedex.out;
  EXPECT_NE(fedex.out.find("{\"dateTime\":\"2026-12-03 07:10:00\",\"statusTypeCode\":\"OD\",\"statusTypeDescription\":"
                           "\"On FedEx vehicle for delivery\",\"statusCode\":\"IT\",\"locationCode\":\"0376\""),
            std::string::npos)
      << fedex.out;
  EXPECT_EQ(fedex.out.back(), '\n');
}

TEST_F(TrackRestTool, RefusalsExitOneWithTheServicesWords) {
  Outcome unknown = Track("fedex 999999999999");
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.out, "");
  EXPECT_EQ(unknown.err,
            "ktinet track: Tracking number cannot be found. Please correct the tracking number and try again. (error "
            "TRACKING.TRACKINGNUMBER.NOTFOUND)\n");
  Outcome limited = Track("ups 1ZLIMIT --json");
  EXPECT_EQ(limited.status, 1);
  EXPECT_EQ(limited.err, "ktinet track: Too Many Requests (error 429) (retry after 30)\n");
  EXPECT_EQ(limited.out,
            "{\"carrier\":\"ups\",\"trackingNumber\":\"1ZLIMIT\",\"error\":\"Too Many Requests (error 429) (retry after "
            "30)\",\"httpStatus\":429,\"retryAfter\":\"30\"}\n");
  // A 401 for a fresh token is answered with one more token; the second answer counts.
  Outcome expired = Track("fedex EXPIRED");
  EXPECT_EQ(expired.status, 0) << expired.err;

  const std::string wrong = dir.Write("wrong", "nope");
  Outcome refused = test::RunTool("track --api rest ups 1Z5338FF0107231059 --base-url " + fake.BaseUrl() + " --cacert " +
                                  fake.CAFile() + " --client-id test-client --client-secret-file " + wrong);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "ktinet track: the credentials were refused: ClientId is Invalid (error 10401)\n");
  // Without the test authority the certificate is refused, and no secret leaves the machine.
  const size_t sent = fake.Requests().size();
  Outcome untrusted = test::RunTool("track --api rest ups 1Z5338FF0107231059 --base-url " + fake.BaseUrl() +
                                    " --client-id test-client --client-secret-file " + secret);
  EXPECT_EQ(untrusted.status, 1);
  EXPECT_NE(untrusted.err.find("certificate"), std::string::npos) << untrusted.err;
  EXPECT_EQ(fake.Requests().size(), sent);
}

TEST_F(TrackRestTool, SecretsAndUsage) {
  const std::string at = " --base-url " + fake.BaseUrl() + " --cacert " + fake.CAFile() + " --client-id test-client";
  // From the environment.
  ::setenv("KTINET_CLIENT_SECRET", "test-secret", 1);
  Outcome env = test::RunTool("track --api rest fedex 794843185271" + at);
  ::unsetenv("KTINET_CLIENT_SECRET");
  EXPECT_EQ(env.status, 0) << env.err;
  EXPECT_NE(env.out.find("Status:           In transit (IT)\n"), std::string::npos) << env.out;
  // As an argument (the help warns that ps shows it).
  EXPECT_EQ(test::RunTool("track --api rest fedex 794843185271" + at + " --client-secret test-secret").status, 0);
  Outcome none = test::RunTool("track --api rest fedex 794843185271" + at);
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("client secret"), std::string::npos) << none.err;

  const std::string ok = at + " --client-secret-file " + secret;
  for (const std::string& bad :
       {"track --api soap ups 1Z" + ok, "track --api rest dhl 1" + ok, "track --api rest ups 1Z --env staging" + ok,
        "track --api rest ups 1Z --host 127.0.0.1" + ok, "track --api rest ups 1Z --license-file " + secret + ok,
        "track --api rest ups" + ok, "track --api rest ups 1Z --client-secret-file " + secret,
        std::string("track ups 1Z --client-id x"), std::string("track ups 1Z --base-url https://127.0.0.1:1"),
        std::string("track --api rest ups 1Z --base-url https://127.0.0.1:1/path --client-id a --client-secret b")}) {
    Outcome run = test::RunTool(bad);
    EXPECT_EQ(run.status, 2) << bad << "\n" << run.err;
    EXPECT_EQ(run.out, "") << bad;
  }
  Outcome help = test::RunTool("track --help");
  EXPECT_NE(help.out.find("--client-secret-file F"), std::string::npos);
  EXPECT_NE(help.out.find("--client-secret S     the client secret as an argument (other users can see"), std::string::npos);
  EXPECT_NE(help.out.find("wwwcie.ups.com"), std::string::npos);
}

}  // namespace
}  // namespace ktinet
