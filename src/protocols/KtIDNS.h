// TKtIDNSResolver: a DNS query (RFC 1035) over TCP to a name server, the answer returned raw;
// and a decoder of such answers.
//
// One framed query (two-byte length, then the message) goes out per selected record type, all
// on the one connection; the answers are read as soon as they are complete and returned in the
// order of the queries, each with its two-byte length, as the server sent them. A zone transfer
// (AXFR) is read over as many messages as the server sends, up to the SOA record that closes
// it. A message that answers none of the queries is refused, and so is one that is no answer.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/KtInBase.h"
#include "rtl/Exceptions.h"
#include "rtl/TypInfo.h"

namespace ktinet {

enum TKtIDNSRequest {
  irAll,              // 255 *
  irA,                // 1 A
  irNS,               // 2 NS
  irName,             // 5 CNAME
  irSOA,              // 6 SOA
  irMB,               // 7 MB
  irMG,               // 8 MG
  irMR,               // 9 MR
  irRR,               // 10 NULL
  irWKS,              // 11 WKS
  irPTR,              // 12 PTR
  irHostInfo,         // 13 HINFO
  irMailInfo,         // 14 MINFO
  irMX,               // 15 MX
  irText,             // 16 TXT
  irTransferRequest,  // 252 AXFR
  irMailB             // 253 MAILB
};
constexpr int KtIDNSRequestCount = irMailB + 1;

// A set of TKtIDNSRequest (32 bits, one per element).
class TKtIDNSRequests {
 public:
  constexpr TKtIDNSRequests() = default;
  constexpr TKtIDNSRequests(std::initializer_list<TKtIDNSRequest> Items) {
    for (TKtIDNSRequest r : Items) FBits |= Bit(r);
  }
  constexpr bool Contains(TKtIDNSRequest R) const { return (FBits & Bit(R)) != 0; }
  constexpr TKtIDNSRequests& Include(TKtIDNSRequest R) {
    FBits |= Bit(R);
    return *this;
  }
  constexpr TKtIDNSRequests& Exclude(TKtIDNSRequest R) {
    FBits &= ~Bit(R);
    return *this;
  }
  constexpr bool Empty() const { return FBits == 0; }
  int Count() const { return __builtin_popcount(FBits); }
  constexpr std::uint32_t Bits() const { return FBits; }
  constexpr bool operator==(const TKtIDNSRequests&) const = default;

 private:
  static constexpr std::uint32_t Bit(TKtIDNSRequest R) { return std::uint32_t{1} << static_cast<unsigned>(R); }
  std::uint32_t FBits = 0;
};

// The QTYPE sent for an element (255 for irAll, 1 for irA ...).
int DNSRequestType(TKtIDNSRequest Request);
// The element asked for by a type mnemonic ("A", "mx", "CNAME", "ANY" or "*" ...); false when
// no element asks for it.
bool DNSRequestFromText(const String& Text, TKtIDNSRequest& Request);

class TKtIDNSResolver : public TKtInetBase {
  KTINET_PUBLISHED(TKtIDNSResolver)
 public:
  explicit TKtIDNSResolver(TComponent* AOwner);

  const TKtIDNSRequests& Requests() const { return FRequests; }
  void SetRequests(const TKtIDNSRequests& Value) { FRequests = Value; }
  // The name to resolve; for irPTR the dotted IPv4 address in its usual order.
  const String& Domain() const { return FDomain; }
  void SetDomain(const String& Value) { FDomain = Value; }

  // The framed queries, one per selected type in the enumeration's order, each with QDCOUNT 1
  // and the identifier 0x12, index. Empty when Requests or Domain is empty or no server is set.
  String GetQuery() override;

 protected:
  // Sends the queries (no header block: a name server would read it as the length of another
  // message) and reads until every query has its answer or the server closes.
  String InternalExecute() override;

