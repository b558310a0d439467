// Requests follow RFC 9082 (RDAP query format) over RFC 7480 (HTTP usage: Accept
// application/rdap+json, redirects between registries); answers are read as RFC 9083 (RDAP JSON
// responses, jCard contacts of RFC 7095); services are found as RFC 9224 (IANA bootstrap registries).
#include "services/KtRdap.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

#include "protocols/KtWhoIs.h"
#include "rtl/Exceptions.h"
#include "rtl/SysUtils.h"

namespace ktinet {

namespace detail {
std::string_view RdapSnapshotFile(std::string_view name);  // generated from data/rdap
}

namespace {

using json = nlohmann::json;

// --- JSON helpers: every read checks the type, so a member of the wrong type is passed over ---

const json* Member(const json& object, const char* name) {
  if (!object.is_object()) return nullptr;
  auto it = object.find(name);
  return it == object.end() ? nullptr : &*it;
}

String Text(const json& value) {
  return value.is_string() ? UTF8ToString(value.get_ref<const std::string&>()) : String();
}

String TextOf(const json& object, const char* name) {
  const json* m = Member(object, name);
  return m ? Text(*m) : String();
}

std::vector<String> TextList(const json& object, const char* name) {
  std::vector<String> out;
  const json* m = Member(object, name);
  if (m && m->is_array())
    for (const json& item : *m)
      if (item.is_string()) out.push_back(Text(item));
  return out;
}

// Members holding arrays of objects: anything else in them is passed over.
template <typename F>
void EachObject(const json& object, const char* name, F&& f) {
  const json* m = Member(object, name);
  if (!m || !m->is_array()) return;
  for (const json& item : *m)
    if (item.is_object()) f(item);
}

bool NumberOf(const json& object, const char* name, Int64& value) {
  const json* m = Member(object, name);
  if (!m) return false;
  if (m->is_number_unsigned()) {
    const auto n = m->get<std::uint64_t>();
    if (n > static_cast<std::uint64_t>(INT64_MAX)) return false;
    value = static_cast<Int64>(n);
    return true;
  }
  if (m->is_number_integer()) {
    value = m->get<std::int64_t>();
    return true;
  }
  return false;
}

bool ParseJson(std::string_view text, json& out, String& error) {
  if (!JsonNestingWithin(text, kMaxRdapJsonDepth)) {
    error = u"the JSON is nested deeper than " + IntToStr(kMaxRdapJsonDepth) + u" levels";
    return false;
  }
  out = json::parse(text.begin(), text.end(), nullptr, false);
  if (out.is_discarded()) {
    error = u"the answer is not valid JSON";
    return false;
  }
  if (!out.is_object()) {
    error = u"the answer is not a JSON object";
    return false;
  }
  return true;
}

// --- RDAP objects ---

TKtRdapEvent ReadEvent(const json& e) {
  TKtRdapEvent event;
  event.Action = TextOf(e, "eventAction");
  event.Actor = TextOf(e, "eventActor");
  event.DateText = TextOf(e, "eventDate");
  if (!ParseRdapDate(event.DateText, event.Date)) event.Date = 0;
  return event;
}

std::vector<TKtRdapEvent> ReadEvents(const json& o) {
  std::vector<TKtRdapEvent> out;
  EachObject(o, "events", [&](const json& e) { out.push_back(ReadEvent(e)); });
  return out;
}

std::vector<TKtRdapLink> ReadLinks(const json& o) {
  std::vector<TKtRdapLink> out;
  EachObject(o, "links", [&](const json& l) {
    out.push_back({TextOf(l, "value"), TextOf(l, "rel"), TextOf(l, "href"), TextOf(l, "type"), TextOf(l, "title")});
  });
  return out;
}

std::vector<TKtRdapNotice> ReadNotices(const json& o, const char* name) {
  std::vector<TKtRdapNotice> out;
  EachObject(o, name, [&](const json& n) {
    out.push_back({TextOf(n, "title"), TextOf(n, "type"), TextList(n, "description"), ReadLinks(n)});
  });
  return out;
}

// A jCard value: a text, or a structured value (lists of texts, one level deep in practice)
// joined with `separator`, empty parts left out.
String CardValue(const json& value, const String& separator, int depth = 0) {
  if (value.is_string()) return Text(value);
  if (!value.is_array() || depth > 2) return String();
  String out;
  for (const json& part : value) {
    const String text = CardValue(part, separator, depth + 1);
    if (text.empty()) continue;
    if (!out.empty()) out += separator;
    out += text;
  }
  return out;
}

void ReadCard(const json& entity, TKtRdapEntity& out) {
  const json* card = Member(entity, "vcardArray");
  if (!card || !card->is_array() || card->size() < 2 || !(*card)[1].is_array()) return;
  for (const json& property : (*card)[1]) {
    // [name, parameters, type, value ...]
    if (!property.is_array() || property.size() < 4 || !property[0].is_string()) continue;
    const String name = LowerCase(Text(property[0]));
    const json& value = property[3];
    if (name == u"fn") {
      if (out.FullName.empty()) out.FullName = CardValue(value, u" ");
    } else if (name == u"org") {
      if (out.Organization.empty()) out.Organization = CardValue(value, u", ");
    } else if (name == u"kind") {
      out.Kind = CardValue(value, u" ");
    } else if (name == u"email") {
      if (String v = CardValue(value, u" "); !v.empty()) out.Emails.push_back(v);
    } else if (name == u"tel") {
      String v = CardValue(value, u" ");
      if (v.compare(0, 4, u"tel:") == 0) v.erase(0, 4);
      if (!v.empty()) out.Phones.push_back(v);
    } else if (name == u"adr" && out.Address.empty()) {
      // A label parameter holds the address as the registry would print it.
      const String label = property[1].is_object() ? TextOf(property[1], "label") : String();
      out.Address = label.empty() ? CardValue(value, u", ") : label;
    }
  }
}

TKtRdapEntity ReadEntity(const json& e, int depth) {
  TKtRdapEntity entity;
  entity.Handle = TextOf(e, "handle");
  entity.Roles = TextList(e, "roles");
  ReadCard(e, entity);
  entity.Status = TextList(e, "status");
  EachObject(e, "publicIds", [&](const json& p) {
    entity.PublicIds.push_back({TextOf(p, "type"), TextOf(p, "identifier")});
  });
  entity.Events = ReadEvents(e);
  entity.Links = ReadLinks(e);
  entity.Remarks = ReadNotices(e, "remarks");
  entity.Port43 = TextOf(e, "port43");
  if (depth < kMaxRdapEntityDepth)
    EachObject(e, "entities", [&](const json& child) { entity.Entities.push_back(ReadEntity(child, depth + 1)); });
  return entity;
}

TKtRdapNameserver ReadNameserver(const json& n) {
  TKtRdapNameserver ns;
  ns.Handle = TextOf(n, "handle");
  ns.LdhName = TextOf(n, "ldhName");
  ns.UnicodeName = TextOf(n, "unicodeName");
  ns.Status = TextList(n, "status");
  if (const json* ips = Member(n, "ipAddresses")) {
    ns.IPv4 = TextList(*ips, "v4");
    ns.IPv6 = TextList(*ips, "v6");
  }
  return ns;
}

// --- addresses ---

bool ParseAddress(const String& text, bool v6, std::array<std::uint8_t, 16>& out) {
  out.fill(0);
  for (Char c : text)
    if (c > 0x7E || c <= u' ') return false;
  return inet_pton(v6 ? AF_INET6 : AF_INET, UTF8Encode(text).c_str(), out.data()) == 1;
}

String AddressText(const std::array<std::uint8_t, 16>& address, bool v6) {
  char buf[INET6_ADDRSTRLEN] = {};
  if (!inet_ntop(v6 ? AF_INET6 : AF_INET, address.data(), buf, sizeof buf)) return String();
  return UTF8ToString(buf);
}

// Splits "ADDR/LEN"; Length stays -1 without a slash. False for a length that is no number.
bool SplitPrefix(const String& text, String& address, int& length, int maxLength) {
  const size_t slash = text.find(u'/');
  length = -1;
  address = text.substr(0, slash);
  if (slash == String::npos) return true;
  const String digits = text.substr(slash + 1);
  if (digits.empty() || digits.size() > 3 ||
      !std::all_of(digits.begin(), digits.end(), [](Char c) { return c >= u'0' && c <= u'9'; }))
    return false;
  length = StrToIntDef(digits, -1);
  return length >= 0 && length <= maxLength;
}

// True when the first `bits` bits of a and b agree.
bool SamePrefix(const std::array<std::uint8_t, 16>& a, const std::array<std::uint8_t, 16>& b, int bits) {
  for (int i = 0; bits > 0; ++i, bits -= 8) {
    const std::uint8_t mask = bits >= 8 ? 0xFF : static_cast<std::uint8_t>(0xFF << (8 - bits));
    if ((a[i] & mask) != (b[i] & mask)) return false;
  }
  return true;
}

bool AllDigits(const String& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](Char c) { return c >= u'0' && c <= u'9'; });
}

