#include "protocols/KtWhoIs.h"

#include <cstdint>

#include "protocols/WhoisServers.h"
#include "rtl/Exceptions.h"
#include "rtl/SysUtils.h"

namespace ktinet {

namespace {

constexpr int kWhoisPort = 43;

// The address test of the server choice: three numbers 0..255 each followed by '.', then a
// fourth number 0..255 made of everything that is left.
bool IsIPv4ForWhois(const String& V) {
  size_t start = 0;
  for (int part = 0; part < 3; ++part) {
    size_t dot = V.find(u'.', start);
    if (dot == String::npos) return false;
    int n;
    if (!TryStrToInt(V.substr(start, dot - start), n) || n < 0 || n > 255) return false;
    start = dot + 1;
  }
  int n;
  return TryStrToInt(V.substr(start), n) && n >= 0 && n <= 255;
}

// ---- punycode (RFC 3492) ------------------------------------------------------------------

constexpr uint32_t kBase = 36, kTMin = 1, kTMax = 26, kSkew = 38, kDamp = 700, kInitialBias = 72,
                   kInitialN = 128;

char EncodeDigit(uint32_t d) { return static_cast<char>(d < 26 ? 'a' + d : '0' + (d - 26)); }

uint32_t Adapt(uint32_t delta, uint32_t numPoints, bool firstTime) {
  delta = firstTime ? delta / kDamp : delta / 2;
  delta += delta / numPoints;
  uint32_t k = 0;
  while (delta > ((kBase - kTMin) * kTMax) / 2) {
    delta /= kBase - kTMin;
    k += kBase;
  }
  return k + (kBase - kTMin + 1) * delta / (delta + kSkew);
}

// Registries keep names in lower case; without a full case-folding table the letters of the
// scripts most names use are folded here.
char32_t LowerCodePoint(char32_t c) {
  if (c >= U'A' && c <= U'Z') return c + 32;
  if (c < 0xC0) return c;
  if (c <= 0xDE) return c == 0xD7 ? c : c + 0x20;
  if (c >= 0x100 && c <= 0x137) return (c % 2 == 0 && c != 0x130) ? c + 1 : c;
  if (c >= 0x139 && c <= 0x148) return c % 2 == 1 ? c + 1 : c;
  if (c >= 0x14A && c <= 0x177) return c % 2 == 0 ? c + 1 : c;
  if (c == 0x178) return 0xFF;
  if (c >= 0x179 && c <= 0x17E) return c % 2 == 1 ? c + 1 : c;
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return c + 0x25;
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return c + 0x3F;
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  return c;
}

// Label separators of internationalised names: the full stop and its ideographic and full-width
// forms, which input methods often produce.
bool IsLabelSeparator(char32_t c) { return c == U'.' || c == 0x3002 || c == 0xFF0E || c == 0xFF61; }

std::u32string ToCodePoints(const String& s) {
  std::u32string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      throw EConvertError(u"The domain holds a broken UTF-16 surrogate at character " + IntToStr(i + 1));
    }
    out.push_back(c);
  }
  return out;
}

String ReferralMarker(const String& host, int port) {
  String where = host;
  if (port != kWhoisPort) where += u":" + IntToStr(port);
  return u"==== Referral to " + where + u" ====\r\n";
}

String ServerKey(const String& host, int port) { return LowerCase(host) + u":" + IntToStr(port); }

}  // namespace