 private:
  TKtIDNSRequests FRequests;
  String FDomain;
};

// ---- Reading answers -------------------------------------------------------------------------

// A query as the answer reader knows it: its identifier and whether it asks for a zone transfer.
struct TDNSQueryInfo {
  int ID = 0;
  bool Transfer = false;
};

// Collects the framed messages of an answer over TCP as the reads bring them, checking that each
// answers one of the queries: a message with an identifier no query carries, one whose QR bit
// says it is a query, one shorter than a header and a second answer to an ordinary query raise
// Exception. A zone transfer's messages are decoded as they come (a malformed one raises
// EDNSDecodeError); the transfer is complete at its closing SOA record, or with its first
// message when that is an error answer or holds no records.
class TDNSAnswerReader {
 public:
  explicit TDNSAnswerReader(std::vector<TDNSQueryInfo> Queries);
  // Takes the next bytes; true once every query has its whole answer.
  bool Feed(const char* Data, size_t Count);
  bool Complete() const { return FOpen == 0; }
  // Bytes of a message that has not fully arrived.
  size_t Pending() const { return FPending.size(); }
  // The messages with their length frames, in the order of the queries (a transfer's in the
  // order they came); an unfinished message follows when Complete is false.
  std::string Result() const;

 private:
  struct TQueryState {
    TDNSQueryInfo Query;
    std::string Frames;
    int Messages = 0;
    bool Done = false;
  };
  void TakeMessage(const char* Message, size_t Size);

  std::vector<TQueryState> FQueries;
  size_t FOpen = 0;
  std::string FPending;
};

// ---- Decoding answers ----------------------------------------------------------------------

// A message that cannot be decoded; the message says what is wrong and at which byte.
class EDNSDecodeError : public EConvertError {
 public:
  using EConvertError::EConvertError;
};

struct TDNSQuestion {
  String Name;  // presentation form with the final dot ("example.test.")
  int Type = 0;
  int Class = 0;
};

struct TDNSResourceRecord {
  String Name;
  int Type = 0;
  int Class = 0;
  std::uint32_t TTL = 0;
  std::string RData;  // the data as sent (names inside it may be compressed)
  String Data;        // the data in presentation form ("192.0.2.1", "10 mail.example.test.")
};

struct TDNSMessage {
  int ID = 0;
  int Flags = 0;  // the 16 flag bits as sent
  bool QR() const { return (Flags & 0x8000) != 0; }
  int Opcode() const { return (Flags >> 11) & 0xF; }
  bool AA() const { return (Flags & 0x0400) != 0; }
  bool TC() const { return (Flags & 0x0200) != 0; }
  bool RD() const { return (Flags & 0x0100) != 0; }
  bool RA() const { return (Flags & 0x0080) != 0; }
  int RCode() const { return Flags & 0xF; }
  std::vector<TDNSQuestion> Questions;
  std::vector<TDNSResourceRecord> Answers, Authority, Additional;
};

// Decodes one DNS message (no length frame). Raises EDNSDecodeError when it is malformed:
// truncated, a bad label or compression pointer, record data that does not fit its type, or
// bytes after the last record.
TDNSMessage DecodeDNSMessage(const std::string& Message);
// Decodes the framed messages of an answer as Execute returns it (one character per byte).
// Raises EDNSDecodeError as above, and when the answer ends inside a frame.
std::vector<TDNSMessage> DecodeDNSAnswer(const String& Answer);

// "A", "MX", "AAAA" ...; "TYPE123" for types without a mnemonic.
String DNSTypeName(int Type);
// "IN", "CH", "HS", "ANY"; "CLASS123" otherwise.
String DNSClassName(int Class);
// "NOERROR", "FORMERR", "SERVFAIL", "NXDOMAIN", "NOTIMP", "REFUSED" ...; "RCODE12" otherwise.
String DNSRCodeName(int RCode);
// One record as a zone file line: name, TTL, class, type and data joined by Separator.
String DNSRecordToText(const TDNSResourceRecord& Record, const String& Separator = u" ");

}  // namespace ktinet