bool ParseAsNumber(String text, std::uint32_t& value) {
  if (text.size() > 2 && (text[0] == u'A' || text[0] == u'a') && (text[1] == u'S' || text[1] == u's'))
    text.erase(0, 2);
  if (!AllDigits(text) || text.size() > 10) return false;
  const unsigned long long n = std::stoull(UTF8Encode(text));
  if (n > 0xFFFFFFFFull) return false;
  value = static_cast<std::uint32_t>(n);
  return true;
}

const char* FileNameOf(TKtRdapBootstrap::TKind kind) {
  switch (kind) {
    case TKtRdapBootstrap::TKind::Dns: return "dns.json";
    case TKtRdapBootstrap::TKind::IPv4: return "ipv4.json";
    case TKtRdapBootstrap::TKind::IPv6: return "ipv6.json";
    case TKtRdapBootstrap::TKind::Asn: return "asn.json";
    default: return "";
  }
}

constexpr TKtRdapBootstrap::TKind kAllKinds[] = {TKtRdapBootstrap::TKind::Dns, TKtRdapBootstrap::TKind::IPv4,
                                                 TKtRdapBootstrap::TKind::IPv6, TKtRdapBootstrap::TKind::Asn};

bool IsLoopbackHost(const String& host) {
  if (LowerCase(host) == u"localhost" || host == u"::1") return true;
  std::array<std::uint8_t, 16> a{};
  return ParseAddress(host, false, a) && a[0] == 127;
}

