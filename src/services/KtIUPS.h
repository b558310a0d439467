// TKtUPSTracker: the parcel tracker for the UPS XML tracking service. The base posts the request;
// this class supplies the path, the content-type line and the two-document body with the access
// licence number, and reads the TrackResponse into shipment properties and activities.
#pragma once

#include <memory>

#include "services/KtITrack.h"
#include "rtl/TypInfo.h"

namespace ktinet {

class TKtUPSTracker : public TKtInetCustomTracker, public TKtShipmentDetails {
  KTINET_PUBLISHED(TKtUPSTracker)
 public:
  explicit TKtUPSTracker(TComponent* AOwner);
  ~TKtUPSTracker() override;

  static constexpr const char16_t* DefaultHost = u"onlinetools.ups.com";
  static constexpr const char16_t* DefaultAccessLicenseNumber = u"9D27C0B5E1F4A368";

  const String& AccessLicenseNumber() const { return FAccessLicenseNumber; }
  void SetAccessLicenseNumber(const String& Value) { FAccessLicenseNumber = Value; }

 protected:
  void ParseXMLResponse() override;
  void BuildRequestHeader(String& FirstHeader, String& SecondHeader, String& Body) override;
  String GetTrackAppHeader() override;

 private:
  String FAccessLicenseNumber;
};

}  // namespace ktinet
