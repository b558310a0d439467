// `ktinet dns`: TKtIDNSResolver from the command line, with its answer decoded; the dig-style
// resolver for what the component cannot ask, printed the same way.
#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "Cli.h"
#include "Json.h"
#include "SocketOptions.h"
#include "protocols/KtDigResolver.h"
#include "protocols/KtIDNS.h"

namespace ktinet::cli {

namespace {

// The record types of --type, in the order given, each once; A when none is given.
// `component` is set when TKtIDNSResolver can ask for all of them.
std::vector<int> ParseTypes(const Args& args, TKtIDNSRequests& component, bool& componentCan,
                           std::uint32_t& ixfrSerial) {
  std::vector<int> types;
  componentCan = true;
  for (const std::string& option : args.GetAll("--type")) {
    std::stringstream list(option);
    std::string item;
    while (std::getline(list, item, ',')) {
      TKtIDNSRequest r;
      int type;
      std::string upper = item;
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (upper == "IXFR") throw UsageError("IXFR wants the serial of the copy held: IXFR=2026120701");
      if (upper.rfind("IXFR=", 0) == 0) {
        std::string digits = upper.substr(5);
        char* end = nullptr;
        unsigned long long serial = std::strtoull(digits.c_str(), &end, 10);
        if (digits.empty() || digits.size() > 10 || *end != '\0' || !std::isdigit(static_cast<unsigned char>(digits[0])) ||
            serial > 0xFFFFFFFFull)
          throw UsageError("IXFR= wants a serial from 0 to 4294967295, not '" + digits + "'");
        ixfrSerial = static_cast<std::uint32_t>(serial);
        type = 251;
        componentCan = false;
      } else if (DNSRequestFromText(UTF8ToString(item), r)) {
        component.Include(r);
        type = DNSRequestType(r);
      } else {
        type = DigTypeFromText(item);
        if (type < 0)
          throw UsageError("unknown record type '" + item + "' (a mnemonic such as A, AAAA, MX, SRV, TXT, CAA, or TYPEnnn)");
        componentCan = false;
      }
      if (std::find(types.begin(), types.end(), type) == types.end()) types.push_back(type);
    }
  }
  if (types.empty()) {
    component.Include(irA);
    types.push_back(1);
  }
  return types;
}

void PrintHex(const std::string& bytes) {
  for (size_t at = 0; at < bytes.size(); at += 16) {
    char line[96];
    int n = std::snprintf(line, sizeof line, "%04zx ", at);
    std::string ascii;
    for (size_t i = at; i < at + 16; ++i) {
      if (i < bytes.size()) {
        auto c = static_cast<unsigned char>(bytes[i]);
        n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), " %02x", c);
        ascii += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
      } else {
        n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "   ");
      }
    }
    std::cout << line << "  " << ascii << "\n";
  }
}

// A message as this command shows it, whichever resolver asked: the records in presentation
// form, the EDNS pseudo-record left out (it describes the transport, not the name).
struct ShownQuestion {
  std::string name, cls, type;
};

struct ShownRecord {
  std::string name, cls, type, data;
  std::uint32_t ttl = 0;
};

struct ShownMessage {
  int id = 0;
  int flags = 0;
  int rcode = 0;
  std::string status;     // "NOERROR", "NXDOMAIN" ...
  std::string transport;  // "tcp" or "udp"
  std::vector<ShownQuestion> questions;
  std::vector<ShownRecord> answer, authority, additional;
};

std::vector<ShownRecord> Shown(const std::vector<TDNSResourceRecord>& records) {
  std::vector<ShownRecord> out;
  for (const auto& rr : records)
    out.push_back({UTF8Encode(rr.Name), UTF8Encode(DNSClassName(rr.Class)), UTF8Encode(DNSTypeName(rr.Type)),
                   UTF8Encode(rr.Data), rr.TTL});
  return out;
}

