// `ktinet rdap`: TKtRdapClient from the command line (also behind `ktinet whois --rdap`), and its
// line in the demo.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "Cli.h"
#include "Demo.h"
#include "DemoServers.h"
#include "Json.h"
#include "Output.h"
#include "Rdap.h"
#include "SocketOptions.h"
#include "rtl/SysUtils.h"
#include "services/KtRdap.h"

namespace ktinet::cli {

namespace {

// The user's cache of fresh bootstrap files: $XDG_CACHE_HOME/ktinet/rdap, or ~/.cache/ktinet/rdap.
// Empty when neither an absolute XDG_CACHE_HOME nor a home folder is known.
std::string BootstrapCache() {
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && xdg[0] == '/') return std::string(xdg) + "/ktinet/rdap";
  const std::string home = HomeFolder();
  return home.empty() ? std::string() : home + "/.cache/ktinet/rdap";
}

// Server text, one item per line, unable to drive the terminal.
std::string Safe(const String& s) { return EscapeControls(UTF8Encode(s)); }

std::string IsoDate(const TKtRdapEvent& e) {
  if (e.Date == 0) return Safe(e.DateText);
  Word y, mo, d, h, mi, s, ms;
  DecodeDateTime(e.Date, y, mo, d, h, mi, s, ms);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02uZ", y, mo, d, h, mi, s);
  return buf;
}

// "last changed" -> "Last changed"
std::string Label(const String& text) {
  std::string s = Safe(text);
  if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
  return s;
}

class Printer {
 public:
  void Line(const std::string& indent, const std::string& label, const std::string& value) {
    if (value.empty()) return;
    // An empty label continues the item above.
    std::string head = indent + label + (label.empty() ? "" : ":");
    if (head.size() < kColumn) head.resize(kColumn, ' ');
    else head += ' ';
    // Long texts (a registry's notices) wrap at word breaks to fit 80 columns; a word longer than
    // a line (a URL) stays whole.
    const std::string more(std::min<size_t>(head.size(), 40), ' ');
    std::string line = head;
    bool lineHasWord = false;
    size_t at = 0;
    while (at < value.size()) {
      size_t end = value.find(' ', at);
      if (end == std::string::npos) end = value.size();
      const std::string word = value.substr(at, end - at);
      at = end + 1;
      if (word.empty()) continue;
      if (lineHasWord && line.size() + 1 + word.size() > kWidth) {
        FOut += line + "\n";
        line = more;
        lineHasWord = false;
      }
      line += (lineHasWord ? " " : "") + word;
      lineHasWord = true;
    }
    FOut += line + "\n";
  }
  void Events(const std::string& indent, const std::vector<TKtRdapEvent>& events) {
    for (const auto& e : events)
      Line(indent, Label(e.Action), IsoDate(e) + (e.Actor.empty() ? "" : " (by " + Safe(e.Actor) + ")"));
  }
  void Notices(const std::string& indent, const char* label, const std::vector<TKtRdapNotice>& notices) {
    for (const auto& n : notices) {
      Line(indent, label, n.Title.empty() ? std::string("(untitled)") : Safe(n.Title));
      for (const auto& d : n.Description) Line(indent, "", Safe(d));
      for (const auto& l : n.Links) Line(indent, "", Safe(l.Href));
    }
  }
  void Entity(const std::string& indent, const TKtRdapEntity& e) {
    std::string roles;
    for (const auto& r : e.Roles) roles += (roles.empty() ? "" : ", ") + Label(r);
    String name = !e.FullName.empty() ? e.FullName : !e.Organization.empty() ? e.Organization : e.Handle;
    Line(indent, roles.empty() ? std::string("Entity") : roles, name.empty() ? std::string("(no name given)") : Safe(name));
    const std::string in = indent + "  ";
    if (e.Organization != name) Line(in, "Organization", Safe(e.Organization));
    if (e.Handle != name) Line(in, "Handle", Safe(e.Handle));
    for (const auto& id : e.PublicIds) Line(in, Safe(id.Type), Safe(id.Identifier));
    for (const auto& m : e.Emails) Line(in, "E-mail", Safe(m));
    for (const auto& p : e.Phones) Line(in, "Phone", Safe(p));
    Line(in, "Address", Safe(e.Address));
    for (const auto& s : e.Status) Line(in, "Status", Safe(s));
    Events(in, e.Events);
    Line(in, "Port 43", Safe(e.Port43));
    for (const auto& child : e.Entities) Entity(in, child);
  }
  std::string Text() const { return FOut; }

