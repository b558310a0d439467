// Web services that answer JSON over HTTPS: one request, its whole answer, and the settings every
// such component shares (certificate checks, deadlines, proxy, a size limit), on top of the
// transfer layer's session handling.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "transfer/ktiupdate.h"

namespace ktinet {

// One request. The URL is absolute (http:// or https://, an optional port, the path and query
// already percent-encoded); header names and values must not hold line breaks.
struct TKtRestRequest {
  String Method = u"GET";
  String Url;
  std::vector<std::pair<String, String>> Headers;
  std::string Body;  // sent as it is (UTF-8 JSON, or a form)
  // GET and HEAD follow redirects by themselves; a component that must judge each target (the
  // scheme it may go to, how many hops) turns this off and reads Status and Location.
  bool FollowRedirects = true;
};

// The answer to one request, whatever its status.
struct TKtRestAnswer {
  int Status = 0;  // 0 while no answer came back
  String StatusText;
  std::string Body;  // the bytes as received
  String ContentType;
  String RetryAfter;  // the Retry-After header, as sent (seconds or an HTTP date)
  String Location;
  String Url;  // the URL asked for
};

// A component that talks to a web service. Descendants build their requests and read the
// answers; the transfer base gives the proxy, the deadlines (MaxTime bounds a whole Execute, every
// request inside it included), the status and LastErrorText.
class TKtRestComponent : public TKtCustomWebComponent {
  KTINET_PUBLISHED(TKtRestComponent)
 public:
  explicit TKtRestComponent(TComponent* AOwner);

  // Certificates are checked against the system's authorities (plus CAFile) and the host name,
  // unless IgnoreCertificateErrors.
  bool IgnoreCertificateErrors() const { return FIgnoreCertificateErrors; }
  void SetIgnoreCertificateErrors(bool Value) { FIgnoreCertificateErrors = Value; }
  const String& CAFile() const { return FCAFile; }
  void SetCAFile(const String& Value) { FCAFile = Value; }
  // The largest answer body taken, in bytes (0: no limit). A service answer is small; a server
  // that never stops sending must not take the machine's memory.
  Int64 MaxSize() const { return FMaxSize; }
  void SetMaxSize(Int64 Value) { FMaxSize = Value < 0 ? 0 : Value; }
  static constexpr Int64 kDefaultMaxSize = Int64{16} << 20;

 protected:
  // Sends the request and reads the whole answer into Answer. True when an answer of any status
  // came back whole; false (with LastErrorText naming the cause and the status isFailed) when the
  // host could not be reached, the certificate was refused, the deadline passed, the answer was
  // cut short or larger than MaxSize, or the run was cancelled. GET and HEAD follow redirects
  // (at most 5) unless Request.FollowRedirects is off; other methods report them as they are.
  bool RestCall(const TKtRestRequest& Request, TKtRestAnswer& Answer);

 private:
  bool FIgnoreCertificateErrors = false;
  String FCAFile;
  Int64 FMaxSize = kDefaultMaxSize;
};

// Splits an absolute http:// or https:// URL. False for any other form.
bool SplitRestUrl(const String& Url, bool& Secure, String& Host, Word& Port, String& PathAndQuery);

// True when no array or object of the JSON text lies more than Limit levels deep (strings and
// their escapes are skipped). Answers are checked before they are parsed, so a hostile document
// nested a million levels deep is refused before a tree is built for it.
bool JsonNestingWithin(std::string_view Text, int Limit);

// (Path segments and query values are percent-encoded with PercentEncode, services/KtIMSTranslator.h.)

}  // namespace ktinet
