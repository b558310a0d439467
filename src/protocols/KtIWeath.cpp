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
  if (FProxy->UseProxy() && !FProxy->Server().empty()) {
    // A proxy needs the absolute target; the Host line names the site, not the proxy.
    const String authority = HttpAuthority(FTargetHost, FTargetPort);
    return u"GET http://" + authority + path + u"   HTTP/1.0\r\nHost: " + authority + u"\r\n\r\n";
  }
  // A host given as an address reads back empty from Host, and servers refuse an empty Host line:
  // the address stands in for it, with the port when it is not 80.
  String host = Host().empty() ? Address() : Host();
  CheckRequestText(host, u"The host");
  return u"GET " + path + u"   HTTP/1.0\r\nHost: " + HttpAuthority(host, Port()) + u"\r\n\r\n";
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
  // The application's own endpoint, not the socket's: after a connect through a proxy the socket
  // names the proxy until the application writes Host again.
  if (!FConnected) {
    FTargetHost = FHost.empty() ? FAddress : FHost;
    FTargetPort = FPort;
  }
  TKtInetBase::Connect();
}

void TKtWeatherInfo::AnswerStarted() { FScanner.Reset(false); }

size_t TKtWeatherInfo::AnswerReceived(const char* Data, size_t Count, bool& Complete) {
  const bool hadHeaders = FScanner.HeadersDone();
  size_t used = FScanner.Feed(Data, Count, Complete);
  if (!hadHeaders && FScanner.HeadersDone() && FScanner.ContentLength() > 0)
    CheckAnswerSize(FScanner.HeaderBytes() + FScanner.ContentLength());
  return used;
}

void TKtWeatherInfo::AnswerEnded() { FScanner.Finish(); }

const TClassInfo* TKtWeatherInfo::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtWeatherInfo>(u"TKtWeatherInfo", TKtInetBase::StaticClassInfo())
      .Component()
      .Property(u"Zip", &TKtWeatherInfo::Zip, &TKtWeatherInfo::SetZip)
      .Property(u"TrackingType", &TKtWeatherInfo::TrackingType, &TKtWeatherInfo::SetTrackingType).Default(wttZip)
      .Build();
  return info;
}

}  // namespace ktinet