// The target of a redirect, made absolute against the URL that answered with it; empty when it
// is not a usable URL.
String ResolveLocation(const String& from, const String& location) {
  for (Char c : location)
    if (c <= u' ' || c == 0x7F) return String();
  const String lower = LowerCase(location.substr(0, 8));
  if (lower.compare(0, 8, u"https://") == 0 || lower.compare(0, 7, u"http://") == 0) return location;
  const size_t schemeEnd = from.find(u"://");
  if (schemeEnd == String::npos) return String();
  if (location.compare(0, 2, u"//") == 0) return from.substr(0, schemeEnd + 1) + location;
  const size_t pathStart = from.find(u'/', schemeEnd + 3);
  const String origin = from.substr(0, pathStart);
  if (!location.empty() && location[0] == u'/') return origin + location;
  String path = pathStart == String::npos ? String(u"/") : from.substr(pathStart);
  path = path.substr(0, path.find_first_of(u"?#"));
  return origin + path.substr(0, path.rfind(u'/') + 1) + location;
}

bool ReadLocalFile(const String& name, std::string& out, String& error) {
  std::ifstream in(UTF8Encode(name), std::ios::binary);
  if (!in) {
    error = name + u": cannot be read";
    return false;
  }
  out.clear();
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    out.append(buffer, static_cast<size_t>(in.gcount()));
    if (static_cast<Int64>(out.size()) > TKtRestComponent::kDefaultMaxSize) {
      error = name + u": larger than " + IntToStr(static_cast<long long>(TKtRestComponent::kDefaultMaxSize)) +
              u" bytes";
      return false;
    }
  }
  return true;
}

}  // namespace

// --- dates ---