 private:
  static constexpr size_t kColumn = 18;
  static constexpr size_t kWidth = 80;
  std::string FOut;
};

std::string Readable(const TKtRdapClient& rdap) {
  const TKtRdapRecord& r = rdap.Record();
  Printer p;
  p.Line("", "Object class", Safe(r.ObjectClassName));
  p.Line("", "Handle", Safe(r.Handle));
  p.Line("", "Domain name", Safe(r.LdhName));
  if (r.UnicodeName != r.LdhName) p.Line("", "Unicode name", Safe(r.UnicodeName));
  p.Line("", "Name", Safe(r.Name));
  p.Line("", "Type", Safe(r.Type));
  if (!r.StartAddress.empty() || !r.EndAddress.empty())
    p.Line("", "Range", Safe(r.StartAddress) + " - " + Safe(r.EndAddress));
  for (const auto& c : r.Cidrs) p.Line("", "CIDR", Safe(c));
  p.Line("", "IP version", Safe(r.IPVersion));
  if (r.StartAutnum >= 0)
    p.Line("", "AS numbers",
           r.EndAutnum >= 0 && r.EndAutnum != r.StartAutnum
               ? std::to_string(r.StartAutnum) + " - " + std::to_string(r.EndAutnum)
               : std::to_string(r.StartAutnum));
  p.Line("", "Country", Safe(r.Country));
  p.Line("", "Parent", Safe(r.ParentHandle));
  for (const auto& s : r.Status) p.Line("", "Status", Safe(s));
  p.Events("", r.Events);
  for (const auto& ns : r.Nameservers) {
    std::string addresses;
    for (const auto* list : {&ns.IPv4, &ns.IPv6})
      for (const auto& a : *list) addresses += (addresses.empty() ? "" : ", ") + Safe(a);
    p.Line("", "Name server", Safe(ns.LdhName.empty() ? ns.UnicodeName : ns.LdhName) +
                                  (addresses.empty() ? "" : " (" + addresses + ")"));
  }
  if (r.HasSecureDNS) p.Line("", "DNSSEC", r.DelegationSigned ? "signed delegation" : "unsigned");
  for (const auto& e : r.Entities) p.Entity("", e);
  p.Line("", "Port 43", Safe(r.Port43));
  for (const auto& l : r.Links)
    if (l.Rel != u"self") p.Line("", "Link", Safe(l.Href) + (l.Rel.empty() ? "" : " (" + Safe(l.Rel) + ")"));
  p.Notices("", "Remark", r.Remarks);
  p.Notices("", "Notice", r.Notices);
  p.Line("", "Answered by", Safe(rdap.AnswerUrl()));
  return p.Text();
}

// --- JSON ---

std::string TextArray(const std::vector<String>& list) {
  JsonArray a;
  for (const auto& s : list) a.Text(s);
  return a.Str();
}

std::string EventsJson(const std::vector<TKtRdapEvent>& events) {
  JsonArray a;
  for (const auto& e : events) {
    JsonObject o;
    o.Text("action", e.Action).Text("actor", e.Actor).Text("dateText", e.DateText);
    if (e.Date == 0) o.Null("date");
    else o.Text("date", IsoDate(e));
    a.Raw(o.Str());
  }
  return a.Str();
}

std::string LinksJson(const std::vector<TKtRdapLink>& links) {
  JsonArray a;
  for (const auto& l : links)
    a.Raw(JsonObject().Text("value", l.Value).Text("rel", l.Rel).Text("href", l.Href).Text("type", l.Type)
              .Text("title", l.Title).Str());
  return a.Str();
}

std::string NoticesJson(const std::vector<TKtRdapNotice>& notices) {
  JsonArray a;
  for (const auto& n : notices)
    a.Raw(JsonObject().Text("title", n.Title).Text("type", n.Type).Raw("description", TextArray(n.Description))
              .Raw("links", LinksJson(n.Links)).Str());
  return a.Str();
}

std::string EntityJson(const TKtRdapEntity& e) {
  JsonArray ids, children;
  for (const auto& id : e.PublicIds) ids.Raw(JsonObject().Text("type", id.Type).Text("identifier", id.Identifier).Str());
  for (const auto& c : e.Entities) children.Raw(EntityJson(c));
  return JsonObject()
      .Text("handle", e.Handle)
      .Raw("roles", TextArray(e.Roles))
      .Text("kind", e.Kind)
      .Text("fullName", e.FullName)
      .Text("organization", e.Organization)
      .Raw("emails", TextArray(e.Emails))
      .Raw("phones", TextArray(e.Phones))
      .Text("address", e.Address)
      .Raw("status", TextArray(e.Status))
      .Raw("publicIds", ids.Str())
      .Raw("events", EventsJson(e.Events))
      .Raw("links", LinksJson(e.Links))
      .Raw("remarks", NoticesJson(e.Remarks))
      .Text("port43", e.Port43)
      .Raw("entities", children.Str())
      .Str();
}

std::string RecordJson(const std::string& query, const TKtRdapClient& rdap) {
  const TKtRdapRecord& r = rdap.Record();
  JsonArray entities, nameservers;
  for (const auto& e : r.Entities) entities.Raw(EntityJson(e));
  for (const auto& n : r.Nameservers)
    nameservers.Raw(JsonObject().Text("handle", n.Handle).Text("ldhName", n.LdhName).Text("unicodeName", n.UnicodeName)
                        .Raw("status", TextArray(n.Status)).Raw("ipv4", TextArray(n.IPv4))
                        .Raw("ipv6", TextArray(n.IPv6)).Str());
  JsonObject o;
  o.Text("query", query).Text("service", rdap.ServiceUrl()).Text("url", rdap.AnswerUrl())
      .Text("objectClassName", r.ObjectClassName).Text("handle", r.Handle).Text("ldhName", r.LdhName)
      .Text("unicodeName", r.UnicodeName).Raw("status", TextArray(r.Status)).Raw("events", EventsJson(r.Events))
      .Raw("entities", entities.Str()).Raw("nameservers", nameservers.Str());
  if (r.HasSecureDNS) o.Bool("delegationSigned", r.DelegationSigned);
  else o.Null("delegationSigned");
  o.Raw("links", LinksJson(r.Links)).Raw("notices", NoticesJson(r.Notices)).Raw("remarks", NoticesJson(r.Remarks))
      .Text("port43", r.Port43).Text("name", r.Name).Text("type", r.Type).Text("country", r.Country)
      .Text("parentHandle", r.ParentHandle).Text("startAddress", r.StartAddress).Text("endAddress", r.EndAddress)
      .Text("ipVersion", r.IPVersion).Raw("cidrs", TextArray(r.Cidrs));
  if (r.StartAutnum >= 0) o.Number("startAutnum", r.StartAutnum);
  else o.Null("startAutnum");
  if (r.EndAutnum >= 0) o.Number("endAutnum", r.EndAutnum);
  else o.Null("endAutnum");
  return o.Str();
}

void Configure(const Args& args, TKtRdapClient& rdap) {
  ApplyTransferOptions(args, rdap);
  if (auto ca = args.Get("--cacert")) rdap.SetCAFile(UTF8ToString(*ca));
  rdap.SetIgnoreCertificateErrors(args.Has("--insecure"));
  if (auto server = args.Get("--server")) {
    if (server->rfind("https://", 0) != 0 && server->rfind("http://", 0) != 0)
      throw UsageError("--server needs an http:// or https:// URL");
    rdap.SetServer(UTF8ToString(*server));
  }
  if (auto path = args.Get("--bootstrap")) {
    rdap.SetBootstrap(UTF8ToString(*path));
  } else {
    // Files fetched by --update-bootstrap take the place of the built-in ones.
    const std::string cache = BootstrapCache();
    if (!cache.empty() && DirectoryExists(UTF8ToString(cache))) rdap.SetBootstrap(UTF8ToString(cache));
  }
}

int RunRdap(const Args& args) {
  const bool update = args.Has("--update-bootstrap");
  args.ExpectPositional(update ? 0 : 1, 1);
  if (args.Has("--json") && args.Has("--raw")) throw UsageError("--json and --raw exclude each other");
  if (update) {
    TKtRdapClient rdap(nullptr);
    Configure(args, rdap);
    if (auto url = args.Get("--bootstrap-url")) rdap.SetBootstrapSource(UTF8ToString(*url));
    const std::string cache = BootstrapCache();
    if (cache.empty()) {
      std::cerr << "ktinet rdap: no cache folder for the bootstrap files: set XDG_CACHE_HOME or HOME\n";
      return kExitFailed;
    }
    if (!rdap.UpdateBootstrap(UTF8ToString(cache))) {
      std::cerr << "ktinet rdap: " << Safe(rdap.LastErrorText()) << "\n";
      return kExitFailed;
    }
    std::cerr << "ktinet rdap: bootstrap files updated in " << cache << "\n";
    if (args.Positional().empty()) return kExitOk;
  } else if (args.Has("--bootstrap-url")) {
    throw UsageError("--bootstrap-url goes with --update-bootstrap");
  }
  return RunRdapLookup(args, args.Positional()[0], "rdap", nullptr);
}

std::vector<Args::OptionSpec> RdapOptions() {
  std::vector<Args::OptionSpec> specs = RdapLookupOptions();
  AppendOptions(specs, {{"--update-bootstrap", "", false}, {"--bootstrap-url", "", true}});
  return specs;
}

// A registry stand-in answering one domain over plain HTTP, the way a registry's RDAP service does.
DemoOutcome DemoRdap() {
  DemoServer registry([](DemoConnection& conn) {
    std::string head = conn.ReceiveUntil("\r\n\r\n");
    const bool match = head.rfind("GET /rdap/domain/example.com HTTP/1.1\r\n", 0) == 0 &&
                       head.find("application/rdap+json") != std::string::npos;
    const std::string body =
        match ? R"({"rdapConformance":["rdap_level_0"],"objectClassName":"domain","handle":"2336799_DOMAIN_COM-VRSN",)"
                R"("ldhName":"EXAMPLE.COM","status":["client delete prohibited"],)"
                R"("events":[{"eventAction":"registration","eventDate":"1995-08-14T04:00:00Z"}],)"
                R"("entities":[{"objectClassName":"entity","handle":"376","roles":["registrar"],)"
                R"("vcardArray":["vcard",[["version",{},"text","4.0"],["fn",{},"text","Demo Registrar Ltd"]]]}]})"
              : R"({"errorCode":404,"title":"Not Found"})";
    conn.Send(std::string(match ? "HTTP/1.1 200 OK" : "HTTP/1.1 404 Not Found") +
              "\r\nContent-Type: application/rdap+json\r\nConnection: close\r\nContent-Length: " +
              std::to_string(body.size()) + "\r\n\r\n" + body);
  });
  TKtRdapClient rdap(nullptr);
  rdap.SetServer(u"http://127.0.0.1:" + IntToStr(registry.Port()) + u"/rdap/");
  rdap.SetQuery(u"example.com");
  rdap.SetConnectTimeout(5000);
  rdap.SetReadTimeout(5000);
  DemoOutcome out;
  out.did = "RDAP look-up of example.com at a registry stand-in on 127.0.0.1:" + std::to_string(registry.Port());
  if (!rdap.Lookup()) {
    out.result = "error: " + UTF8Encode(rdap.LastErrorText());
  } else if (rdap.Record().Entities.empty() || rdap.Record().Entities[0].FullName != u"Demo Registrar Ltd" ||
             rdap.Record().Events.empty() || rdap.Record().Events[0].Date == 0) {
    out.result = "unexpected record for " + UTF8Encode(rdap.Record().LdhName);
  } else {
    out.ok = true;
    out.result = UTF8Encode(rdap.Record().LdhName) + ", registered " + IsoDate(rdap.Record().Events[0]) +
                 " through " + UTF8Encode(rdap.Record().Entities[0].FullName);
  }
  return out;
}

}  // namespace

