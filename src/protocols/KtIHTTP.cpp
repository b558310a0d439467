#include "protocols/KtIHTTP.h"

#include <vector>

#include "rtl/Exceptions.h"
#include "rtl/SysUtils.h"

namespace ktinet {

namespace {

const Char* const kMethodWords[] = {u"HEAD", u"GET", u"POST"};

// Where a followed redirect goes.
struct TRedirectTarget {
  String Host;
  int Port = 80;
  String Request;
};

// Splits "host[:port]" (IPv6 in brackets); false when it is malformed.
bool SplitAuthority(const String& authority, String& host, int& port) {
  port = 80;
  String rest;
  if (!authority.empty() && authority[0] == u'[') {
    size_t close = authority.find(u']');
    if (close == String::npos) return false;
    host = authority.substr(1, close - 1);
    rest = authority.substr(close + 1);
  } else {
    size_t colon = authority.find(u':');
    host = authority.substr(0, colon);
    rest = colon == String::npos ? String() : authority.substr(colon);
  }
  if (!rest.empty()) {
    if (rest[0] != u':') return false;
    // An empty port ("host:") means the default one.
    if (rest.size() > 1 && (!TryStrToInt(rest.substr(1), port) || port < 1 || port > 65535)) return false;
  }
  // The user information of a URL has no place in an HTTP/1.0 request line.
  size_t at = host.rfind(u'@');
  if (at != String::npos) host = host.substr(at + 1);
  return !host.empty();
}

// Resolves a Location value against the request that received it.
TRedirectTarget ResolveRedirect(const String& location, const TRedirectTarget& current) {
  String u = location;
  size_t hash = u.find(u'#');
  if (hash != String::npos) u.erase(hash);
  if (StartsText(u"https://", u))
    throw Exception(u"Redirect to an https:// address cannot be followed over this connection: " + location);

  TRedirectTarget next = current;
  String authorityAndPath;
  if (StartsText(u"http://", u)) {
    authorityAndPath = u.substr(7);
  } else if (u.rfind(u"//", 0) == 0) {
    authorityAndPath = u.substr(2);
  } else {
    size_t colon = u.find(u':');
    size_t slash = u.find_first_of(u"/?");
    if (colon != String::npos && (slash == String::npos || colon < slash))
      throw Exception(u"Redirect to an address that is not http:// cannot be followed: " + location);
    if (u.empty()) {
      next.Request = current.Request;
    } else if (u[0] == u'/') {
      next.Request = u;
    } else {
      // Relative to the directory of the current request (its query left out).
      String base = current.Request.substr(0, current.Request.find(u'?'));
      if (u[0] == u'?') {
        next.Request = base + u;
      } else {
        size_t lastSlash = base.rfind(u'/');
        next.Request = (lastSlash == String::npos ? String(u"/") : base.substr(0, lastSlash + 1)) + u;
      }
    }
    return next;
  }
  size_t pathStart = authorityAndPath.find_first_of(u"/?");
  String authority = authorityAndPath.substr(0, pathStart);
  if (!SplitAuthority(authority, next.Host, next.Port))
    throw Exception(u"Redirect to a malformed address cannot be followed: " + location);
  next.Request = pathStart == String::npos ? String(u"/") : authorityAndPath.substr(pathStart);
  if (next.Request[0] == u'?') next.Request = u"/" + next.Request;
  return next;
}

// The lines that identify the user to the server the application addressed; another server
// must not see them (what curl does for --location without --location-trusted).
bool IsCredentialLine(const String& line) {
  return StartsText(u"Authorization:", line) || StartsText(u"Cookie:", line);
}

// The status code of an answer's status line, 0 when there is none.
int AnswerStatus(const String& statusLine) {
  size_t space = statusLine.find(u' ');
  if (!StartsText(u"HTTP/", statusLine) || space == String::npos) return 0;
  return StrToIntDef(statusLine.substr(space + 1, 3), 0);
}

String TargetKey(const TRedirectTarget& t) {
  return LowerCase(t.Host) + u":" + IntToStr(t.Port) + t.Request;
}

}  // namespace

TKtIHTTPClient::TKtIHTTPClient(TComponent* AOwner)
    : TKtInetBase(AOwner), FHeaders(std::make_unique<TStringList>()), FResponseHeaders(std::make_unique<TStringList>()) {
  FAction = haHead;
  SetPort(80);
  FRemoveHeaders = true;
}

// The response list goes before the header list.
TKtIHTTPClient::~TKtIHTTPClient() {
  FResponseHeaders.reset();
  FHeaders.reset();
}

String TKtIHTTPClient::GetResponse(const String& Value) const {
  for (int i = 0; i < FResponseHeaders->Count(); ++i) {
    String line = FResponseHeaders->Get(i);
    if (line.size() >= Value.size() && SameText(line.substr(0, Value.size()), Value)) return line;
  }
  return String();
}


void TKtIHTTPClient::Connect() {
  // The application's own endpoint, not the socket's: after a connect through a proxy the socket
  // names the proxy until the application writes Host again.
  if (!FConnected) {
    FTargetHost = FHost.empty() ? FAddress : FHost;
    FTargetPort = FPort;
  }
  TKtInetBase::Connect();
}

String TKtIHTTPClient::GetQuery() {
  CheckRequestText(FRequest, u"The request");
  CheckRequestText(FTargetHost, u"The host");
  for (int i = 0; i < FHeaders->Count(); ++i) CheckRequestText(FHeaders->Get(i), u"Header line " + IntToStr(i + 1));
  String query = kMethodWords[FAsGet ? haGet : FAction];
  if (ThroughProxy()) {
    // A proxy needs the absolute target; the Host line names the destination, not the proxy.
    const String authority = HttpAuthority(FTargetHost, FTargetPort);
    query += u" http://" + authority + FRequest + u" HTTP/1.0\r\nHost: " + authority + u"\r\n";
  } else {
    // A host given as an address reads back empty from Host; servers refuse an empty Host line
    // (nginx answers 400), so the address stands in for it. Servers build absolute redirects
    // from the Host line, so a port other than 80 goes with it.
    String host = Host().empty() ? Address() : Host();
    query += u" " + FRequest + u" HTTP/1.0\r\nHost: " + HttpAuthority(host, Port()) + u"\r\n";
  }
  for (int i = 0; i < FHeaders->Count(); ++i) {
    const String& line = FHeaders->Get(i);
    if (FWithoutCredentials && IsCredentialLine(line)) continue;
    query += line + u"\r\n";
  }
  const String& body = FAsGet ? String() : FBody;
  if (!body.empty()) query += u"Content-Length: " + IntToStr(static_cast<long long>(body.size())) + u"\r\n";
  query += u"\r\n";
  query += body;
  return query;
}

bool SplitHTTPAnswer(const String& Answer, TStrings& Headers, String* Body) {
  Headers.SetText(Answer);
  if (Body) Body->clear();
  const int count = Headers.Count();
  if (count == 0) return false;
  int e = count - 1;
  for (int i = 0; i < count; ++i) {
    if (Headers.Get(i).empty()) {
      e = i;
      break;
    }
  }
  if (Body) {
    String body;
    for (int i = e + 1; i < count; ++i) body += Headers.Get(i) + u"\r\n";
    *Body = std::move(body);
  }
  Headers.BeginUpdate();
  for (int i = count - 1; i >= e; --i) Headers.Delete(i);
  Headers.EndUpdate();
  return true;
}

void TKtIHTTPClient::TakeAnswer(String& strReceived) {
  TKtInetBase::AfterExecute(strReceived);
  if (FRemoveHeaders) {
    String body;
    if (SplitHTTPAnswer(strReceived, *FResponseHeaders, &body)) strReceived = std::move(body);
  } else {
    SplitHTTPAnswer(strReceived, *FResponseHeaders, nullptr);
  }
}

void TKtIHTTPClient::AnswerStarted() { FScanner.Reset(FAction == haHead); }

size_t TKtIHTTPClient::AnswerReceived(const char* Data, size_t Count, bool& Complete) {
  const bool hadHeaders = FScanner.HeadersDone();
  size_t used = FScanner.Feed(Data, Count, Complete);
  // A body announced larger than the limit is refused before it is read.
  if (!hadHeaders && FScanner.HeadersDone() && FScanner.ContentLength() > 0)
    CheckAnswerSize(FScanner.HeaderBytes() + FScanner.ContentLength());
  return used;
}

void TKtIHTTPClient::AnswerEnded() { FScanner.Finish(); }

void TKtIHTTPClient::AfterExecute(String& strReceived) {
  // The method and credential changes last for this Execute's chain of redirects only.
  struct TChainReset {
    TKtIHTTPClient& c;
    ~TChainReset() { c.FAsGet = c.FWithoutCredentials = false; }
  } reset{*this};
  TakeAnswer(strReceived);
  const TRedirectTarget first{FTargetHost, FTargetPort, FRequest};
  TRedirectTarget current = first;
  std::vector<String> visited{TargetKey(current)};
  for (int followed = 0;;) {
    // Only these answers send the client elsewhere; a 201 Created names the new resource in its
    // Location line, and a 300 leaves the choice to the user.
    const int status = FResponseHeaders->Count() > 0 ? AnswerStatus(FResponseHeaders->Get(0)) : 0;
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) return;
    String location = GetResponse(u"Location");
    if (location.empty()) return;
    String url = location;
    bool abort = true;
    if (FOnRedirect) FOnRedirect(this, url, abort);
    if (abort || url.empty()) return;

    // Unchanged, URL is the whole header line; a handler may also leave a plain URL.
    if (StartsText(u"Location:", url)) url = url.substr(9);
    url = Trim(url);
    if (url.empty()) return;
    if (++followed > MaxRedirects)
      throw Exception(u"Too many redirects: more than " + IntToStr(MaxRedirects) + u", the last to " + url);
    TRedirectTarget next = ResolveRedirect(url, current);
    String key = TargetKey(next);
    for (const String& v : visited)
      if (v == key) throw Exception(u"Redirect loop: " + url + u" was already asked for");
    visited.push_back(key);

    // A 303, and a 301 or 302 answering a POST, are followed as browsers do: with GET and no
    // body. A 307 or 308 asks for the same method and body again.
    if (FAction == haPost && (status == 303 || status == 301 || status == 302)) FAsGet = true;
    FWithoutCredentials = !SameText(next.Host, first.Host) || next.Port != first.Port;

    Disconnect();
    SetHost(next.Host);
    SetPort(next.Port);
    FRequest = next.Request;
    Connect();
    current = next;
    strReceived = InternalExecute();
    TakeAnswer(strReceived);
  }
}

const TClassInfo* TKtIHTTPClient::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtIHTTPClient>(u"TKtIHTTPClient", TKtInetBase::StaticClassInfo())
      .Component()
      .Property(u"Action", &TKtIHTTPClient::Action, &TKtIHTTPClient::SetAction).Default(haHead)
      .Property(u"Request", &TKtIHTTPClient::Request, &TKtIHTTPClient::SetRequest)
      .Property(u"Headers", &TKtIHTTPClient::Headers)
      .Property(u"RemoveHeaders", &TKtIHTTPClient::RemoveHeaders, &TKtIHTTPClient::SetRemoveHeaders).Default(true)
      .Property(u"Body", &TKtIHTTPClient::Body, &TKtIHTTPClient::SetBody)
      .Event(u"OnRedirect", u"TKtIHTTPRedirectEvent")
      .Build();
  return info;
}

}  // namespace ktinet