bool ParseRdapDate(const String& Text, TDateTime& Value) {
  const std::string s = UTF8Encode(Text);
  auto digits = [&](size_t at, size_t count, int& out) {
    if (at + count > s.size()) return false;
    out = 0;
    for (size_t i = at; i < at + count; ++i) {
      if (s[i] < '0' || s[i] > '9') return false;
      out = out * 10 + (s[i] - '0');
    }
    return true;
  };
  int year, month, day, hour, minute, second;
  if (!digits(0, 4, year) || s.size() < 19 || s[4] != '-' || !digits(5, 2, month) || s[7] != '-' ||
      !digits(8, 2, day) || (s[10] != 'T' && s[10] != 't' && s[10] != ' ') || !digits(11, 2, hour) ||
      s[13] != ':' || !digits(14, 2, minute) || s[16] != ':' || !digits(17, 2, second))
    return false;
  size_t at = 19;
  int msec = 0;
  if (at < s.size() && s[at] == '.') {
    size_t end = ++at;
    while (end < s.size() && s[end] >= '0' && s[end] <= '9') ++end;
    if (end == at) return false;
    for (size_t i = 0; i < 3; ++i) msec = msec * 10 + (at + i < end ? s[at + i] - '0' : 0);
    at = end;
  }
  int offsetMinutes = 0;
  if (at < s.size()) {
    if ((s[at] == 'Z' || s[at] == 'z') && at + 1 == s.size()) {
      // UTC
    } else if ((s[at] == '+' || s[at] == '-') && at + 6 == s.size() && s[at + 3] == ':') {
      int oh, om;
      if (!digits(at + 1, 2, oh) || !digits(at + 4, 2, om) || oh > 23 || om > 59) return false;
      offsetMinutes = (oh * 60 + om) * (s[at] == '-' ? -1 : 1);
    } else {
      return false;
    }
  }
  // A leap second is shown as the last whole second of its minute.
  if (second == 60) second = 59;
  TDateTime date, time;
  if (year < 1 || !TryEncodeDate(static_cast<Word>(year), static_cast<Word>(month), static_cast<Word>(day), date) ||
      !TryEncodeTime(static_cast<Word>(hour), static_cast<Word>(minute), static_cast<Word>(second),
                     static_cast<Word>(msec), time))
    return false;
  Value = date + (date < 0 ? -time : time) - offsetMinutes / 1440.0;
  return true;
}

// --- queries ---

String TKtRdapQuery::Path() const {
  switch (Kind) {
    case TKtRdapQueryKind::Domain: return u"domain/" + Text;
    case TKtRdapQueryKind::Autnum: return u"autnum/" + Text;
    default: return u"ip/" + Text + (PrefixLength >= 0 ? u"/" + IntToStr(PrefixLength) : String());
  }
}

bool ParseRdapQuery(const String& Text, TKtRdapQuery& Query, String& ErrorText) {
  Query = TKtRdapQuery();
  const String text = Trim(Text);
  if (text.empty()) {
    ErrorText = u"nothing to look up";
    return false;
  }
  if (ParseAsNumber(text, Query.Autnum)) {
    Query.Kind = TKtRdapQueryKind::Autnum;
    Query.Text = IntToStr(static_cast<long long>(Query.Autnum));
    return true;
  }
  if (text.size() > 2 && (text[0] == u'A' || text[0] == u'a') && (text[1] == u'S' || text[1] == u's') &&
      AllDigits(text.substr(2))) {
    ErrorText = text + u": AS numbers go from 0 to 4294967295";
    return false;
  }
  const bool v6 = text.find(u':') != String::npos;
  const bool v4 = !v6 && std::all_of(text.begin(), text.end(), [](Char c) {
    return (c >= u'0' && c <= u'9') || c == u'.' || c == u'/';
  });
  if (v4 || v6) {
    String address;
    if (!SplitPrefix(text, address, Query.PrefixLength, v6 ? 128 : 32) ||
        !ParseAddress(address, v6, Query.Address)) {
      ErrorText = text + (v6 ? u": not an IPv6 address or CIDR block" : u": not an IPv4 address or CIDR block");
      return false;
    }
    Query.Kind = v6 ? TKtRdapQueryKind::IPv6 : TKtRdapQueryKind::IPv4;
    Query.Text = AddressText(Query.Address, v6);
    return true;
  }
  // A domain name. Anything that could leave the path segment is refused before conversion.
  for (Char c : text)
    if (c < 0x21 || c == 0x7F || String(u"/?#%\\@:[]\"<>").find(c) != String::npos) {
      ErrorText = text + u": not a domain name";
      return false;
    }
  String name = text;
  if (name.size() > 1 && name.back() == u'.') name.pop_back();
  try {
    name = LowerCase(DomainToAscii(name));
  } catch (const Exception& e) {
    ErrorText = text + u": " + e.Message();
    return false;
  }
  size_t start = 0;
  bool ok = !name.empty() && name.size() <= 253;
  while (ok) {
    const size_t dot = name.find(u'.', start);
    const String label = name.substr(start, dot == String::npos ? String::npos : dot - start);
    ok = !label.empty() && label.size() <= 63 && label.front() != u'-' && label.back() != u'-' && std::all_of(label.begin(), label.end(), [](Char c) {
      return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-' || c == u'_';
    });
    if (dot == String::npos) break;
    start = dot + 1;
  }
  if (!ok) {
    ErrorText = text + u": not a domain name";
    return false;
  }
  Query.Kind = TKtRdapQueryKind::Domain;
  Query.Text = name;
  return true;
}