ShownMessage Shown(const TDNSMessage& m) {
  ShownMessage s;
  s.id = m.ID;
  s.flags = m.Flags;
  s.rcode = m.RCode();
  s.status = UTF8Encode(DNSRCodeName(m.RCode()));
  s.transport = "tcp";
  for (const auto& q : m.Questions)
    s.questions.push_back({UTF8Encode(q.Name), UTF8Encode(DNSClassName(q.Class)), UTF8Encode(DNSTypeName(q.Type))});
  s.answer = Shown(m.Answers);
  s.authority = Shown(m.Authority);
  s.additional = Shown(m.Additional);
  return s;
}

std::vector<ShownRecord> Shown(const std::vector<TDigRecord>& records) {
  std::vector<ShownRecord> out;
  for (const auto& rr : records)
    if (rr.Type != 41) out.push_back({rr.Name, DigClassName(rr.Class), DigTypeName(rr.Type), rr.Text, rr.TTL});
  return out;
}

ShownMessage Shown(const TDigMessage& m, bool tcp) {
  ShownMessage s;
  s.id = m.ID;
  s.flags = m.Flags;
  s.rcode = m.RCode();
  s.status = DigRCodeName(m.RCode());
  s.transport = tcp ? "tcp" : "udp";
  for (const auto& q : m.Questions) s.questions.push_back({q.Name, DigClassName(q.Class), DigTypeName(q.Type)});
  s.answer = Shown(m.Answers);
  s.authority = Shown(m.Authority);
  s.additional = Shown(m.Additional);
  return s;
}

std::string Flags(const ShownMessage& m) {
  std::string f;
  if (m.flags & 0x8000) f += " qr";
  if (m.flags & 0x0400) f += " aa";
  if (m.flags & 0x0200) f += " tc";
  if (m.flags & 0x0100) f += " rd";
  if (m.flags & 0x0080) f += " ra";
  return f;
}

void PrintSection(const char* title, const std::vector<ShownRecord>& records) {
  if (records.empty()) return;
  std::cout << ";; " << title << " SECTION:\n";
  for (const auto& rr : records)
    std::cout << rr.name << "\t" << rr.ttl << "\t" << rr.cls << "\t" << rr.type << "\t" << rr.data << "\n";
  std::cout << "\n";
}

void PrintDig(const ShownMessage& m) {
  int opcode = (m.flags >> 11) & 0xF;
  std::cout << ";; ->>HEADER<<- opcode: " << (opcode == 0 ? std::string("QUERY") : std::to_string(opcode))
            << ", status: " << m.status << ", id: " << m.id << "\n"
            << ";; flags:" << Flags(m) << "; QUERY: " << m.questions.size() << ", ANSWER: " << m.answer.size()
            << ", AUTHORITY: " << m.authority.size() << ", ADDITIONAL: " << m.additional.size() << "\n\n";
  if (!m.questions.empty()) {
    std::cout << ";; QUESTION SECTION:\n";
    for (const auto& q : m.questions) std::cout << ";" << q.name << "\t\t" << q.cls << "\t" << q.type << "\n";
    std::cout << "\n";
  }
  PrintSection("ANSWER", m.answer);
  PrintSection("AUTHORITY", m.authority);
  PrintSection("ADDITIONAL", m.additional);
}

std::string JsonRecords(const std::vector<ShownRecord>& records) {
  std::string out = "[";
  for (size_t i = 0; i < records.size(); ++i) {
    const auto& rr = records[i];
    out += std::string(i ? ", " : "") + "{\"name\": " + JsonText(rr.name) + ", \"ttl\": " + std::to_string(rr.ttl) +
           ", \"class\": " + JsonText(rr.cls) + ", \"type\": " + JsonText(rr.type) + ", \"data\": " + JsonText(rr.data) +
           "}";
  }
  return out + "]";
}

