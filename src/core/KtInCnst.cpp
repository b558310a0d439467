#include "core/KtInCnst.h"

#include "vcl/Dialogs.h"

namespace ktinet {

String strKtInSoftwareUpdate = u"Software update";
String strKtInConnecting = u"Connecting...";
String strKtInConnected = u"Connected.";
String strKtInFileSearch = u"File search...";
String strKtInFileFound = u"File found.";
String strKtInFileComparing = u"Comparing...";
String strKtInFileCompared = u"Compared.";
String strKtInDownloading = u"Downloading...";
String strKtInDownloaded = u"Downloaded.";
String strKtInDisconnecting = u"Disconnecting...";
String strKtInDisconnected = u"Disconnected.";
String strKtInProgress = u"Downloaded %d of %d bytes (%d%%)";
String strKtInProxyLogon = u"Proxy Server authorization";
String strKtInLogon = u"HTTP Server authorization";
String strKtInEHost = u"Host/Address is not defined.";
String strKtInEAuthRequired = u"HTTP Server authorization required";
String strKtInEProxyAuth = u"Proxy Server authorization required";
String strKtInEFileNotFound = u"File not found";

String KtInetAboutText() {
  // The list keeps its historical spelling ("WEB", "syncronizes") and names only the
  // components it always named: applications and docs quote it as it stands.
  static const char16_t* const kLines[] = {
      u"KtInternet suite is the network/internet components:",
      u"  - TKtWhoIs retrieve the published registration information about any domain or IP",
      u"  - TKtUPSTracker allow to track the UPS packages online",
      u"  - TKtFedExTracker allow to track the FedEx packages online",
      u"  - TKtInetDateTime syncronizes date-time using Internet",
      u"  - TKtWEBUpdater: retrieve modified file from web/network",
      u"  - TKtWEBDirect: retrieve product news, tips, announcements",
      u"  - TKtRemoteImage: download dynamic images from web/web camera",
      u"  - TKtIHTTPClient: client for http-server",
      u"  - TKtInfoExtractor: to extract information from web (links, emails)",
      u"  - TKtRemoteFiles: to retrieve a structure of remote directories",
      u"  - TKtWeatherInfo: to track a weather information",
      u"  - TKtIRSSParser: to parse the RSS streams",
  };
  String text;
  for (const char16_t* line : kLines) {
    if (!text.empty()) text += u"\r\n";
    text += line;
  }
  return text;
}

void AboutKtInet() { MessageDlg(KtInetAboutText(), mtInformation, TMsgDlgButtons{mbOK}, 0); }

}  // namespace ktinet