// --- bootstrap ---

TKtRdapBootstrap::TKind TKtRdapBootstrap::KindOf(const TKtRdapQuery& Query) {
  switch (Query.Kind) {
    case TKtRdapQueryKind::Domain: return TKind::Dns;
    case TKtRdapQueryKind::IPv4: return TKind::IPv4;
    case TKtRdapQueryKind::IPv6: return TKind::IPv6;
    default: return TKind::Asn;
  }
}

std::string_view TKtRdapBootstrap::Snapshot(std::string_view FileName) { return detail::RdapSnapshotFile(FileName); }

bool TKtRdapBootstrap::Has(TKind Kind) const { return FHas[static_cast<int>(Kind)]; }

bool TKtRdapBootstrap::Add(std::string_view Json, TKind Kind, String& ErrorText) {
  json doc;
  if (!ParseJson(Json, doc, ErrorText)) return false;
  const json* services = Member(doc, "services");
  if (!services || !services->is_array()) {
    ErrorText = u"not a bootstrap file: it has no list of services";
    return false;
  }
  TKtRdapBootstrap added = *this;
  if (Kind != TKind::Unknown) added.FHas[static_cast<int>(Kind)] = true;
  for (const json& service : *services) {
    if (!service.is_array() || service.size() < 2 || !service[0].is_array() || !service[1].is_array()) continue;
    // The https URL is preferred; plain http only where a registry offers nothing else.
    String url;
    for (const json& u : service[1]) {
      const String candidate = Text(u);
      if (LowerCase(candidate).compare(0, 8, u"https://") == 0) {
        url = candidate;
        break;
      }
      if (url.empty() && LowerCase(candidate).compare(0, 7, u"http://") == 0) url = candidate;
    }
    if (url.empty()) continue;
    if (url.back() != u'/') url += u'/';
    const size_t index = added.FServices.size();
    added.FServices.push_back(url);
    for (const json& e : service[0]) {
      const String entry = Trim(Text(e));
      if (entry.empty()) continue;
      TKind shape = TKind::Dns;
      std::uint32_t first = 0, last = 0;
      const size_t dash = entry.find(u'-');
      if (AllDigits(entry) || (dash != String::npos && AllDigits(entry.substr(0, dash)) && AllDigits(entry.substr(dash + 1))))
        shape = TKind::Asn;
      else if (entry.find(u':') != String::npos)
        shape = TKind::IPv6;
      else if (entry.find(u'/') != String::npos)
        shape = TKind::IPv4;
      if (Kind != TKind::Unknown && shape != Kind) continue;
      if (shape == TKind::Asn) {
        if (!ParseAsNumber(entry.substr(0, dash), first) ||
            !ParseAsNumber(dash == String::npos ? entry : entry.substr(dash + 1), last) || last < first)
          continue;
        added.FRanges.push_back({first, last, index});
      } else if (shape == TKind::IPv4 || shape == TKind::IPv6) {
        TPrefix prefix;
        String address;
        const bool v6 = shape == TKind::IPv6;
        if (!SplitPrefix(entry, address, prefix.Length, v6 ? 128 : 32) || !ParseAddress(address, v6, prefix.Address))
          continue;
        if (prefix.Length < 0) prefix.Length = v6 ? 128 : 32;
        prefix.Service = index;
        (v6 ? added.FIPv6 : added.FIPv4).push_back(prefix);
      } else {
        String label = LowerCase(entry);
        if (label.back() == u'.') label.pop_back();
        if (!label.empty()) added.FLabels.push_back({label, index});
      }
      added.FHas[static_cast<int>(shape)] = true;
    }
  }
  *this = std::move(added);
  return true;
}

