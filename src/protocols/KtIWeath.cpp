#include "protocols/KtIWeath.h"

#include "rtl/SysUtils.h"

namespace ktinet {

TKtWeatherInfo::TKtWeatherInfo(TComponent* AOwner) : TKtInetBase(AOwner) {
  FTrackingType = wttZip;
  SetPort(80);
  SetHost(DefaultHost);
}

void TKtWeatherInfo::SetZip(const String& Value) {
  if (Value == FZip) return;
  FZip = Value;
  FTrackingType = wttZip;
}

void TKtWeatherInfo::BeforeExecute() {
  FTemperature = 0;
  FTemperatureFound = false;
  TKtInetBase::BeforeExecute();
}

String TKtWeatherInfo::GetQuery() {
  String location = FTrackingType == wttZip ? FZip : String();
  CheckRequestText(location, u"The Zip");
  location = StringReplace(location, u" ", u"%20", rfReplaceAll);
  String path = u"/weather/local/" + location + u"?lswe=" + location + u"&lswa=WeatherLocalUndeclared&GO=GO&whatprefs=";
  // A host given as an address reads back empty from Host, and servers refuse an empty Host line:
  // the address stands in for it.
  String host = Host().empty() ? Address() : Host();
  CheckRequestText(host, u"The host");
  return u"GET " + path + u"   HTTP/1.0\r\nHost: " + host + u"\r\n\r\n";
}

void TKtWeatherInfo::AfterExecute(String& strReceived) {
  FTemperature = 0;
  FTemperatureFound = false;
  TKtInetBase::AfterExecute(strReceived);
  const String marker = TemperatureMarker;
  size_t at = strReceived.find(marker);
  if (at == String::npos) return;
  size_t i = at + marker.size();
  String digits;
  while (i < strReceived.size() && (strReceived[i] == u'-' || (strReceived[i] >= u'0' && strReceived[i] <= u'9')))
    digits += strReceived[i++];
  FTemperatureFound = TryStrToInt(digits, FTemperature);
  if (!FTemperatureFound) FTemperature = 0;
}

void TKtWeatherInfo::Connect() {
  if (FConnected && !FKeepConnection) Disconnect();
  TKtInetBase::Connect();
}

const TClassInfo* TKtWeatherInfo::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtWeatherInfo>(u"TKtWeatherInfo", TKtInetBase::StaticClassInfo())
      .Component()
      .Property(u"Zip", &TKtWeatherInfo::Zip, &TKtWeatherInfo::SetZip)
      .Property(u"TrackingType", &TKtWeatherInfo::TrackingType, &TKtWeatherInfo::SetTrackingType).Default(wttZip)
      .Build();
  return info;
}

}  // namespace ktinet
