#include "services/KtRestCall.h"

#include <algorithm>

#include "rtl/SysUtils.h"

namespace ktinet {

TKtRestComponent::TKtRestComponent(TComponent* AOwner) : TKtCustomWebComponent(AOwner) {
  SetAgent(u"ktinet");
}

const TClassInfo* TKtRestComponent::StaticClassInfo() {
  static const TClassInfo* info =
      TClassBuilder<TKtRestComponent>(u"TKtRestComponent", TKtCustomWebComponent::StaticClassInfo())
          .Property(u"IgnoreCertificateErrors", &TKtRestComponent::IgnoreCertificateErrors,
                    &TKtRestComponent::SetIgnoreCertificateErrors)
          .Default(false)
          .Property(u"CAFile", &TKtRestComponent::CAFile, &TKtRestComponent::SetCAFile)
          .Property(u"MaxSize", &TKtRestComponent::MaxSize, &TKtRestComponent::SetMaxSize)
          .Build();
  return info;
}

bool SplitRestUrl(const String& Url, bool& Secure, String& Host, Word& Port, String& PathAndQuery) {
  size_t at;
  if (Url.compare(0, 8, u"https://") == 0) {
    Secure = true;
    at = 8;
  } else if (Url.compare(0, 7, u"http://") == 0) {
    Secure = false;
    at = 7;
  } else {
    return false;
  }
  const size_t slash = Url.find_first_of(u"/?#", at);
  String authority = Url.substr(at, slash == String::npos ? String::npos : slash - at);
  PathAndQuery = slash == String::npos ? String(u"/") : Url.substr(slash);
  if (!PathAndQuery.empty() && PathAndQuery[0] != u'/') PathAndQuery.insert(0, u"/");
  if (const size_t hash = PathAndQuery.find(u'#'); hash != String::npos) PathAndQuery.resize(hash);
  // Credentials in a service URL would be sent to whoever the URL names: not taken.
  if (authority.empty() || authority.find(u'@') != String::npos) return false;
  Port = Secure ? 443 : 80;
  String portText;
  if (authority[0] == u'[') {
    const size_t close = authority.find(u']');
    if (close == String::npos) return false;
    Host = authority.substr(1, close - 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != u':') return false;
      portText = authority.substr(close + 2);
    }
  } else {
    const size_t colon = authority.find(u':');
    Host = authority.substr(0, colon);
    if (colon != String::npos) portText = authority.substr(colon + 1);
  }
  if (Host.empty()) return false;
  if (!portText.empty()) {
    if (portText.size() > 5 || !std::all_of(portText.begin(), portText.end(), [](Char c) { return c >= u'0' && c <= u'9'; }))
      return false;
    const int number = StrToIntDef(portText, 0);
    if (number < 1 || number > 65535) return false;
    Port = static_cast<Word>(number);
  }
  return true;
}

