// Registration data over HTTPS (RDAP): who holds a domain, an IP network or an autonomous system
// number, asked of the registry that serves it. The registry is found in IANA's bootstrap files
// (a snapshot is built in; a folder or file of newer ones replaces it), the answer's JSON becomes
// the objects below, and a registry's error answer comes back as its own error object.
//
//   TKtRdapClient rdap(nullptr);
//   rdap.SetQuery(u"example.com");
//   if (rdap.Lookup()) ... rdap.Record().Events ...
//   else if (rdap.Error().HttpStatus == 404) ... rdap.Error().Title ...
//   else ... rdap.LastErrorText() ...
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/DateTime.h"
#include "services/KtRestCall.h"

namespace ktinet {

// Something that happened to an object: registration, expiration, last changed, transfer ...
struct TKtRdapEvent {
  String Action;
  String Actor;
  String DateText;     // as the server wrote it
  TDateTime Date = 0;  // the same moment in UTC; 0 when the text is no RFC 3339 date
};

struct TKtRdapLink {
  String Value, Rel, Href, Type, Title;
};

// A notice (about the service) or a remark (about one object).
struct TKtRdapNotice {
  String Title, Type;
  std::vector<String> Description;
  std::vector<TKtRdapLink> Links;
};

struct TKtRdapPublicId {
  String Type, Identifier;
};

// A person or organisation and its roles towards the object that names it (registrar,
// registrant, administrative, technical, abuse ...). Its contact card (jCard) is read for the
// full name, the organisation, e-mail addresses, telephone numbers and the postal address.
struct TKtRdapEntity {
  String Handle;
  std::vector<String> Roles;
  String Kind;  // individual, org, group ...
  String FullName;
  String Organization;
  std::vector<String> Emails;
  std::vector<String> Phones;
  String Address;  // the card's label, or its parts joined with ", "
  std::vector<String> Status;
  std::vector<TKtRdapPublicId> PublicIds;
  std::vector<TKtRdapEvent> Events;
  std::vector<TKtRdapLink> Links;
  std::vector<TKtRdapNotice> Remarks;
  String Port43;
  std::vector<TKtRdapEntity> Entities;  // the registrar's abuse contact and the like
};

struct TKtRdapNameserver {
  String Handle, LdhName, UnicodeName;
  std::vector<String> Status;
  std::vector<String> IPv4, IPv6;
};

// One answer: a domain, an IP network, an autonomous system (or an entity or name server asked
// for by handle). Members that do not apply to its class stay empty.
struct TKtRdapRecord {
  String ObjectClassName;  // "domain", "ip network", "autnum", "entity", "nameserver"
  String Handle, LdhName, UnicodeName;
  std::vector<String> Status;
  std::vector<TKtRdapEvent> Events;
  std::vector<TKtRdapEntity> Entities;
  std::vector<TKtRdapNameserver> Nameservers;
  bool HasSecureDNS = false;       // the answer says whether the delegation is signed
  bool DelegationSigned = false;
  std::vector<TKtRdapLink> Links;
  std::vector<TKtRdapNotice> Notices, Remarks;
  String Port43;
  // IP networks and autonomous systems
  String Name, Type, Country, ParentHandle;
  String StartAddress, EndAddress, IPVersion;  // "v4" or "v6"
  std::vector<String> Cidrs;                   // "192.0.2.0/24"
  Int64 StartAutnum = -1, EndAutnum = -1;      // -1: not given
};

// A registry's error answer: the HTTP status and the error object it sent (errorCode, title,
// description); the texts are empty when the answer held no such object.
struct TKtRdapError {
  int HttpStatus = 0;
  Int64 ErrorCode = 0;
  String Title;
  std::vector<String> Description;
};

enum class TKtRdapQueryKind { Domain, IPv4, IPv6, Autnum };

// A query in the form the registries take: a domain in its ASCII form (lower case, no final
// dot), an address or CIDR block, or an AS number.
struct TKtRdapQuery {
  TKtRdapQueryKind Kind = TKtRdapQueryKind::Domain;
  String Text;           // the normalised value: "example.com", "192.0.2.1", "2001:db8::", "64500"
  int PrefixLength = -1;  // for a CIDR block; -1 for a single address
  std::array<std::uint8_t, 16> Address{};  // IPv4 in the first 4 bytes
  std::uint32_t Autnum = 0;
  // The query's path below a service's base URL: "domain/example.com", "ip/192.0.2.0/24",
  // "autnum/64500".
  String Path() const;
};

// Reads "example.com", "bücher.example", "192.0.2.1", "192.0.2.0/24", "2001:db8::/32", "AS64500"
// or "64500". False with the reason in ErrorText for anything else (a name with characters that
// cannot stand in a path, a prefix length out of range ...).
bool ParseRdapQuery(const String& Text, TKtRdapQuery& Query, String& ErrorText);

// The service registries of RFC 9224 files: which base URL serves a query. Domains match their
// longest registered suffix label by label, addresses their longest covering prefix, AS numbers
// the range holding them. Each entry's https URL is preferred to its http one.
class TKtRdapBootstrap {
 public:
  enum class TKind { Unknown, Dns, IPv4, IPv6, Asn };
  // Adds the services of one bootstrap file. With Kind Unknown, each entry goes to the registry
  // its form shows (a label, an IPv4 or IPv6 prefix, an AS number or range). False, with the
  // reason in ErrorText and nothing added, when the text is no bootstrap file.
  bool Add(std::string_view Json, TKind Kind, String& ErrorText);
  // True once a file of that registry was added (even one that lists no service).
  bool Has(TKind Kind) const;
  // The base URL (ending in "/") that serves the query; empty when no service is known.
  String Find(const TKtRdapQuery& Query) const;
  // The registry a query is looked up in.
  static TKind KindOf(const TKtRdapQuery& Query);
  // The snapshot built into the library: the file of that name (dns.json, ipv4.json,
  // ipv6.json, asn.json), or empty.
  static std::string_view Snapshot(std::string_view FileName);

