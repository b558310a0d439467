// TKtDigResolver: a stub resolver that asks name servers the way dig does (UDP first with a
// retry, EDNS(0), TCP when the answer is truncated), and a decoder that presents every record
// in zone-file form. Not a palette component: the suite's own resolver (TKtIDNSResolver) keeps
// its TCP-only behaviour; this one serves people who look names up.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace ktinet {

// Why a look-up failed: bad input of the caller, no answer in time, a refused connection, a
// malformed or mismatched answer.
class EDigError : public std::runtime_error {
 public:
  enum Kind { Usage, TimedOut, Refused, Network, Malformed, Mismatch };
  EDigError(Kind AKind, const std::string& Message) : std::runtime_error(Message), FKind(AKind) {}
  Kind ErrorKind() const { return FKind; }

 private:
  Kind FKind;
};

struct TDigQuestion {
  std::string Name;  // presentation form, ending in "."
  int Type = 0;
  int Class = 1;
};

struct TDigRecord {
  std::string Name;
  int Type = 0;
  int Class = 1;  // for OPT: the sender's UDP payload size
  std::uint32_t TTL = 0;  // for OPT: extended rcode, version and flags
  std::string RData;  // the record data as sent
  std::string Text;   // the record data in presentation form
};

struct TDigMessage {
  int ID = 0;
  int Flags = 0;  // the 16 flag bits as sent
  bool QR() const { return (Flags & 0x8000) != 0; }
  int Opcode() const { return (Flags >> 11) & 0xF; }
  bool TC() const { return (Flags & 0x0200) != 0; }
  // The full response code: the header's four bits with the OPT record's upper eight.
  int RCode() const;
  std::vector<TDigQuestion> Questions;
  std::vector<TDigRecord> Answers, Authority, Additional;
  // The OPT record of the additional section, if any (it stays in Additional too).
  const TDigRecord* Opt() const;
  // The flag mnemonics dig prints: "qr aa rd ra".
  std::string FlagText() const;
};

// Mnemonic of a type ("A", "HTTPS" ...), or "TYPE123" for one without a mnemonic.
std::string DigTypeName(int Type);
// The type of a mnemonic (any case) or of "TYPEnnn"; -1 for anything else.
int DigTypeFromText(const std::string& Text);
// "IN", "CH", "HS", "NONE", "ANY" or "CLASSnnn".
std::string DigClassName(int Class);
// "NOERROR", "SERVFAIL", "NXDOMAIN", "BADVERS" ... or "RCODEnn".
std::string DigRCodeName(int RCode);

// A name in wire form, checked: labels of 1 to 63 bytes, at most 253 characters in text form
// (255 bytes on the wire), "." alone is the root, a final dot is optional. "\." and "\DDD"
// escapes are understood. Raises EDigError(Usage) otherwise.
std::string DigEncodeName(const std::string& Name);
// The reverse-lookup name of an IPv4 or IPv6 address ("4.3.2.1.in-addr.arpa.",
// "...ip6.arpa."); raises EDigError(Usage) when the text is not an address.
std::string DigReverseName(const std::string& Address);

// A query message: recursion desired, one question of class IN, and an OPT record advertising
// UdpSize when UdpSize is not 0.
std::string DigBuildQuery(int ID, const std::string& Name, int Type, int UdpSize);
// An IXFR query (RFC 1995): one question, and in the authority section the zone's SOA record
// with the serial of the copy the asker holds (servers read nothing else of it).
std::string DigBuildIxfrQuery(int ID, const std::string& Zone, std::uint32_t Serial);
// Decodes one message (no TCP length frame). Raises EDigError(Malformed) when it is truncated,
// holds a bad name or compression pointer, record data that does not fit its type, or bytes
// after the last record.
TDigMessage DigDecodeMessage(const std::string& Wire);
// One record as dig prints it in the answer section: name, TTL, class, type, data (tabs).
std::string DigRecordLine(const TDigRecord& Record);

// Name servers from a resolv.conf-style file ("nameserver ADDR" lines); empty when none.
std::vector<std::string> DigServersFromResolvConf(const std::string& Path);

class TKtDigResolver {
 public:
  TKtDigResolver();