std::string PunycodeEncode(const std::u32string& Input) {
  std::string output;
  for (char32_t c : Input)
    if (c < 0x80) output.push_back(static_cast<char>(c));
  const uint32_t basic = static_cast<uint32_t>(output.size());
  uint32_t handled = basic;
  if (basic > 0) output.push_back('-');

  uint32_t n = kInitialN, delta = 0, bias = kInitialBias;
  const uint32_t total = static_cast<uint32_t>(Input.size());
  while (handled < total) {
    uint32_t m = UINT32_MAX;
    for (char32_t c : Input)
      if (c >= n && c < m) m = c;
    if (uint64_t(m - n) * (handled + 1) + delta > UINT32_MAX) throw EConvertError(u"Punycode overflow");
    delta += (m - n) * (handled + 1);
    n = m;
    for (char32_t c : Input) {
      if (c < n && ++delta == 0) throw EConvertError(u"Punycode overflow");
      if (c != n) continue;
      uint32_t q = delta;
      for (uint32_t k = kBase;; k += kBase) {
        uint32_t t = k <= bias ? kTMin : (k >= bias + kTMax ? kTMax : k - bias);
        if (q < t) break;
        output.push_back(EncodeDigit(t + (q - t) % (kBase - t)));
        q = (q - t) / (kBase - t);
      }
      output.push_back(EncodeDigit(q));
      bias = Adapt(delta, handled + 1, handled == basic);
      delta = 0;
      ++handled;
    }
    ++delta;
    ++n;
  }
  return output;
}

String DomainToAscii(const String& Domain) {
  std::u32string points = ToCodePoints(Domain);
  String result;
  std::u32string label;
  auto flush = [&]() {
    bool ascii = true;
    for (char32_t c : label)
      if (c >= 0x80) ascii = false;
    if (ascii) {
      for (char32_t c : label) result.push_back(static_cast<Char>(c));
    } else {
      for (char32_t& c : label) c = LowerCodePoint(c);
      result += u"xn--" + BytesToString(PunycodeEncode(label));
    }
    label.clear();
  };
  for (char32_t c : points) {
    if (IsLabelSeparator(c)) {
      flush();
      result.push_back(u'.');
    } else {
      label.push_back(c);
    }
  }
  flush();
  return result;
}

bool FindWhoisReferral(const String& Answer, const std::vector<String>& Skip, String& Host, int& Port,
                       int AllowedPort) {
  static const Char* const kKeys[] = {u"refer:", u"whois:", u"Registrar WHOIS Server:", u"ReferralServer:"};
  size_t start = 0;
  while (start < Answer.size()) {
    size_t end = Answer.find(u'\n', start);
    if (end == String::npos) end = Answer.size();
    String line = TrimLeft(Answer.substr(start, end - start));
    start = end + 1;
    for (const Char* key : kKeys) {
      String k = key;
      if (line.size() < k.size() || !SameText(line.substr(0, k.size()), k)) continue;
      String value = Trim(line.substr(k.size()));
      bool url = StartsText(u"whois://", value);
      // ARIN names rwhois and http services on the same key: only a WHOIS server can be asked.
      if (k == u"ReferralServer:" && !url) break;
      if (url) value = value.substr(8);
      while (!value.empty() && value.back() == u'/') value.pop_back();
      int port = AllowedPort;
      size_t colon = value.rfind(u':');
      if (url && colon != String::npos && value.find(u':') == colon) {
        int p;
        // A referral is text anyone can put in a record: followed to any port, it would make
        // this client send the query to whatever service listens there.
        if (!TryStrToInt(value.substr(colon + 1), p) || p != AllowedPort) break;
        port = p;
        value = value.substr(0, colon);
      }
      if (value.empty() || value.find_first_of(u" \t/:") != String::npos) break;
      bool seen = false;
      for (const String& s : Skip)
        if (s == ServerKey(value, port)) seen = true;
      if (seen) break;
      Host = value;
      Port = port;
      return true;
    }
  }
  return false;
}

// ---- TKtWhoIs -----------------------------------------------------------------------------

TKtWhoIs::TKtWhoIs(TComponent* AOwner) : TKtInetBase(AOwner), FServerList(std::make_unique<TStringList>()) {
  SetPort(kWhoisPort);
  FAutoSelectServer = true;
  FillWhoisServerTable(*FServerList);
}

TKtWhoIs::~TKtWhoIs() = default;

void TKtWhoIs::SetDomain(const String& Value) {
  if (Value == FDomain) return;
  FDomain = Value;
  if (!FAutoSelectServer || Value.empty()) return;
  if (IsIPv4ForWhois(Value)) {
    SetHost(KtWhoIsFallbackServer);
    return;
  }
  size_t dot = Value.rfind(u'.');
  String suffix = dot == String::npos ? Value : Value.substr(dot + 1);
  SetHost(suffix.empty() ? String() : FServerList->Values(suffix));
  // A table value that is a dotted address lands in Address and leaves Host empty: the default
  // line then takes over, as for a label the table lacks.
  if (Host().empty()) SetHost(FServerList->Values(u"*"));
  if (Host().empty()) SetHost(KtWhoIsFallbackServer);
}