 private:
  struct TPrefix {
    std::array<std::uint8_t, 16> Address{};
    int Length = 0;
    size_t Service = 0;
  };
  struct TRange {
    std::uint32_t First = 0, Last = 0;
    size_t Service = 0;
  };
  std::vector<String> FServices;  // preferred base URL of each service
  std::vector<std::pair<String, size_t>> FLabels;
  std::vector<TPrefix> FIPv4, FIPv6;
  std::vector<TRange> FRanges;
  bool FHas[5] = {};
};

// Parses an RDAP answer into Record. False, with the reason in ErrorText, when the text is not
// a JSON object (or is nested deeper than kMaxRdapJsonDepth). Members of the wrong type are passed
// over; entities nested deeper than kMaxRdapEntityDepth are left out.
bool ParseRdapRecord(std::string_view Json, TKtRdapRecord& Record, String& ErrorText);
// Reads the error object of an error answer; HttpStatus is set in any case.
void ParseRdapError(std::string_view Json, int HttpStatus, TKtRdapError& Error);
constexpr int kMaxRdapJsonDepth = 64;
constexpr int kMaxRdapEntityDepth = 8;

// An RFC 3339 date-time ("2026-01-02T03:04:05Z", "...05.5+02:00") as a TDateTime in UTC. False for
// anything else.
bool ParseRdapDate(const String& Text, TDateTime& Value);

class TKtRdapClient : public TKtRestComponent {
  KTINET_PUBLISHED(TKtRdapClient)
 public:
  explicit TKtRdapClient(TComponent* AOwner);

  // What to look up: a domain name, an IPv4 or IPv6 address or CIDR block, or an AS number.
  const String& Query() const { return FQuery; }
  void SetQuery(const String& Value) { FQuery = Value; }
  // A base URL that serves every query, bypassing the bootstrap files (empty: use them).
  const String& Server() const { return FServer; }
  void SetServer(const String& Value) { FServer = Value; }
  // A folder holding bootstrap files (dns.json, ipv4.json, ipv6.json, asn.json) or one such file,
  // used instead of the built-in snapshot; a registry it lacks comes from the snapshot.
  const String& Bootstrap() const { return FBootstrap; }
  void SetBootstrap(const String& Value) { FBootstrap = Value; }
  // Where UpdateBootstrap fetches the files from (https://data.iana.org/rdap/).
  const String& BootstrapSource() const { return FBootstrapSource; }
  void SetBootstrapSource(const String& Value) { FBootstrapSource = Value; }
  // Redirects followed per look-up (registries send a query on to the one that holds it).
  int MaxRedirects() const { return FMaxRedirects; }
  void SetMaxRedirects(int Value) { FMaxRedirects = Value < 0 ? 0 : Value; }

  // Looks Query up. True with Record filled when the registry answered 200 with an RDAP object;
  // false otherwise, with LastErrorText naming the cause and, for an error answer, Error holding
  // the registry's status and error object.
  bool Lookup();
  // Fetches the four bootstrap files from BootstrapSource into Folder (made when missing). Each
  // file is checked before it replaces the one there; on failure the folder keeps what it had.
  bool UpdateBootstrap(const String& Folder);

  const TKtRdapRecord& Record() const { return FRecord; }
  const TKtRdapError& Error() const { return FError; }
  // The last answer's body as it came.
  const std::string& RawAnswer() const { return FRaw; }
  // The base URL chosen for the last look-up, and the URL that answered it (after redirects).
  const String& ServiceUrl() const { return FServiceUrl; }
  const String& AnswerUrl() const { return FAnswerUrl; }
  // The last look-up failed because no service is known for the query (the bootstrap files
  // list none), before anything was sent.
  bool NoService() const { return FNoService; }
  // The bootstrap the last look-up used.
  const TKtRdapBootstrap& BootstrapFiles() const { return FFiles; }

  static constexpr int kDefaultMaxRedirects = 5;

 protected:
  void InternalExecute() override;

 private:
  bool LoadBootstrap(TKtRdapBootstrap::TKind Kind);
  void DoLookup();
  void DoUpdate();
  bool Fetch(const String& Url, TKtRestAnswer& Answer);

  String FQuery, FServer, FBootstrap;
  String FBootstrapSource = u"https://data.iana.org/rdap/";
  int FMaxRedirects = kDefaultMaxRedirects;
  TKtRdapRecord FRecord;
  TKtRdapError FError;
  std::string FRaw;
  String FServiceUrl, FAnswerUrl;
  bool FNoService = false;
  TKtRdapBootstrap FFiles;
  bool FUpdating = false;
  String FUpdateFolder;
};

}  // namespace ktinet