String TKtRdapBootstrap::Find(const TKtRdapQuery& Query) const {
  switch (Query.Kind) {
    case TKtRdapQueryKind::Domain: {
      // The longest registered suffix wins: "example.co.uk" prefers "co.uk" to "uk".
      String name = Query.Text;
      for (;;) {
        for (const auto& [label, service] : FLabels)
          if (label == name) return FServices[service];
        const size_t dot = name.find(u'.');
        if (dot == String::npos) return String();
        name.erase(0, dot + 1);
      }
    }
    case TKtRdapQueryKind::IPv4:
    case TKtRdapQueryKind::IPv6: {
      const bool v6 = Query.Kind == TKtRdapQueryKind::IPv6;
      const int length = Query.PrefixLength >= 0 ? Query.PrefixLength : v6 ? 128 : 32;
      const TPrefix* best = nullptr;
      // A block is served by a registry only when its whole range lies inside the entry.
      for (const TPrefix& p : v6 ? FIPv6 : FIPv4)
        if (p.Length <= length && SamePrefix(p.Address, Query.Address, p.Length) && (!best || p.Length > best->Length))
          best = &p;
      return best ? FServices[best->Service] : String();
    }
    case TKtRdapQueryKind::Autnum: {
      const TRange* best = nullptr;
      for (const TRange& r : FRanges)
        if (Query.Autnum >= r.First && Query.Autnum <= r.Last && (!best || r.Last - r.First < best->Last - best->First))
          best = &r;
      return best ? FServices[best->Service] : String();
    }
  }
  return String();
}

// --- answers ---

bool ParseRdapRecord(std::string_view Json, TKtRdapRecord& Record, String& ErrorText) {
  Record = TKtRdapRecord();
  json doc;
  if (!ParseJson(Json, doc, ErrorText)) return false;
  Record.ObjectClassName = TextOf(doc, "objectClassName");
  Record.Handle = TextOf(doc, "handle");
  Record.LdhName = TextOf(doc, "ldhName");
  Record.UnicodeName = TextOf(doc, "unicodeName");
  Record.Status = TextList(doc, "status");
  Record.Events = ReadEvents(doc);
  EachObject(doc, "entities", [&](const json& e) { Record.Entities.push_back(ReadEntity(e, 1)); });
  EachObject(doc, "nameservers", [&](const json& n) { Record.Nameservers.push_back(ReadNameserver(n)); });
  if (const json* dns = Member(doc, "secureDNS"); dns && dns->is_object()) {
    if (const json* signedFlag = Member(*dns, "delegationSigned"); signedFlag && signedFlag->is_boolean()) {
      Record.HasSecureDNS = true;
      Record.DelegationSigned = signedFlag->get<bool>();
    }
  }
  Record.Links = ReadLinks(doc);
  Record.Notices = ReadNotices(doc, "notices");
  Record.Remarks = ReadNotices(doc, "remarks");
  Record.Port43 = TextOf(doc, "port43");
  Record.Name = TextOf(doc, "name");
  Record.Type = TextOf(doc, "type");
  Record.Country = TextOf(doc, "country");
  Record.ParentHandle = TextOf(doc, "parentHandle");
  Record.StartAddress = TextOf(doc, "startAddress");
  Record.EndAddress = TextOf(doc, "endAddress");
  Record.IPVersion = TextOf(doc, "ipVersion");
  // Registries list the CIDR blocks of a network in the cidr0 extension.
  EachObject(doc, "cidr0_cidrs", [&](const json& c) {
    String prefix = TextOf(c, "v4prefix");
    if (prefix.empty()) prefix = TextOf(c, "v6prefix");
    Int64 length = -1;
    if (!prefix.empty() && NumberOf(c, "length", length) && length >= 0 && length <= 128)
      Record.Cidrs.push_back(prefix + u"/" + IntToStr(static_cast<long long>(length)));
  });
  Int64 n;
  if (NumberOf(doc, "startAutnum", n) && n >= 0) Record.StartAutnum = n;
  if (NumberOf(doc, "endAutnum", n) && n >= 0) Record.EndAutnum = n;
  return true;
}