bool JsonNestingWithin(std::string_view Text, int Limit) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < Text.size(); ++i) {
    const char c = Text[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > Limit) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

namespace {

String QueryText(HINTERNET Request, DWORD Level) {
  Char buffer[1024] = {};
  DWORD length = sizeof buffer - sizeof(Char);
  if (!HttpQueryInfoW(Request, Level, buffer, &length, nullptr)) return String();
  return String(buffer, length / sizeof(Char));
}

}  // namespace

bool TKtRestComponent::RestCall(const TKtRestRequest& Request, TKtRestAnswer& Answer) {
  Answer = TKtRestAnswer();
  Answer.Url = Request.Url;
  bool secure = false;
  String host, path;
  Word port = 0;
  if (!SplitRestUrl(Request.Url, secure, host, port, path)) {
    Failed(Request.Url + u": " + InternetErrorMessage(ERROR_INTERNET_INVALID_URL));
    return false;
  }
  for (const auto& [name, value] : Request.Headers)
    if (HasLineBreakOrNul(name) || HasLineBreakOrNul(value) || name.find(u':') != String::npos) {
      Failed(u"the header " + name + u" holds a line break or a colon in its name");
      return false;
    }
  if (TimeLeft() == 0) {
    Failed(host + u": " + InternetErrorMessage(ERROR_INTERNET_TIMEOUT));
    return false;
  }

  HINTERNET session = OpenSession();
  if (!session) {
    Failed(host + u": " + InternetFailure());
    return false;
  }
  bool ok = false;
  HINTERNET connection =
      InternetConnectW(session, host.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  HINTERNET request = nullptr;
  if (connection) {
    DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_COOKIES;
    if (secure) flags |= INTERNET_FLAG_SECURE;
    if (!Request.FollowRedirects) flags |= INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (secure && FIgnoreCertificateErrors)
      flags |= INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
    request = HttpOpenRequestW(connection, Request.Method.c_str(), path.c_str(), nullptr, nullptr, nullptr, flags, 0);
  }
  if (!request) {
    Failed(host + u": " + InternetFailure());
  } else {
    if (secure && FIgnoreCertificateErrors) {
      DWORD security = SECURITY_FLAG_IGNORE_REVOCATION | SECURITY_FLAG_IGNORE_UNKNOWN_CA |
                       SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
      InternetSetOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof security);
    }
    if (secure && !FCAFile.empty())
      InternetSetOptionW(request, KTINET_OPTION_CA_FILE, FCAFile.c_str(), static_cast<DWORD>(FCAFile.size()));
    String lines;
    for (const auto& [name, value] : Request.Headers) lines += name + u": " + value + u"\r\n";
    if (!lines.empty())
      HttpAddRequestHeadersW(request, lines.c_str(), static_cast<DWORD>(lines.size()), HTTP_ADDREQ_FLAG_ADD);

    const bool sent = HttpSendRequestW(request, nullptr, 0, Request.Body.empty() ? nullptr : Request.Body.data(),
                                       static_cast<DWORD>(Request.Body.size()));
    // The cause is taken before the status query, which would replace it.
    const String cause = sent ? String() : TimeLeft() == 0 ? InternetErrorMessage(ERROR_INTERNET_TIMEOUT)
                                                           : InternetFailure();
    DWORD code = 0;
    DWORD size = sizeof code;
    if (!sent || !HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr)) {
      Failed(host + u": " + (cause.empty() ? InternetFailure() : cause));
    } else {
      Answer.Status = static_cast<int>(code);
      SetLastHTTPStatus(code);
      Answer.StatusText = QueryText(request, HTTP_QUERY_STATUS_TEXT);
      Answer.ContentType = QueryText(request, HTTP_QUERY_CONTENT_TYPE);
      Answer.RetryAfter = QueryText(request, HTTP_QUERY_RETRY_AFTER);
      Answer.Location = QueryText(request, HTTP_QUERY_LOCATION);
      char buffer[16384];
      bool abort = false;
      for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request, buffer, sizeof buffer, &got)) {
          Failed(host + u": " + (TimeLeft() == 0 ? InternetErrorMessage(ERROR_INTERNET_TIMEOUT) : InternetFailure()));
          break;
        }
        if (got == 0) {
          ok = true;
          break;
        }
        if (FMaxSize > 0 && static_cast<Int64>(Answer.Body.size() + got) > FMaxSize) {
          Failed(host + u": " + InternetErrorMessage(KTINET_ERROR_ANSWER_TOO_LARGE) + u" (more than " +
                 IntToStr(static_cast<long long>(FMaxSize)) + u" bytes)");
          break;
        }
        Answer.Body.append(buffer, got);
        UpdateProgress(static_cast<Cardinal>(std::min<size_t>(Answer.Body.size(), 0xFFFFFFFFu)), 0, abort);
        if (abort) {
          Failed(host + u": " + InternetErrorMessage(ERROR_INTERNET_OPERATION_CANCELLED));
          break;
        }
      }
    }
    InternetCloseHandle(request);
  }
  if (connection) InternetCloseHandle(connection);
  InternetCloseHandle(session);
  return ok;
}

}  // namespace ktinet
