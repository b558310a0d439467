// OAuth 2.0 client credentials for the web services: the token request in the form a service
// takes, the token kept until shortly before it expires, and the services' error documents in
// words.
#pragma once

#include <cstdint>
#include <string>

#include "services/KtRestCall.h"

namespace ktinet {

// How the client proves who it is when it asks for a token.
enum TKtOAuthClientAuth {
  oaBasicHeader,  // HTTP Basic with client_id:client_secret; the body holds the grant type only
  oaFormBody      // grant_type, client_id and client_secret together in the form body
};

// One client's access token. The owner sends Request() with its own RestCall and hands the
// answer to Accept(); Valid() tells whether the token may still be used.
class TKtOAuthToken {
 public:
  // A token is given up this long before the service said it expires, so that it does not
  // expire between the check and the service reading the request.
  static constexpr std::int64_t kMarginMs = 60000;
  // The longest a token is kept, whatever the service says: a day.
  static constexpr std::int64_t kLongestMs = 86400000;

  // Any change of the token URL or the credentials forgets the token.
  void Configure(const String& TokenUrl, const String& ClientId, const String& ClientSecret, TKtOAuthClientAuth How);

  // The token request (POST, form-encoded).
  TKtRestRequest Request() const;
  // Reads the token answer at NowMs (a steady clock's milliseconds). True when it carries a bearer
  // token, which is kept; otherwise false with the service's own words in Error.
  bool Accept(const TKtRestAnswer& Answer, std::int64_t NowMs, String& Error);

  bool Valid(std::int64_t NowMs) const { return !FAccessToken.empty() && NowMs < FExpiresAtMs; }
  const String& AccessToken() const { return FAccessToken; }
  void Forget() { FAccessToken.clear(); FExpiresAtMs = 0; }
  // How many tokens were taken since construction (for the owner's statistics and the tests).
  int Fetched() const { return FFetched; }

  // The clock the owner passes to Accept and Valid.
  static std::int64_t SteadyNowMs();

 private:
  String FTokenUrl, FClientId, FClientSecret;
  TKtOAuthClientAuth FHow = oaBasicHeader;
  String FAccessToken;
  std::int64_t FExpiresAtMs = 0;
  int FFetched = 0;
};

// The words of a web service's error document: the "errors" array (at the top, or inside
// "response"), each as "message (error CODE)" joined by "; ", or an OAuth "error" with its
// "error_description". Empty when the body is no such document.
String RestErrorText(const std::string& Body);

// application/x-www-form-urlencoded of one value (UTF-8, every byte but unreserved ones encoded).
std::string FormEncode(const std::string& Value);

}  // namespace ktinet