  // Servers asked in turn until one answers; the default comes from /etc/resolv.conf (or the
  // file named by KTINET_RESOLV_CONF).
  const std::vector<std::string>& Servers() const { return FServers; }
  void SetServers(const std::vector<std::string>& Value) { FServers = Value; }
  int Port() const { return FPort; }
  void SetPort(int Value) { FPort = Value; }
  // Every wait (one UDP try, a TCP connect, a TCP read) ends after this many milliseconds.
  int TimeoutMs() const { return FTimeoutMs; }
  void SetTimeoutMs(int Value) { FTimeoutMs = Value; }
  // TCP only, never UDP.
  bool ForceTcp() const { return FForceTcp; }
  void SetForceTcp(bool Value) { FForceTcp = Value; }
  // UDP tries per server (the first and its retries).
  int UdpTries() const { return FUdpTries; }
  void SetUdpTries(int Value) { FUdpTries = Value; }
  // A TCP connect ends after this many milliseconds; 0 means TimeoutMs.
  int ConnectTimeoutMs() const { return FConnectTimeoutMs; }
  void SetConnectTimeoutMs(int Value) { FConnectTimeoutMs = Value; }
  // The whole of one Query, every server and retry included, ends after this many
  // milliseconds; 0 sets no such limit.
  int MaxTimeMs() const { return FMaxTimeMs; }
  void SetMaxTimeMs(int Value) { FMaxTimeMs = Value; }

  // Asks for Name (text form) and Type; returns the first answer that matches the question
  // and is not SERVFAIL or REFUSED (or the last such one when every server gave it). AXFR and
  // IXFR are Transfer's (EDigError(Usage) here). Raises
  // EDigError with the cause of the last server's failure otherwise. A server that answers
  // FORMERR or NOTIMP to the EDNS query without an OPT record of its own does not speak EDNS:
  // it is asked once more without one.
  TDigMessage Query(const std::string& Name, int Type);

  // A zone transfer over TCP, from the first server that gives one: AXFR (Type 252) for the
  // whole zone, or IXFR (251) for the changes since the version Serial. The messages come back
  // in the order they came, up to the one that closes the transfer: for AXFR the zone's SOA
  // record again; for IXFR the zone's current SOA after the last difference sequence (or alone,
  // when Serial is not older than it). An error answer in the first message is the answer.
  // Raises EDigError(Malformed) for a transfer that does not begin with the zone's SOA, an
  // inner SOA out of sequence, records after the close, an error answer after the first
  // message or more than MaxTransferBytes; EDigError(Network) when the server closes before
  // the end.
  std::vector<TDigMessage> Transfer(const std::string& Zone, int Type, std::uint32_t Serial = 0);
  // The most a Transfer takes in, frames included; 0 sets no limit.
  long long MaxTransferBytes() const { return FMaxTransferBytes; }
  void SetMaxTransferBytes(long long Value) { FMaxTransferBytes = Value; }

  // The server that gave the answer of the last Query or Transfer, and whether it came over TCP.
  const std::string& AnsweredBy() const { return FAnsweredBy; }
  bool AnsweredOverTcp() const { return FAnsweredOverTcp; }
  // The answer of the last Query as it came: the datagram, or over TCP the message with its
  // two-byte length frame; for a Transfer every message with its frame.
  const std::string& AnswerWire() const { return FAnswerWire; }
  // Whether the last Query's answer came to a query with an OPT record.
  bool AnsweredWithEdns() const { return FAnsweredWithEdns; }

 private:
  TDigMessage AskUdp(const std::string& Server, const std::string& Wire, const std::string& QName, int Type);
  void StartJob();
  std::vector<TDigMessage> TransferFrom(const std::string& Server, const std::string& Zone, const std::string& QName,
                                        int Type, std::uint32_t Serial);
  TDigMessage AskTcp(const std::string& Server, const std::string& Wire, const std::string& QName, int Type);

  std::vector<std::string> FServers;
  int FPort = 53;
  int FTimeoutMs = 5000;
  bool FForceTcp = false;
  int FUdpTries = 2;
  int FConnectTimeoutMs = 0;
  int FMaxTimeMs = 0;
  long long FMaxTransferBytes = 256LL * 1024 * 1024;
  std::string FAnsweredBy;
  bool FAnsweredOverTcp = false;
  bool FAnsweredWithEdns = false;
  std::string FAnswerWire;
  std::string FLastWire;  // the bytes of the answer AskUdp or AskTcp returned last
  long long FJobDeadlineNs = 0;  // steady-clock nanoseconds; 0 when MaxTimeMs sets no limit
};

}  // namespace ktinet