void PrintJson(const std::vector<ShownMessage>& messages) {
  std::cout << "[";
  for (size_t i = 0; i < messages.size(); ++i) {
    const auto& m = messages[i];
    std::string flags = Flags(m);
    std::cout << (i ? ",\n " : "") << "{\"id\": " << m.id << ", \"status\": " << JsonText(m.status)
              << ", \"flags\": " << JsonText(flags.empty() ? flags : flags.substr(1))
              << ", \"transport\": " << JsonText(m.transport) << ", \"questions\": [";
    for (size_t q = 0; q < m.questions.size(); ++q)
      std::cout << (q ? ", " : "") << "{\"name\": " << JsonText(m.questions[q].name)
                << ", \"class\": " << JsonText(m.questions[q].cls) << ", \"type\": " << JsonText(m.questions[q].type)
                << "}";
    std::cout << "], \"answer\": " << JsonRecords(m.answer) << ", \"authority\": " << JsonRecords(m.authority)
              << ", \"additional\": " << JsonRecords(m.additional) << "}";
  }
  std::cout << "]\n";
}

// Prints the messages as asked and returns the exit status: NXDOMAIN is an answer; a refusal
// or a failure of the server is not.
int PrintMessages(const Args& args, const std::vector<ShownMessage>& messages) {
  if (args.Has("--json")) {
    PrintJson(messages);
  } else if (args.Has("--short")) {
    for (const auto& m : messages)
      for (const auto& rr : m.answer) std::cout << rr.data << "\n";
  } else {
    for (const auto& m : messages) PrintDig(m);
  }
  int failed = kExitOk;
  for (const auto& m : messages) {
    if (m.rcode != 0 && m.rcode != 3) {
      std::string type = m.questions.empty() ? std::string() : " for " + m.questions[0].type;
      std::cerr << "ktinet dns: the server answered " << m.status << type << "\n";
      failed = kExitFailed;
    }
  }
  return failed;
}

// The system's resolver configuration; KTINET_RESOLV_CONF names another file (tests, chroots).
std::string ResolvConfPath() {
  const char* path = std::getenv("KTINET_RESOLV_CONF");
  return path && *path ? path : "/etc/resolv.conf";
}

// The first "nameserver" line's address, as the system's resolver would ask it first.
std::string FirstNameServer(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string keyword, address;
    if (words >> keyword >> address && keyword == "nameserver") return address;
  }
  return std::string();
}