void ParseRdapError(std::string_view Json, int HttpStatus, TKtRdapError& Error) {
  Error = TKtRdapError();
  Error.HttpStatus = HttpStatus;
  json doc;
  String ignored;
  if (!ParseJson(Json, doc, ignored)) return;
  NumberOf(doc, "errorCode", Error.ErrorCode);
  Error.Title = TextOf(doc, "title");
  Error.Description = TextList(doc, "description");
}

// --- the component ---

TKtRdapClient::TKtRdapClient(TComponent* AOwner) : TKtRestComponent(AOwner) {}

const TClassInfo* TKtRdapClient::StaticClassInfo() {
  static const TClassInfo* info =
      TClassBuilder<TKtRdapClient>(u"TKtRdapClient", TKtRestComponent::StaticClassInfo())
          .Property(u"Query", &TKtRdapClient::Query, &TKtRdapClient::SetQuery)
          .Property(u"Server", &TKtRdapClient::Server, &TKtRdapClient::SetServer)
          .Property(u"Bootstrap", &TKtRdapClient::Bootstrap, &TKtRdapClient::SetBootstrap)
          .Property(u"BootstrapSource", &TKtRdapClient::BootstrapSource, &TKtRdapClient::SetBootstrapSource)
          .Property(u"MaxRedirects", &TKtRdapClient::MaxRedirects, &TKtRdapClient::SetMaxRedirects)
          .Build();
  return info;
}

bool TKtRdapClient::Lookup() {
  FUpdating = false;
  return Execute();
}

bool TKtRdapClient::UpdateBootstrap(const String& Folder) {
  FUpdating = true;
  FUpdateFolder = Folder;
  const bool ok = Execute();
  FUpdating = false;
  return ok;
}

void TKtRdapClient::InternalExecute() {
  FRecord = TKtRdapRecord();
  FError = TKtRdapError();
  FRaw.clear();
  FServiceUrl.clear();
  FAnswerUrl.clear();
  FNoService = false;
  if (FUpdating) DoUpdate();
  else DoLookup();
}

bool TKtRdapClient::LoadBootstrap(TKtRdapBootstrap::TKind Kind) {
  FFiles = TKtRdapBootstrap();
  String error;
  if (!FBootstrap.empty()) {
    std::string text;
    if (DirectoryExists(FBootstrap)) {
      const String name = IncludeTrailingPathDelimiter(FBootstrap) + UTF8ToString(FileNameOf(Kind));
      if (FileExists(name)) {
        if (!ReadLocalFile(name, text, error) || !FFiles.Add(text, Kind, error)) {
          Failed(name + u": " + error);
          return false;
        }
      }
    } else if (!ReadLocalFile(FBootstrap, text, error) || !FFiles.Add(text, TKtRdapBootstrap::TKind::Unknown, error)) {
      Failed(error.compare(0, FBootstrap.size(), FBootstrap) == 0 ? error : FBootstrap + u": " + error);
      return false;
    }
  }
  // What the named files do not cover comes from the snapshot built in.
  if (!FFiles.Has(Kind) && !FFiles.Add(TKtRdapBootstrap::Snapshot(FileNameOf(Kind)), Kind, error)) {
    Failed(u"the built-in bootstrap file " + UTF8ToString(FileNameOf(Kind)) + u": " + error);
    return false;
  }
  return true;
}

bool TKtRdapClient::Fetch(const String& Url, TKtRestAnswer& Answer) {
  String current = Url;
  for (int hop = 0;; ++hop) {
    TKtRestRequest request;
    request.Url = current;
    request.Headers = {{u"Accept", FUpdating ? u"application/json" : u"application/rdap+json, application/json;q=0.9"}};
    // Each hop is judged here: how many, and that none of them leaves https.
    request.FollowRedirects = false;
    if (!RestCall(request, Answer)) return false;
    const int s = Answer.Status;
    if (s != 301 && s != 302 && s != 303 && s != 307 && s != 308) {
      FAnswerUrl = current;
      return true;
    }
    if (hop >= FMaxRedirects) {
      Failed(Url + u": more than " + IntToStr(FMaxRedirects) + u" redirects");
      return false;
    }
    const String next = ResolveLocation(current, Answer.Location);
    bool secure = false, fromSecure = false;
    String host, fromHost, path;
    Word port = 0;
    if (next.empty() || !SplitRestUrl(next, secure, host, port, path) ||
        !SplitRestUrl(current, fromSecure, fromHost, port, path)) {
      Failed(current + u": redirected to an unusable address: " + Answer.Location);
      return false;
    }
    // Plain http is followed only between loopback servers (a test bench), never off https.
    if (!secure && (fromSecure || !IsLoopbackHost(fromHost) || !IsLoopbackHost(host))) {
      Failed(current + u": refused a redirect to plain http: " + next);
      return false;
    }
    current = next;
  }
}