std::vector<Args::OptionSpec> RdapLookupOptions() {
  std::vector<Args::OptionSpec> specs = {{"--server", "", true}, {"--bootstrap", "", true}, {"--json", "", false},
                                         {"--raw", "", false}};
  AppendOptions(specs, TlsOptions());
  AppendOptions(specs, DeadlineOptions());
  return specs;
}

const char* const kRdapLookupOptionsHelp =
    "  --server URL            ask this RDAP service (its base URL) instead of the one the\n"
    "                          bootstrap files name\n"
    "  --bootstrap PATH        a folder of bootstrap files (dns.json, ipv4.json, ipv6.json,\n"
    "                          asn.json) or one such file, in place of the built-in ones\n"
    "  --json                  print the parsed record as JSON\n"
    "  --raw                   print the registry's JSON answer as it came\n";

int RunRdapLookup(const Args& args, const std::string& query, const char* command, bool* noService) {
  if (args.Has("--json") && args.Has("--raw")) throw UsageError("--json and --raw exclude each other");
  TKtRdapClient rdap(nullptr);
  Configure(args, rdap);
  rdap.SetQuery(UTF8ToString(query));
  const std::string prefix = std::string("ktinet ") + command + ": ";
  if (!rdap.Lookup()) {
    if (noService && rdap.NoService()) {
      *noService = true;
      return kExitFailed;
    }
    std::cerr << prefix << Safe(rdap.LastErrorText()) << "\n";
    for (const auto& line : rdap.Error().Description) std::cerr << prefix << "  " << Safe(line) << "\n";
    if (args.Has("--json") && rdap.Error().HttpStatus != 0) {
      const TKtRdapError& e = rdap.Error();
      std::cout << JsonObject()
                       .Text("query", query)
                       .Raw("error", JsonObject()
                                         .Number("httpStatus", e.HttpStatus)
                                         .Number("errorCode", e.ErrorCode)
                                         .Text("title", e.Title)
                                         .Raw("description", TextArray(e.Description))
                                         .Str())
                       .Str()
                << "\n";
    }
    return kExitFailed;
  }
  if (args.Has("--raw")) {
    std::string bytes = rdap.RawAnswer();
    if (StdoutIsTerminal()) bytes = EscapeControls(bytes, LineBreaks::kKeep);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    if (!bytes.empty() && bytes.back() != '\n') std::fputc('\n', stdout);
  } else if (args.Has("--json")) {
    std::cout << RecordJson(query, rdap) << "\n";
  } else {
    std::cout << Readable(rdap);
  }
  std::cout.flush();
  return std::fflush(stdout) == 0 && std::cout.good() ? kExitOk : kExitFailed;
}