// The look-ups TKtIDNSResolver cannot make: over UDP, other types, reverse names of IPv6.
int RunDigPath(const Args& args, const std::vector<std::string>& names, std::vector<std::string> servers,
               const std::vector<int>& types, std::uint32_t ixfrSerial) {
  if (args.Has("--proxy") || args.Has("--system-proxy"))
    throw UsageError("a proxy carries only the TCP look-ups of ANY, A, NS, CNAME, SOA, MB, MG, MR, NULL, WKS, PTR, "
                     "HINFO, MINFO, MX, TXT, AXFR and MAILB without --udp, --short, -x or @SERVER");
  if (args.Has("--tcp") && args.Has("--udp")) throw UsageError("--tcp and --udp exclude each other");
  std::string name;
  if (auto reverse = args.Get("--reverse")) {
    if (!names.empty()) throw UsageError("-x takes the address in place of the NAME");
    try {
      name = DigReverseName(*reverse);
    } catch (const EDigError& e) {
      throw UsageError(e.what());
    }
  } else {
    if (names.size() != 1) throw UsageError("give one NAME to look up");
    name = names[0];
  }
  for (int type : types)
    if ((type == 251 || type == 252) && args.Has("--udp"))
      throw UsageError("a zone transfer (" + DigTypeName(type) + ") comes over TCP: drop --udp");
  if (auto server = args.Get("--server")) servers.insert(servers.begin(), *server);

  TKtDigResolver dig;
  if (!servers.empty()) dig.SetServers(servers);
  int port = static_cast<int>(args.GetInt("--port", 53, 1, 65535));
  dig.SetPort(port);
  dig.SetForceTcp(args.Has("--tcp"));
  const Deadlines deadlines = ApplyResolverDeadlines(args, dig);
  dig.SetMaxTransferBytes(MaxSizeOption(args));

  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  std::vector<ShownMessage> shown;
  std::vector<std::string> wires;
  for (int type : types) {
    if (deadlines.maxMs > 0) {
      long long left =
          deadlines.maxMs - std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
      if (left <= 0) {
        std::cerr << "ktinet dns: " << name << " " << DigTypeName(type) << ": the job took longer than --max-time\n";
        return kExitFailed;
      }
      dig.SetMaxTimeMs(static_cast<int>(left));
    }
    // PTR of an IPv4 address in its usual order asks for its reverse name, as the component does.
    unsigned char v4[4];
    const std::string asked =
        type == 12 && !args.Has("--reverse") && ::inet_pton(AF_INET, name.c_str(), v4) == 1 ? DigReverseName(name) : name;
    std::vector<TDigMessage> answers;
    try {
      if (type == 251 || type == 252)
        answers = dig.Transfer(asked, type, ixfrSerial);
      else
        answers.push_back(dig.Query(asked, type));
    } catch (const EDigError& e) {
      if (e.ErrorKind() == EDigError::Usage) throw UsageError(e.what());
      std::cerr << "ktinet dns: " << name << " " << DigTypeName(type) << ": " << e.what() << "\n";
      return kExitFailed;
    }
    for (const auto& m : answers) shown.push_back(Shown(m, dig.AnsweredOverTcp()));
    wires.push_back(dig.AnswerWire());
  }
  if (args.Has("--raw")) {
    for (size_t i = 0; i < wires.size(); ++i) {
      if (i) std::cout << "\n";
      PrintHex(wires[i]);
    }
    return kExitOk;
  }
  return PrintMessages(args, shown);
}

int RunDns(const Args& args) {
  std::vector<std::string> names, servers;
  for (const std::string& p : args.Positional()) {
    if (p.size() > 1 && p[0] == '@') servers.push_back(p.substr(1));
    else names.push_back(p);
  }
  auto server = args.Get("--server");
  if (server && server->empty()) throw UsageError("--server wants a name or address");
  TKtIDNSRequests requests;
  bool componentCan = true;
  std::uint32_t ixfrSerial = 0;
  std::vector<int> types = ParseTypes(args, requests, componentCan, ixfrSerial);
  // A reverse look-up asks for the name's PTR record unless told otherwise.
  if (args.Has("--reverse") && args.GetAll("--type").empty()) types = {12};
  if (!componentCan || !servers.empty() || args.Has("--reverse") || args.Has("--udp") || args.Has("--short"))
    return RunDigPath(args, names, servers, types, ixfrSerial);

  if (names.size() != 1) throw UsageError("give one NAME to look up");
  if (!server) {
    server = FirstNameServer(ResolvConfPath());
    if (server->empty()) throw UsageError("no --server given and no nameserver line in " + ResolvConfPath());
  }
  TKtIDNSResolver dns(nullptr);
  dns.SetDomain(UTF8ToString(names[0]));
  dns.SetRequests(requests);
  dns.SetHost(UTF8ToString(*server));
  dns.SetPort(static_cast<int>(args.GetInt("--port", 53, 1, 65535)));
  ApplySocketOptions(args, dns);

  String answer = RunAskingProxyLogon(dns, [&] { return dns.Execute(); });
  if (!dns.LastError().empty()) {
    std::cerr << "ktinet dns: " << FailureText(dns) << "\n";
    return kExitFailed;
  }
  if (answer.empty()) {
    std::cerr << "ktinet dns: the server closed the connection without answering\n";
    return kExitFailed;
  }
  if (args.Has("--raw")) {
    PrintHex(StringToBytes(answer));
    return kExitOk;
  }
  std::vector<TDNSMessage> messages;
  try {
    messages = DecodeDNSAnswer(answer);
  } catch (const EDNSDecodeError& e) {
    std::cerr << "ktinet dns: " << e.what() << " (--raw shows the bytes)\n";
    return kExitFailed;
  }
  std::vector<ShownMessage> shown;
  for (const auto& m : messages) shown.push_back(Shown(m));
  return PrintMessages(args, shown);
}