void TKtRdapClient::DoLookup() {
  TKtRdapQuery query;
  String error;
  if (!ParseRdapQuery(FQuery, query, error)) {
    Failed(error);
    return;
  }
  String base = FServer;
  if (base.empty()) {
    if (!LoadBootstrap(TKtRdapBootstrap::KindOf(query))) return;
    base = FFiles.Find(query);
    if (base.empty()) {
      FNoService = true;
      Failed(u"no RDAP service is known for " + query.Text);
      return;
    }
  } else if (base.back() != u'/') {
    base += u'/';
  }
  FServiceUrl = base;
  TKtRestAnswer answer;
  if (!Fetch(base + query.Path(), answer)) return;
  FRaw = answer.Body;
  if (answer.Status != 200) {
    ParseRdapError(answer.Body, answer.Status, FError);
    // "example.com: not found (HTTP 404: Not Found)", "example.com: the registry answered HTTP 503
    // Service Unavailable: <the error object's title>"
    String text;
    if (answer.Status == 404) {
      text = query.Text + u": not found (HTTP 404" + (FError.Title.empty() ? String() : u": " + FError.Title) + u")";
    } else {
      text = query.Text + u": the registry answered HTTP " + IntToStr(answer.Status);
      if (!answer.StatusText.empty()) text += u" " + answer.StatusText;
      if (!FError.Title.empty()) text += u": " + FError.Title;
    }
    Failed(text);
    return;
  }
  if (!ParseRdapRecord(answer.Body, FRecord, error)) {
    Failed(FAnswerUrl + u": " + error);
    return;
  }
}

void TKtRdapClient::DoUpdate() {
  String source = FBootstrapSource;
  if (source.empty() || FUpdateFolder.empty()) {
    Failed(u"no source or folder for the bootstrap files");
    return;
  }
  if (source.back() != u'/') source += u'/';
  std::vector<std::pair<String, std::string>> files;
  for (TKtRdapBootstrap::TKind kind : kAllKinds) {
    const String name = UTF8ToString(FileNameOf(kind));
    TKtRestAnswer answer;
    if (!Fetch(source + name, answer)) return;
    if (answer.Status != 200) {
      Failed(source + name + u": HTTP " + IntToStr(answer.Status) + (answer.StatusText.empty() ? String() : u" " + answer.StatusText));
      return;
    }
    TKtRdapBootstrap check;
    String error;
    if (!check.Add(answer.Body, kind, error)) {
      Failed(source + name + u": " + error);
      return;
    }
    files.emplace_back(name, std::move(answer.Body));
  }
  if (!DirectoryExists(FUpdateFolder) && !ForceDirectories(FUpdateFolder)) {
    Failed(FUpdateFolder + u": cannot be made");
    return;
  }
  // Every file is written whole beside its old one first; only then do they replace the old ones.
  const String folder = IncludeTrailingPathDelimiter(FUpdateFolder);
  for (const auto& [name, body] : files) {
    const std::string temp = UTF8Encode(folder + name) + ".part";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    const bool written = f && std::fwrite(body.data(), 1, body.size(), f) == body.size();
    const bool closed = f && std::fclose(f) == 0;
    if (!written || !closed) {
      std::remove(temp.c_str());
      for (const auto& other : files) std::remove((UTF8Encode(folder + other.first) + ".part").c_str());
      Failed(folder + name + u": cannot be written");
      return;
    }
  }
  for (const auto& [name, body] : files) {
    const std::string target = UTF8Encode(folder + name);
    if (std::rename((target + ".part").c_str(), target.c_str()) != 0) {
      Failed(folder + name + u": cannot be replaced");
      return;
    }
  }
}

}  // namespace ktinet
