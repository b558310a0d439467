#include "protocols/KtIDNS.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>

#include "core/KtInCnst.h"
#include "protocols/DnsWire.h"
#include "rtl/SysUtils.h"

namespace ktinet {

namespace {

struct TRequestType {
  TKtIDNSRequest Request;
  int QType;
};

// In the enumeration's order: the order in which questions are sent.
constexpr TRequestType kRequestTypes[KtIDNSRequestCount] = {
    {irAll, 255}, {irA, 1},        {irNS, 2},          {irName, 5},     {irSOA, 6},         {irMB, 7},
    {irMG, 8},    {irMR, 9},       {irRR, 10},         {irWKS, 11},     {irPTR, 12},        {irHostInfo, 13},
    {irMailInfo, 14}, {irMX, 15},  {irText, 16},       {irTransferRequest, 252}, {irMailB, 253}};

struct TTypeName {
  int Type;
  const char16_t* Name;
};

constexpr TTypeName kTypeNames[] = {
    {1, u"A"},       {2, u"NS"},      {3, u"MD"},     {4, u"MF"},     {5, u"CNAME"},   {6, u"SOA"},
    {7, u"MB"},      {8, u"MG"},      {9, u"MR"},     {10, u"NULL"},  {11, u"WKS"},    {12, u"PTR"},
    {13, u"HINFO"},  {14, u"MINFO"},  {15, u"MX"},    {16, u"TXT"},   {17, u"RP"},     {18, u"AFSDB"},
    {24, u"SIG"},    {25, u"KEY"},    {28, u"AAAA"},  {29, u"LOC"},   {33, u"SRV"},    {35, u"NAPTR"},
    {39, u"DNAME"},  {41, u"OPT"},    {43, u"DS"},    {46, u"RRSIG"}, {47, u"NSEC"},   {48, u"DNSKEY"},
    {50, u"NSEC3"},  {52, u"TLSA"},   {64, u"SVCB"},  {65, u"HTTPS"}, {99, u"SPF"},    {251, u"IXFR"},
    {252, u"AXFR"},  {253, u"MAILB"}, {254, u"MAILA"}, {255, u"ANY"}, {256, u"URI"},   {257, u"CAA"}};

constexpr size_t kMaxLabel = 63;
constexpr size_t kMaxName = 253;  // in text form without the final dot: 255 bytes on the wire

// The name's labels as they go on the wire: split at every dot; a final dot changes nothing and
// "." alone is the root (no labels). An empty label elsewhere ("a..b", ".a"), a label longer than
// 63 bytes or a name longer than 253 cannot be asked for: a server would read the length byte
// of the broken label as the end of the name and the rest as the query type.
std::vector<String> DomainLabels(const String& domain) {
  CheckRequestText(domain, u"The domain name");
  std::vector<String> labels;
  if (domain == u".") return labels;
  String label;
  for (size_t i = 0; i <= domain.size(); ++i) {
    if (i < domain.size() && domain[i] != u'.') {
      label += domain[i];
      continue;
    }
    if (i == domain.size() && !labels.empty() && label.empty()) break;  // the final dot
    if (label.empty()) throw EConvertError(u"The domain name " + domain + u" has an empty label");
    if (label.size() > kMaxLabel)
      throw EConvertError(u"The domain name " + domain + u" has a label longer than 63 bytes: " + label);
    labels.push_back(std::move(label));
    label.clear();
  }
  return labels;
}

// Raises EConvertError when the labels make a name longer than 253 characters.
void CheckNameLength(const std::vector<String>& labels, const String& domain) {
  size_t length = 0;
  for (const String& l : labels) length += l.size() + 1;
  if (length > kMaxName + 1)
    throw EConvertError(u"The domain name " + domain + u" is longer than 253 characters");
}

void PutLabel(String& out, const String& label) {
  out += static_cast<Char>(label.size() & 0xFF);
  out += label;
}

// ---- decoding --------------------------------------------------------------------------------

[[noreturn]] void Malformed(const std::string& what) { throw EDNSDecodeError(UTF8ToString("Malformed DNS message: " + what)); }

std::string At(size_t pos) { return " at byte " + std::to_string(pos); }

class TReader {
 public:
  explicit TReader(const std::string& m) : Msg(m) {}
  const std::string& Msg;
  size_t Pos = 0;

