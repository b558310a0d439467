// The JSON trackers linked with the trackers of the build for host version 10, whose address
// class has no State: the results fill that form of the class, the state beside the city.
#include <gtest/gtest.h>

#include <string>

#include "services/KtRestTrackers.h"
#include "support/TempDir.h"

namespace ktinet {
namespace {

std::string DataFile(const std::string& name) {
  return test::ReadFileBytes(std::string(KTINET_SOURCE_DIR) + "/tests/services/data/" + name);
}

TEST(LegacyRestTracker, FillsTheAddressesOfThisForm) {
  TKtUPSRestTracker ups(nullptr);
  ups.SetTrackingNumber(u"1Z5338FF0107231059");
  ASSERT_TRUE(ups.LoadResponse(DataFile("ups_rest_delivered.json"))) << UTF8Encode(ups.ServiceError());
  EXPECT_EQ(ups.ShipperAddress()->City(), u"TIMONIUM, MD");
  EXPECT_EQ(ups.ShipperAddress()->Country(), u"US");
  ASSERT_EQ(ups.Activities()->Count(), 3);
  EXPECT_EQ(ups.Activities()->Items(1)->Location()->Text(), u"Timonium, MD 21093 US");

  TKtFedExRestTracker fedex(nullptr);
  fedex.SetTrackingNumber(u"123456789012");
  ASSERT_TRUE(fedex.LoadResponse(DataFile("fedex_rest_delivered.json"))) << UTF8Encode(fedex.ServiceError());
  EXPECT_EQ(fedex.ShipToAddress()->City(), u"NORTON, VA");
  EXPECT_EQ(fedex.Activities()->Items(0)->Location()->PostalCode(), u"24273");
}

}  // namespace
}  // namespace ktinet