String TKtWhoIs::QueryDomain() const { return FConvertIDN ? DomainToAscii(FDomain) : FDomain; }

String TKtWhoIs::GetQuery() {
  CheckRequestText(FDomain, u"The domain");
  // The RIPE database takes the bare name or address; registries expect the "domain" keyword,
  // which keeps host and contact records of the same name out of the answer. Referral servers
  // (registrars, other registries) differ too much to assume the keyword.
  if (FReferralHop || Host() == KtWhoIsFallbackServer) return QueryDomain() + u"\r\n";
  return u"domain " + QueryDomain() + u"\r\n";
}

void TKtWhoIs::AfterExecute(String& strReceived) {
  // The chain is built before the event so that the handler sees what Execute returns.
  if (FFollowReferrals && !FReferralHop) FollowReferralChain(strReceived);
  TKtInetBase::AfterExecute(strReceived);
}

void TKtWhoIs::FollowReferralChain(String& text) {
  // The hops borrow the socket's endpoint; the application's choice of server is put back after
  // them, so the next Execute starts at the same place.
  const String savedSocketHost = FClientSocket->Host(), savedSocketAddress = FClientSocket->Address();
  const int savedSocketPort = FClientSocket->Port();
  const String savedHost = FHost, savedAddress = FAddress;
  const int savedPort = FPort;

  std::vector<String> asked{ServerKey(savedSocketHost.empty() ? savedSocketAddress : savedSocketHost,
                                      savedSocketPort)};
  String last = text;
  for (int hop = 0; hop < MaxReferrals; ++hop) {
    String host;
    int port = kWhoisPort;
    if (!FindWhoisReferral(last, asked, host, port, FReferralPort)) break;
    asked.push_back(ServerKey(host, port));
    if (!text.empty() && text.back() != u'\n') text += u"\r\n";
    text += u"\r\n" + ReferralMarker(host, port) + u"\r\n";
    try {
      Disconnect();
      SetHost(host);
      SetPort(port);
      FReferralHop = true;
      Connect();
      last = InternalExecute();
      FReferralHop = false;
      Disconnect();
      text += last;
    } catch (const Exception& e) {
      // The answers so far stay valid; the chain ends with why it could go no further.
      FReferralHop = false;
      text += u"% " + e.Message() + u"\r\n";
      break;
    }
  }
  FClientSocket->SetHost(savedSocketHost);
  FClientSocket->SetAddress(savedSocketAddress);
  FClientSocket->SetPort(savedSocketPort);
  FHost = savedHost;
  FAddress = savedAddress;
  FPort = savedPort;
}

bool TKtWhoIs::StatusCheckApplies(std::string_view FirstLine) const { return FirstLine.starts_with("HTTP/"); }

const TClassInfo* TKtWhoIs::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtWhoIs>(u"TKtWhoIs", TKtInetBase::StaticClassInfo())
      .Component()
      .Property(u"AutoSelectServer", &TKtWhoIs::AutoSelectServer, &TKtWhoIs::SetAutoSelectServer)
      .Property(u"Domain", &TKtWhoIs::Domain, &TKtWhoIs::SetDomain)
      // The built-in table is what a new component has: a form stores the list only when edited.
      .Property(u"ServerList", &TKtWhoIs::ServerList)
      .StoredIf([](const TKtWhoIs* w) {
        TKtWhoIs fresh(nullptr);
        return !w->ServerList()->Equals(fresh.ServerList());
      })
      .Property(u"FollowReferrals", &TKtWhoIs::FollowReferrals, &TKtWhoIs::SetFollowReferrals).Default(false)
      .Property(u"ConvertIDN", &TKtWhoIs::ConvertIDN, &TKtWhoIs::SetConvertIDN).Default(false)
      .Build();
  return info;
}

}  // namespace ktinet