std::vector<Args::OptionSpec> DnsOptions() {
  auto specs = SocketOptions();
  specs.push_back({"--server", "", true});
  specs.push_back({"--port", "", true});
  specs.push_back({"--type", "-t", true, true});
  specs.push_back({"--reverse", "-x", true});
  specs.push_back({"--udp", "", false});
  specs.push_back({"--tcp", "", false});
  specs.push_back({"--short", "", false});
  specs.push_back({"--raw", "", false});
  specs.push_back({"--json", "", false});
  return specs;
}

}  // namespace

KTINET_COMMAND(Command{
    "dns", "ask a name server and print its records: TCP (TKtIDNSResolver), or UDP as dig does",
    std::string("Usage: ktinet dns [@SERVER] NAME [-t TYPE[,TYPE...]] [OPTIONS]\n"
                "       ktinet dns [@SERVER] -x ADDRESS [OPTIONS]\n\n"
                "Sends one query per record type and prints the answers like dig: a header,\n"
                "the sections, one record per line. Two resolvers share the work:\n"
                "- TKtIDNSResolver asks over TCP when every type is one of ANY, A, NS, CNAME,\n"
                "  SOA, MB, MG, MR, NULL, WKS, PTR, HINFO, MINFO, MX, TXT, AXFR, MAILB and\n"
                "  none of --udp, --short, -x or @SERVER is given.\n"
                "- Otherwise the dig-style resolver asks: over UDP with EDNS(0) (a 1232-byte\n"
                "  buffer; again without EDNS when the server answers FORMERR or NOTIMP\n"
                "  without it), one retry, TCP when the answer is truncated; --tcp asks over\n"
                "  TCP only. Without --server it tries the nameserver lines in turn, and a\n"
                "  server that fails, refuses or stays silent gives way to the next one.\n"
                "Both print the same layout and JSON (\"transport\" says tcp or udp); the EDNS\n"
                "record is not listed among the additional records.\n\n"
                "  --server H, @H      name server (name or address; else the nameserver lines\n"
                "                      of /etc/resolv.conf, or of the file KTINET_RESOLV_CONF\n"
                "                      names; the component asks only the first)\n"
                "  --port P            server port (53)\n"
                "  -t, --type T[,T...] record types: a mnemonic (A, AAAA, MX, SRV, TXT, CAA,\n"
                "                      HTTPS ...) or TYPEnnn; repeatable (A). IXFR=SERIAL asks\n"
                "                      for the zone's changes since that version, over TCP\n"
                "  -x, --reverse ADDR  reverse look-up of an IPv4 or IPv6 address (PTR); with\n"
                "                      -t PTR an IPv4 address as NAME does the same\n"
                "  --udp               the dig-style resolver, UDP first\n"
                "  --tcp               with the dig-style resolver: TCP only\n"
                "  --short             only the data of the answer records, one a line\n"
                "  --raw               a hex dump of each answer as received: over TCP with its\n"
                "                      length frame, over UDP the datagram\n"
                "  --json              the decoded messages as JSON\n\n"
                "With the dig-style resolver --timeout is the wait for each datagram, connection\n"
                "and answer (5 s unless given), --max-time bounds the whole job, --max-size bounds\n"
                "a zone transfer, and the proxy options are refused: only the component goes\n"
                "through a proxy. Both read a zone transfer to the SOA record that closes it.\n\n"
                "Exit status: 0 answered (NXDOMAIN too), 1 no answer or the server failed or\n"
                "refused, 2 bad usage.\n\n") +
        kSocketOptionsHelp,
    DnsOptions(), RunDns});

}  // namespace ktinet::cli
