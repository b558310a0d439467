// TKtWeatherInfo: the current temperature for a postal code, scraped from the weather site's local
// page fetched with one HTTP/1.0 GET over the socket core.
#pragma once

#include "core/KtInBase.h"
#include "protocols/HttpWire.h"
#include "rtl/TypInfo.h"

namespace ktinet {

enum TKtWeatherTrackingType { wttZip };
KTINET_ENUM_TYPE(TKtWeatherTrackingType, u"wttZip")

class TKtWeatherInfo : public TKtInetBase {
  KTINET_PUBLISHED(TKtWeatherInfo)
 public:
  explicit TKtWeatherInfo(TComponent* AOwner);

  // The weather site asked by default.
  static constexpr const char16_t* DefaultHost = u"www.weather.com";
  // What stands right before the temperature on the site's page.
  static constexpr const char16_t* TemperatureMarker = u"CLASS=obsTempTextA>";

  const String& Zip() const { return FZip; }
  // A different value also sets TrackingType to wttZip.
  void SetZip(const String& Value);
  TKtWeatherTrackingType TrackingType() const { return FTrackingType; }
  void SetTrackingType(TKtWeatherTrackingType Value) { FTrackingType = Value; }
  // The temperature of the last page, in the unit the site uses; 0 when none was found.
  int Temperature() const { return FTemperature; }
  // True when the last page carried the marker followed by a number, so that a reading of 0 can
  // be told from no reading.
  bool TemperatureFound() const { return FTemperatureFound; }

 public:
  // Also notes the destination, which the request names when the socket goes to a proxy.
  void Connect() override;

 protected:
  // Clears the last reading first, so that an Execute that ends in an error text reads 0.
  void BeforeExecute() override;
  String GetQuery() override;
  void AfterExecute(String& strReceived) override;
  // The page ends after the body its Content-Length announces, or when the server closes; a
  // body cut short fails the query.
  void AnswerStarted() override;
  size_t AnswerReceived(const char* Data, size_t Count, bool& Complete) override;
  void AnswerEnded() override;

 private:
  String FZip;
  TKtWeatherTrackingType FTrackingType = wttZip;
  int FTemperature = 0;
  bool FTemperatureFound = false;
  // The destination as the application set it, kept when Connect points the socket at a proxy.
  String FTargetHost;
  int FTargetPort = 80;
  THttpAnswerScanner FScanner;
};

}  // namespace ktinet