  void Need(size_t n, const char* what) const {
    if (Pos > Msg.size() || Msg.size() - Pos < n)
      Malformed(std::string(what) + " runs past the end of the message" + At(Pos));
  }
  unsigned U8(const char* what) {
    Need(1, what);
    return static_cast<unsigned char>(Msg[Pos++]);
  }
  unsigned U16(const char* what) {
    Need(2, what);
    unsigned v = (static_cast<unsigned char>(Msg[Pos]) << 8) | static_cast<unsigned char>(Msg[Pos + 1]);
    Pos += 2;
    return v;
  }
  std::uint32_t U32(const char* what) {
    Need(4, what);
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(Msg[Pos++]);
    return v;
  }
};

// A name at r.Pos, following compression pointers; r.Pos ends after the name's bytes in place.
String ReadName(TReader& r) {
  try {
    return UTF8ToString(DnsReadName(r.Msg, r.Pos));
  } catch (const EDnsNameError& e) {
    Malformed(e.what());
  }
}

// A <character-string>: quoted, with " and \ escaped and unprintable bytes as \DDD.
String ReadCharacterString(TReader& r) {
  unsigned len = r.U8("text length");
  r.Need(len, "text");
  String out = u"\"";
  for (size_t i = 0; i < len; ++i) {
    auto c = static_cast<unsigned char>(r.Msg[r.Pos + i]);
    if (c == '"' || c == '\\') {
      out += u'\\';
      out += static_cast<Char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<Char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03u", c);
      out += UTF8ToString(buf);
    }
  }
  r.Pos += len;
  return out + u"\"";
}

String HexText(const std::string& bytes) {
  static const char* kDigits = "0123456789abcdef";
  String out;
  for (unsigned char c : bytes) {
    out += static_cast<Char>(kDigits[c >> 4]);
    out += static_cast<Char>(kDigits[c & 0xF]);
  }
  return out;
}

// The record data from r.Pos to end in presentation form; must use exactly those bytes.
String DecodeRData(TReader& r, int type, size_t end) {
  const size_t start = r.Pos;
  const size_t length = end - start;
  String out;
  auto name = [&] {
    String n = ReadName(r);
    if (r.Pos > end) Malformed("name runs past its record's data" + At(start));
    return n;
  };
  auto u16 = [&](const char* what) {
    if (end - r.Pos < 2) Malformed(std::string(what) + " runs past its record's data" + At(r.Pos));
    return r.U16(what);
  };
  auto u32 = [&](const char* what) {
    if (end - r.Pos < 4) Malformed(std::string(what) + " runs past its record's data" + At(r.Pos));
    return r.U32(what);
  };
  switch (type) {
    case 1: {  // A
      if (length != 4) Malformed("A record with " + std::to_string(length) + " bytes of data" + At(start));
      char buf[INET_ADDRSTRLEN];
      ::inet_ntop(AF_INET, r.Msg.data() + start, buf, sizeof buf);
      out = UTF8ToString(buf);
      r.Pos = end;
      break;
    }
    case 28: {  // AAAA
      if (length != 16) Malformed("AAAA record with " + std::to_string(length) + " bytes of data" + At(start));
      char buf[INET6_ADDRSTRLEN];
      ::inet_ntop(AF_INET6, r.Msg.data() + start, buf, sizeof buf);
      out = UTF8ToString(buf);
      r.Pos = end;
      break;
    }
    case 2: case 5: case 7: case 8: case 9: case 12:  // NS CNAME MB MG MR PTR
      out = name();
      break;
    case 6: {  // SOA
      String mname = name();
      String rname = name();
      out = mname + u" " + rname;
      const char* fields[] = {"SOA serial", "SOA refresh", "SOA retry", "SOA expire", "SOA minimum"};
      for (const char* f : fields) out += u" " + UIntToStr(u32(f));
      break;
    }
    case 14: {  // MINFO
      String rmailbx = name();
      out = rmailbx + u" " + name();
      break;
    }
    case 15: {  // MX
      unsigned preference = u16("MX preference");
      out = IntToStr(preference) + u" " + name();
      break;
    }
    case 13:    // HINFO
    case 16: {  // TXT
      int count = 0;
      while (r.Pos < end) {
        String s = ReadCharacterString(r);
        if (r.Pos > end) Malformed("text runs past its record's data" + At(start));
        if (count++) out += u' ';
        out += s;
      }
      if (type == 13 && count != 2) Malformed("HINFO record without its two texts" + At(start));
      if (count == 0) Malformed("TXT record without text" + At(start));
      break;
    }
    default:  // the generic form for types without a presentation of their own
      out = u"\\# " + IntToStr(static_cast<long long>(length));
      if (length) out += u" " + HexText(r.Msg.substr(start, length));
      r.Pos = end;
      break;
  }
  if (r.Pos != end)
    Malformed(std::to_string(end - r.Pos) + " bytes left over in the data of a " + UTF8Encode(DNSTypeName(type)) +
              " record" + At(start));
  return out;
}

TDNSResourceRecord ReadRecord(TReader& r) {
  TDNSResourceRecord rr;
  rr.Name = ReadName(r);
  rr.Type = static_cast<int>(r.U16("record type"));
  rr.Class = static_cast<int>(r.U16("record class"));
  rr.TTL = r.U32("record TTL");
  unsigned length = r.U16("record data length");
  r.Need(length, "record data");
  const size_t end = r.Pos + length;
  rr.RData = r.Msg.substr(r.Pos, length);
  rr.Data = DecodeRData(r, rr.Type, end);
  return rr;
}

}  // namespace

// ---- requests --------------------------------------------------------------------------------

int DNSRequestType(TKtIDNSRequest Request) {
  for (const TRequestType& t : kRequestTypes)
    if (t.Request == Request) return t.QType;
  return 0;
}

bool DNSRequestFromText(const String& Text, TKtIDNSRequest& Request) {
  String upper = UpperCase(Trim(Text));
  if (upper == u"*") upper = u"ANY";
  for (const TRequestType& t : kRequestTypes) {
    if (DNSTypeName(t.QType) == upper) {
      Request = t.Request;
      return true;
    }
  }
  return false;
}

// ---- TKtIDNSResolver -------------------------------------------------------------------------

TKtIDNSResolver::TKtIDNSResolver(TComponent* AOwner) : TKtInetBase(AOwner) { SetPort(53); }

String TKtIDNSResolver::GetQuery() {
  if (FRequests.Empty() || FDomain.empty() || (Host().empty() && Address().empty())) return String();
  std::vector<String> labels = DomainLabels(FDomain);
  String result;
  int index = 0;
  for (const TRequestType& t : kRequestTypes) {
    if (!FRequests.Contains(t.Request)) continue;
    // Servers answer only one question per message, so every type is a query of its own,
    // told apart by the second byte of its identifier.
    String message;
    message += static_cast<Char>(0x12);
    message += static_cast<Char>(index & 0xFF);
    const Char fixed[] = {0x01, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0};  // flags RD; QDCOUNT 1
    message.append(fixed, std::size(fixed));
    std::vector<String> name = labels;
    if (t.Request == irPTR) {
      std::reverse(name.begin(), name.end());
      name.insert(name.end(), {u"in-addr", u"arpa"});
    }
    CheckNameLength(name, FDomain);
    for (const String& label : name) PutLabel(message, label);
    message += Char(0);
    message += static_cast<Char>(t.QType >> 8);
    message += static_cast<Char>(t.QType & 0xFF);
    message += Char(0);
    message += Char(1);  // class IN
    result += static_cast<Char>((message.size() >> 8) & 0xFF);
    result += static_cast<Char>(message.size() & 0xFF);
    result += message;
    ++index;
  }
  return result;
}

String TKtIDNSResolver::InternalExecute() {
  String query = GetQuery();
  // Nothing asked: a name server never speaks first, so there is nothing to wait for.
  if (query.empty()) return String();
  if (SendToSocket(query) <= 0) return u"No answer from server";

  std::vector<TDNSQueryInfo> queries;
  for (const TRequestType& t : kRequestTypes)
    if (FRequests.Contains(t.Request))
      queries.push_back({0x1200 | static_cast<int>(queries.size() & 0xFF), t.Request == irTransferRequest});
  TDNSAnswerReader reader(std::move(queries));
  FAnswerComplete = false;
  // A proxy in the way may refuse in HTTP; binary answers are never read for a status, since
  // their bytes could spell one by chance.
  std::string head;
  bool headChecked = false;
  Int64 total = 0;
  std::vector<char> buffer(16386);
  while (!reader.Complete()) {
    int n = ReceiveFromSocket(buffer.data(), static_cast<int>(buffer.size()));
    if (n <= 0) break;
    total += n;
    CheckAnswerSize(total);
    if (!headChecked) {
      head.append(buffer.data(), std::min<size_t>(static_cast<size_t>(n), 512));
      if (head.compare(0, 5, std::string("HTTP/"), 0, std::min<size_t>(head.size(), 5)) != 0) {
        headChecked = true;
      } else if (head.size() >= 512 || head.find_first_of("\r\n") != std::string::npos) {
        headChecked = true;
        CheckAnswerStatus(StatusOfFirstLine(head.substr(0, head.find_first_of("\r\n"))));
      }
    }
    reader.Feed(buffer.data(), static_cast<size_t>(n));
  }
  // What follows the last answer belongs to nothing that was asked.
  if (reader.Complete() && reader.Pending() > 0) Disconnect();
  FAnswerComplete = reader.Complete() || !FConnected;
  return BytesToString(reader.Result());
}

// ---- TDNSAnswerReader ------------------------------------------------------------------------

TDNSAnswerReader::TDNSAnswerReader(std::vector<TDNSQueryInfo> Queries) {
  for (const TDNSQueryInfo& q : Queries) FQueries.push_back({q, std::string(), 0, false});
  FOpen = FQueries.size();
}

bool TDNSAnswerReader::Feed(const char* Data, size_t Count) {
  if (Complete()) return true;
  FPending.append(Data, Count);
  size_t at = 0;
  while (!Complete() && FPending.size() - at >= 2) {
    size_t length = (static_cast<unsigned char>(FPending[at]) << 8) | static_cast<unsigned char>(FPending[at + 1]);
    if (FPending.size() - at - 2 < length) break;
    TakeMessage(FPending.data() + at, length + 2);
    at += length + 2;
  }
  FPending.erase(0, at);
  return Complete();
}

void TDNSAnswerReader::TakeMessage(const char* Frame, size_t Size) {
  const char* message = Frame + 2;
  const size_t size = Size - 2;
  if (size < 12)
    throw Exception(u"The server sent a DNS message of " + IntToStr(static_cast<long long>(size)) +
                    u" bytes, shorter than the 12-byte header");
  const int id = (static_cast<unsigned char>(message[0]) << 8) | static_cast<unsigned char>(message[1]);
  const bool qr = (static_cast<unsigned char>(message[2]) & 0x80) != 0;
  const String idText = u"0x" + IntToHex(id, 4);
  TQueryState* q = nullptr;
  for (TQueryState& s : FQueries)
    if (s.Query.ID == id) q = &s;
  if (!q) throw Exception(u"The server sent a DNS message with the identifier " + idText + u", which no query carries");
  if (!qr) throw Exception(u"The server sent a query (QR bit 0) with the identifier " + idText + u", not an answer");
  if (q->Done) throw Exception(u"The server answered the query with the identifier " + idText + u" more than once");
  q->Frames.append(Frame, Size);
  ++q->Messages;
  bool done = true;
  if (q->Query.Transfer) {
    TDNSMessage m = DecodeDNSMessage(std::string(message, size));
    const bool first = q->Messages == 1;
    if (m.RCode() != 0) {
      if (!first)
        throw Exception(u"The server broke off the zone transfer with " + DNSRCodeName(m.RCode()));
    } else if (first && m.Answers.empty()) {
      // Nothing to transfer: the answer stands as it is.
    } else {
      size_t from = 0;
      if (first) {
        if (m.Answers[0].Type != 6) throw Exception(u"The zone transfer does not begin with an SOA record");
        from = 1;
      }
      done = false;
      // The zone's SOA record opens the transfer and closes it.
      for (size_t i = from; i < m.Answers.size() && !done; ++i) done = m.Answers[i].Type == 6;
    }
  }
  if (done) {
    q->Done = true;
    --FOpen;
  }
}

std::string TDNSAnswerReader::Result() const {
  std::string result;
  for (const TQueryState& q : FQueries) result += q.Frames;
  if (!Complete()) result += FPending;
  return result;
}

// ---- decoding --------------------------------------------------------------------------------

TDNSMessage DecodeDNSMessage(const std::string& Message) {
  TReader r(Message);
  if (Message.size() < 12)
    Malformed("the header needs 12 bytes, the message has " + std::to_string(Message.size()));
  TDNSMessage m;
  m.ID = static_cast<int>(r.U16("identifier"));
  m.Flags = static_cast<int>(r.U16("flags"));
  unsigned qd = r.U16("question count"), an = r.U16("answer count"), ns = r.U16("authority count"),
           ar = r.U16("additional count");
  for (unsigned i = 0; i < qd; ++i) {
    TDNSQuestion q;
    q.Name = ReadName(r);
    q.Type = static_cast<int>(r.U16("question type"));
    q.Class = static_cast<int>(r.U16("question class"));
    m.Questions.push_back(std::move(q));
  }
  for (unsigned i = 0; i < an; ++i) m.Answers.push_back(ReadRecord(r));
  for (unsigned i = 0; i < ns; ++i) m.Authority.push_back(ReadRecord(r));
  for (unsigned i = 0; i < ar; ++i) m.Additional.push_back(ReadRecord(r));
  if (r.Pos != Message.size())
    Malformed(std::to_string(Message.size() - r.Pos) + " bytes after the last record" + At(r.Pos));
  return m;
}

std::vector<TDNSMessage> DecodeDNSAnswer(const String& Answer) {
  for (Char c : Answer)
    if (c > 0xFF) throw EDNSDecodeError(u"Malformed DNS answer: a character above 255 is no byte");
  std::string bytes = StringToBytes(Answer);
  std::vector<TDNSMessage> result;
  size_t pos = 0;
  while (pos < bytes.size()) {
    if (bytes.size() - pos < 2)
      throw EDNSDecodeError(UTF8ToString("Malformed DNS answer: it ends inside a length frame" + At(pos)));
    size_t length = (static_cast<unsigned char>(bytes[pos]) << 8) | static_cast<unsigned char>(bytes[pos + 1]);
    if (bytes.size() - pos - 2 < length)
      throw EDNSDecodeError(UTF8ToString("Malformed DNS answer: it ends inside a message of " +
                                         std::to_string(length) + " bytes, after " +
                                         std::to_string(bytes.size() - pos - 2) + At(pos)));
    result.push_back(DecodeDNSMessage(bytes.substr(pos + 2, length)));
    pos += 2 + length;
  }
  return result;
}

String DNSTypeName(int Type) {
  for (const TTypeName& t : kTypeNames)
    if (t.Type == Type) return t.Name;
  return u"TYPE" + IntToStr(Type);
}

String DNSClassName(int Class) {
  switch (Class) {
    case 1: return u"IN";
    case 3: return u"CH";
    case 4: return u"HS";
    case 254: return u"NONE";
    case 255: return u"ANY";
    default: return u"CLASS" + IntToStr(Class);
  }
}

String DNSRCodeName(int RCode) {
  static const char16_t* const kNames[] = {u"NOERROR", u"FORMERR", u"SERVFAIL", u"NXDOMAIN", u"NOTIMP",
                                           u"REFUSED", u"YXDOMAIN", u"YXRRSET", u"NXRRSET",  u"NOTAUTH",
                                           u"NOTZONE"};
  if (RCode >= 0 && RCode < static_cast<int>(std::size(kNames))) return kNames[RCode];
  return u"RCODE" + IntToStr(RCode);
}

String DNSRecordToText(const TDNSResourceRecord& Record, const String& Separator) {
  return Record.Name + Separator + UIntToStr(Record.TTL) + Separator + DNSClassName(Record.Class) + Separator +
         DNSTypeName(Record.Type) + Separator + Record.Data;
}

const TClassInfo* TKtIDNSResolver::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtIDNSResolver>(u"TKtIDNSResolver", TKtInetBase::StaticClassInfo())
      .Component()
      .Ordinal(
          u"Requests",
          TypeInfoSet(u"TKtIDNSRequests", {u"irAll", u"irA", u"irNS", u"irName", u"irSOA", u"irMB", u"irMG", u"irMR", u"irRR",
                                          u"irWKS", u"irPTR", u"irHostInfo", u"irMailInfo", u"irMX", u"irText",
                                          u"irTransferRequest", u"irMailB"}),
          [](const TKtIDNSResolver* r) { return static_cast<std::int64_t>(r->Requests().Bits()); },
          [](TKtIDNSResolver* r, std::int64_t bits) {
            TKtIDNSRequests set;
            for (int i = 0; i < KtIDNSRequestCount; ++i)
              if ((static_cast<std::uint64_t>(bits) >> i) & 1u) set.Include(static_cast<TKtIDNSRequest>(i));
            r->SetRequests(set);
          })
      .Property(u"Domain", &TKtIDNSResolver::Domain, &TKtIDNSResolver::SetDomain)
      .Build();
  return info;
}

}  // namespace ktinet