KTINET_COMMAND(Command{
    "rdap", "look up the registration of a domain, IP network or AS number over RDAP (TKtRdapClient)",
    std::string("Usage: ktinet rdap NAME|IP|CIDR|ASN [OPTIONS]\n"
                "       ktinet rdap --update-bootstrap [--bootstrap-url URL] [QUERY] [OPTIONS]\n\n"
                "Asks the registry that serves a domain name, an IPv4 or IPv6 address or CIDR block,\n"
                "or an AS number (AS64500 or 64500) for its registration record over HTTPS, and\n"
                "prints it one item per line: status, events as ISO dates, entities by role with\n"
                "their names and contacts, name servers, links and notices. The registry is found in\n"
                "IANA's bootstrap files: those fetched by --update-bootstrap into\n"
                "$XDG_CACHE_HOME/ktinet/rdap (~/.cache/ktinet/rdap) when present, else the copy built\n"
                "into the program. Redirects between registries are followed (at most 5, and never\n"
                "from https to http). An answer other than a record (404 \"not found\" and every\n"
                "other error) ends with exit status 1 and the registry's own error title and\n"
                "description on stderr.\n\n") +
        kRdapLookupOptionsHelp +
        "  --update-bootstrap      fetch fresh bootstrap files (from https://data.iana.org/rdap/)\n"
        "                          into the cache folder first; each is checked before it\n"
        "                          replaces the old one\n"
        "  --bootstrap-url URL     fetch them from this folder URL instead\n" +
        kTlsOptionsHelp + kDeadlineOptionsHelp,
    RdapOptions(), RunRdap});

KTINET_DEMO_STEP(DemoStep{86, "TKtRdapClient", DemoRdap});

}  // namespace ktinet::cli
