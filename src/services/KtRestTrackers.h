// Parcel trackers for the carriers' JSON tracking services with OAuth 2.0 client credentials:
// TKtUPSRestTracker and TKtFedExRestTracker. They fill the same result objects as the XML
// trackers (TKtShipmentDetails, TKtInetActivities of TKtInetActivity, the address class), so an
// application moves to them by changing the class it creates and the credentials it sets.
#pragma once

#include <memory>
#include <string>

#include "rtl/Classes.h"
#include "rtl/DateTime.h"
#include "rtl/TypInfo.h"
#include "services/KtIActivity.h"
#include "services/KtOAuth.h"
#include "services/KtRestCall.h"

namespace ktinet {

// Which of a carrier's hosts a tracker asks, unless BaseUrl names another.
enum TKtRestEnvironment { reProduction, reTest };
KTINET_ENUM_TYPE(TKtRestEnvironment, u"reProduction", u"reTest")

class TKtRestTracker : public TKtRestComponent, public TKtShipmentDetails {
  KTINET_PUBLISHED(TKtRestTracker)
 public:
  explicit TKtRestTracker(TComponent* AOwner);
  ~TKtRestTracker() override;

  const String& TrackingNumber() const { return FTrackingNumber; }
  // Empties the results on every assignment, even of the current number.
  void SetTrackingNumber(const String& Value);
  TKtInetActivities* Activities() const { return FActivities.get(); }

  // The client credentials the carrier's developer portal issued. The token they buy is kept
  // until shortly before it expires and serves every Execute until then.
  const String& ClientId() const { return FClientId; }
  void SetClientId(const String& Value) { FClientId = Value; }
  const String& ClientSecret() const { return FClientSecret; }
  void SetClientSecret(const String& Value) { FClientSecret = Value; }
  TKtRestEnvironment Environment() const { return FEnvironment; }
  void SetEnvironment(TKtRestEnvironment Value) { FEnvironment = Value; }
  // "https://host[:port]" that replaces the environment's host (empty: the environment decides);
  // plain "http://" is taken for this machine's own addresses only.
  const String& BaseUrl() const { return FBaseUrl; }
  void SetBaseUrl(const String& Value) { FBaseUrl = Value; }
  // The language and country of the descriptions, e.g. "en_US".
  const String& Locale() const { return FLocale; }
  void SetLocale(const String& Value) { FLocale = Value; }
  // The base URL in use: BaseUrl, else the environment's host.
  String ServiceUrl() const;
  virtual String ProductionUrl() const = 0;
  virtual String TestUrl() const = 0;

  // The last tracking answer as received (UTF-8 decoded); the error document when it was one.
  const String& LastJSONResponse() const { return FLastJSONResponse; }
  // The HTTP status of the last answer (the token service's when that refused); 0 when none came.
  DWORD HttpStatus() const { return FHttpStatus; }
  // The service's own code and message when it refused (an HTTP status of 400 or more, an
  // errors array, an unknown number); empty otherwise. Such an answer fails Execute.
  const String& ServiceError() const { return FServiceError; }
  // The Retry-After of a 429 answer, as sent (seconds or an HTTP date).
  const String& RetryAfter() const { return FRetryAfter; }

  // The package's latest status, and the delivery when there was one.
  const String& StatusCode() const { return FStatusCode; }
  const String& StatusDescription() const { return FStatusDescription; }
  bool Delivered() const { return FDelivered; }
  // The delivery time (or date, when only that is known): actual once delivered, else the
  // scheduled or estimated one; 0 when the answer names none.
  TDateTime DeliveryDate() const { return FDeliveryDate; }
  const String& SignedForByName() const { return FSignedForByName; }
  const String& DeliveryLocation() const { return FDeliveryLocation; }
  // Tokens taken from the carrier since this tracker was made.
  int TokensFetched() const { return FToken.Fetched(); }

  virtual void Clear();
  // Reads a tracking answer (one as LastJSONResponse holds) into the results, as Execute does
  // with a 200 answer. False, with ServiceError set, when it is an error document or does not
  // describe the tracking number's package.
  bool LoadResponse(const std::string& Json);

 protected:
  void InternalExecute() override;
  virtual String TokenPath() const = 0;
  virtual TKtOAuthClientAuth ClientAuth() const = 0;
  virtual TKtRestRequest TrackRequest(const String& Base) const = 0;
  // Fills the results from a parsed answer; false with Error when it describes no package.
  virtual bool ReadAnswer(const std::string& Json, String& Error) = 0;

  String FStatusCode, FStatusDescription, FSignedForByName, FDeliveryLocation;
  bool FDelivered = false;
  TDateTime FDeliveryDate = 0;

 private:
  // Sends the request with the bearer token, taking a token first when none is valid, and once
  // more with a fresh token when the service answers 401. False when no answer came or the
  // credentials were refused (ServiceError says so).
  bool AuthorizedCall(TKtRestRequest Request, TKtRestAnswer& Answer);
  bool TakeToken();
  void Refused(const TKtRestAnswer& Answer, const String& Words);

  String FTrackingNumber;
  std::unique_ptr<TKtInetActivities> FActivities;
  String FClientId, FClientSecret, FBaseUrl, FLocale = u"en_US";
  TKtRestEnvironment FEnvironment = reProduction;
  String FLastJSONResponse;
  DWORD FHttpStatus = 0;
  String FServiceError, FRetryAfter;
  TKtOAuthToken FToken;
};

// UPS Tracking API v1: GET /api/track/v1/details/{inquiryNumber}, token from the OAuth client
// credentials service with HTTP Basic.
class TKtUPSRestTracker : public TKtRestTracker {
  KTINET_PUBLISHED(TKtUPSRestTracker)
 public:
  explicit TKtUPSRestTracker(TComponent* AOwner);
  static constexpr const char16_t* kProductionUrl = u"https://onlinetools.ups.com";
  static constexpr const char16_t* kTestUrl = u"https://wwwcie.ups.com";
  String ProductionUrl() const override { return kProductionUrl; }
  String TestUrl() const override { return kTestUrl; }
  // The transactionSrc header: the name the calling application gives itself.
  const String& TransactionSource() const { return FTransactionSource; }
  void SetTransactionSource(const String& Value) { FTransactionSource = Value; }

 protected:
  String TokenPath() const override { return u"/security/v1/oauth/token"; }
  TKtOAuthClientAuth ClientAuth() const override { return oaBasicHeader; }
  TKtRestRequest TrackRequest(const String& Base) const override;
  bool ReadAnswer(const std::string& Json, String& Error) override;

 private:
  String FTransactionSource = u"ktinet";
};

// FedEx Track API v1: POST /track/v1/trackingnumbers with detailed scans, token from the OAuth
// service with the credentials in the form body.
class TKtFedExRestTracker : public TKtRestTracker {
  KTINET_PUBLISHED(TKtFedExRestTracker)
 public:
  explicit TKtFedExRestTracker(TComponent* AOwner);
  static constexpr const char16_t* kProductionUrl = u"https://apis.fedex.com";
  static constexpr const char16_t* kTestUrl = u"https://apis-sandbox.fedex.com";
  String ProductionUrl() const override { return kProductionUrl; }
  String TestUrl() const override { return kTestUrl; }

 protected:
  String TokenPath() const override { return u"/oauth/token"; }
  TKtOAuthClientAuth ClientAuth() const override { return oaFormBody; }
  TKtRestRequest TrackRequest(const String& Base) const override;
  bool ReadAnswer(const std::string& Json, String& Error) override;
};

}  // namespace ktinet
