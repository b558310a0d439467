#include "services/KtIUPS.h"

#include "services/KtITrackXml.h"

namespace ktinet {

TKtUPSTracker::TKtUPSTracker(TComponent* AOwner)
    : TKtInetCustomTracker(AOwner) {
  FAccessLicenseNumber = DefaultAccessLicenseNumber;
  SetHost(DefaultHost);
}

TKtUPSTracker::~TKtUPSTracker() = default;

String TKtUPSTracker::GetTrackAppHeader() { return ups_detail::kTrackPath; }

void TKtUPSTracker::BuildRequestHeader(String& /*FirstHeader*/, String& SecondHeader, String& Body) {
  SecondHeader = ups_detail::kContentTypeLine;
  Body = ups_detail::TrackRequestBody(FAccessLicenseNumber, Agent(), TrackingNumber());
}

void TKtUPSTracker::ParseXMLResponse() {
  ups_detail::ParseTrackResponse(FLastXMLResponse, ups_detail::TTrackResult<TKtInetActivityAddress, TKtInetActivities>{
      FShipperNumber, *FShipperAddress, *FShipToAddress, FIdentificationNumber, FPickupDate, FServiceCode,
      FServiceDescription, FShipmentWeight, FShipmentWeightUnits, *Activities()});
}

const TClassInfo* TKtUPSTracker::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtUPSTracker>(u"TKtUPSTracker", TKtInetCustomTracker::StaticClassInfo())
      .Component()
      .Property(u"AccessLicenseNumber", &TKtUPSTracker::AccessLicenseNumber, &TKtUPSTracker::SetAccessLicenseNumber)
      .Build();
  return info;
}

}  // namespace ktinet
