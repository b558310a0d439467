#include "services/KtOAuth.h"

#include <algorithm>
#include <chrono>

#include "core/ktiutil.h"
#include "rtl/SysUtils.h"
#include "rtl/UrlEncoding.h"
#include "services/ServiceJson.h"

namespace ktinet {

namespace {

using Json = nlohmann::json;

// Documents deeper than this are not the services' answers.
constexpr int kMaxDepth = 32;

Json Parse(const std::string& body) { return ParseServiceJson(body, kMaxDepth); }

std::string Member(const Json& object, const char* name) {
  if (!object.is_object()) return std::string();
  const auto it = object.find(name);
  if (it == object.end()) return std::string();
  if (it->is_string()) return it->get<std::string>();
  if (it->is_number_integer()) return std::to_string(it->get<long long>());
  return std::string();
}

}  // namespace

std::int64_t TKtOAuthToken::SteadyNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void TKtOAuthToken::Configure(const String& TokenUrl, const String& ClientId, const String& ClientSecret,
                              TKtOAuthClientAuth How) {
  if (TokenUrl != FTokenUrl || ClientId != FClientId || ClientSecret != FClientSecret || How != FHow) Forget();
  FTokenUrl = TokenUrl;
  FClientId = ClientId;
  FClientSecret = ClientSecret;
  FHow = How;
}

std::string FormEncode(const std::string& Value) { return PercentEncodeBytes(Value); }

TKtRestRequest TKtOAuthToken::Request() const {
  TKtRestRequest r;
  r.Method = u"POST";
  r.Url = FTokenUrl;
  r.Headers = {{u"Content-Type", u"application/x-www-form-urlencoded"}, {u"Accept", u"application/json"}};
  r.Body = "grant_type=client_credentials";
  const std::string id = UTF8Encode(FClientId), secret = UTF8Encode(FClientSecret);
  if (FHow == oaBasicHeader) {
    // Basic credentials are the id and secret themselves, colon-joined, in Base64.
    r.Headers.emplace_back(u"Authorization", u"Basic " + UTF8ToString(Encode64(id + ":" + secret)));
  } else {
    r.Body += "&client_id=" + FormEncode(id) + "&client_secret=" + FormEncode(secret);
  }
  return r;
}

bool TKtOAuthToken::Accept(const TKtRestAnswer& Answer, std::int64_t NowMs, String& Error) {
  Forget();
  const Json doc = Parse(Answer.Body);
  if (Answer.Status < 200 || Answer.Status > 299) {
    Error = RestErrorText(Answer.Body);
    if (Error.empty()) Error = u"HTTP " + IntToStr(Answer.Status) + (Answer.StatusText.empty() ? u"" : u" " + Answer.StatusText);
    return false;
  }
  const std::string token = Member(doc, "access_token");
  // A token holds no line breaks, colons or controls: it goes into a header line as it is.
  bool clean = !token.empty() && token.size() <= 8192;
  for (unsigned char c : token)
    if (c <= ' ' || c >= 0x7F) clean = false;
  const std::string type = LowerCase(UTF8ToString(Member(doc, "token_type"))) == u"bearer" ? "bearer" : Member(doc, "token_type");
  if (!clean || (!type.empty() && type != "bearer")) {
    Error = RestErrorText(Answer.Body);
    if (Error.empty()) Error = u"the token answer carries no bearer token";
    return false;
  }
  // expires_in is a number of seconds; some services send it as a string.
  const std::string expires = Member(doc, "expires_in");
  long long seconds = 0;
  if (!expires.empty() && expires.size() <= 9 && expires.find_first_not_of("0123456789") == std::string::npos)
    seconds = std::stoll(expires);
  std::int64_t lifeMs = std::min<std::int64_t>(seconds * 1000, kLongestMs);
  // A short-lived token is still given up early, by half its life at most.
  lifeMs -= std::min(kMarginMs, lifeMs / 2);
  FAccessToken = UTF8ToString(token);
  FExpiresAtMs = NowMs + lifeMs;
  ++FFetched;
  return true;
}

String RestErrorText(const std::string& Body) {
  const Json doc = Parse(Body);
  if (!doc.is_object()) return String();
  const Json* errors = nullptr;
  if (auto it = doc.find("errors"); it != doc.end() && it->is_array()) errors = &*it;
  else if (auto r = doc.find("response"); r != doc.end() && r->is_object())
    if (auto e = r->find("errors"); e != r->end() && e->is_array()) errors = &*e;
  std::string text;
  if (errors) {
    int count = 0;
    for (const Json& e : *errors) {
      if (++count > 10) break;
      const std::string message = Member(e, "message"), code = Member(e, "code");
      if (message.empty() && code.empty()) continue;
      if (!text.empty()) text += "; ";
      text += message.empty() ? code : code.empty() ? message : message + " (error " + code + ")";
    }
  } else if (const std::string error = Member(doc, "error"); !error.empty()) {
    const std::string description = Member(doc, "error_description");
    text = description.empty() ? error : description + " (error " + error + ")";
  }
  return UTF8ToString(text);
}

}  // namespace ktinet
