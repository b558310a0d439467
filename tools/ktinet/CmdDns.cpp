// `ktinet dns`: TKtIDNSResolver from the command line, with its answer decoded.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "Cli.h"
#include "Json.h"
#include "SocketOptions.h"
#include "protocols/KtIDNS.h"

namespace ktinet::cli {

namespace {

TKtIDNSRequests ParseTypes(const Args& args) {
  TKtIDNSRequests requests;
  for (const std::string& option : args.GetAll("--type")) {
    std::stringstream list(option);
    std::string item;
    while (std::getline(list, item, ',')) {
      TKtIDNSRequest r;
      if (!DNSRequestFromText(UTF8ToString(item), r))
        throw UsageError("unknown record type '" + item +
                         "' (ANY, A, NS, CNAME, SOA, MB, MG, MR, NULL, WKS, PTR, HINFO, MINFO, MX, TXT, AXFR, MAILB)");
      requests.Include(r);
    }
  }
  if (requests.Empty()) requests.Include(irA);
  return requests;
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

std::string Flags(const TDNSMessage& m) {
  std::string f;
  if (m.QR()) f += " qr";
  if (m.AA()) f += " aa";
  if (m.TC()) f += " tc";
  if (m.RD()) f += " rd";
  if (m.RA()) f += " ra";
  return f;
}

void PrintSection(const char* title, const std::vector<TDNSResourceRecord>& records) {
  if (records.empty()) return;
  std::cout << ";; " << title << " SECTION:\n";
  for (const auto& rr : records) std::cout << UTF8Encode(DNSRecordToText(rr, u"\t")) << "\n";
  std::cout << "\n";
}

void PrintDig(const TDNSMessage& m) {
  std::cout << ";; ->>HEADER<<- opcode: " << (m.Opcode() == 0 ? std::string("QUERY") : std::to_string(m.Opcode()))
            << ", status: " << UTF8Encode(DNSRCodeName(m.RCode())) << ", id: " << m.ID << "\n"
            << ";; flags:" << Flags(m) << "; QUERY: " << m.Questions.size() << ", ANSWER: " << m.Answers.size()
            << ", AUTHORITY: " << m.Authority.size() << ", ADDITIONAL: " << m.Additional.size() << "\n\n";
  if (!m.Questions.empty()) {
    std::cout << ";; QUESTION SECTION:\n";
    for (const auto& q : m.Questions)
      std::cout << ";" << UTF8Encode(q.Name) << "\t\t" << UTF8Encode(DNSClassName(q.Class)) << "\t"
                << UTF8Encode(DNSTypeName(q.Type)) << "\n";
    std::cout << "\n";
  }
  PrintSection("ANSWER", m.Answers);
  PrintSection("AUTHORITY", m.Authority);
  PrintSection("ADDITIONAL", m.Additional);
}

std::string JsonRecords(const std::vector<TDNSResourceRecord>& records) {
  std::string out = "[";
  for (size_t i = 0; i < records.size(); ++i) {
    const auto& rr = records[i];
    out += std::string(i ? ", " : "") + "{\"name\": " + JsonText(rr.Name) + ", \"ttl\": " + std::to_string(rr.TTL) +
           ", \"class\": " + JsonText(DNSClassName(rr.Class)) + ", \"type\": " + JsonText(DNSTypeName(rr.Type)) +
           ", \"data\": " + JsonText(rr.Data) + "}";
  }
  return out + "]";
}

void PrintJson(const std::vector<TDNSMessage>& messages) {
  std::cout << "[";
  for (size_t i = 0; i < messages.size(); ++i) {
    const auto& m = messages[i];
    std::cout << (i ? ",\n " : "") << "{\"id\": " << m.ID << ", \"status\": " << JsonText(DNSRCodeName(m.RCode()))
              << ", \"flags\": " << JsonText(UTF8ToString(Flags(m).empty() ? "" : Flags(m).substr(1)))
              << ", \"questions\": [";
    for (size_t q = 0; q < m.Questions.size(); ++q)
      std::cout << (q ? ", " : "") << "{\"name\": " << JsonText(m.Questions[q].Name)
                << ", \"class\": " << JsonText(DNSClassName(m.Questions[q].Class))
                << ", \"type\": " << JsonText(DNSTypeName(m.Questions[q].Type)) << "}";
    std::cout << "], \"answer\": " << JsonRecords(m.Answers) << ", \"authority\": " << JsonRecords(m.Authority)
              << ", \"additional\": " << JsonRecords(m.Additional) << "}";
  }
  std::cout << "]\n";
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

int RunDns(const Args& args) {
  args.ExpectPositional(1, 1);
  auto server = args.Get("--server");
  if (server && server->empty()) throw UsageError("--server wants a name or address");
  if (!server) {
    server = FirstNameServer(ResolvConfPath());
    if (server->empty()) throw UsageError("no --server given and no nameserver line in " + ResolvConfPath());
  }
  TKtIDNSResolver dns(nullptr);
  dns.SetDomain(UTF8ToString(args.Positional()[0]));
  dns.SetRequests(ParseTypes(args));
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
  if (args.Has("--json")) {
    PrintJson(messages);
  } else {
    for (const auto& m : messages) PrintDig(m);
  }
  // NXDOMAIN is an answer; a refusal or a failure of the server is not.
  int failed = kExitOk;
  for (const auto& m : messages) {
    if (m.RCode() != 0 && m.RCode() != 3) {
      String type = m.Questions.empty() ? String() : u" for " + DNSTypeName(m.Questions[0].Type);
      std::cerr << "ktinet dns: the server answered " << UTF8Encode(DNSRCodeName(m.RCode()) + type) << "\n";
      failed = kExitFailed;
    }
  }
  return failed;
}

std::vector<Args::OptionSpec> DnsOptions() {
  auto specs = SocketOptions();
  specs.push_back({"--server", "", true});
  specs.push_back({"--port", "", true});
  specs.push_back({"--type", "-t", true, true});
  specs.push_back({"--raw", "", false});
  specs.push_back({"--json", "", false});
  return specs;
}

}  // namespace

KTINET_COMMAND(Command{
    "dns", "ask a name server over TCP and print its records (TKtIDNSResolver)",
    std::string("Usage: ktinet dns NAME [--server H] [--port P] [--type A,MX,...] [--raw] [--json]\n"
                "                [OPTIONS]\n\n"
                "Sends one query per record type to the name server over TCP and prints the\n"
                "answers like dig. For PTR give the IPv4 address in its usual order (192.0.2.1).\n\n"
                "  --server H          name server (name or address; the first nameserver of\n"
                "                      /etc/resolv.conf, or of the file KTINET_RESOLV_CONF names)\n"
                "  --port P            server port (53)\n"
                "  --type T[,T...]     record types: ANY, A, NS, CNAME, SOA, MB, MG, MR, NULL, WKS,\n"
                "                      PTR, HINFO, MINFO, MX, TXT, AXFR, MAILB (A)\n"
                "  --raw               a hex dump of the answer as received (with its length frames)\n"
                "  --json              the decoded messages as JSON\n") +
        kSocketOptionsHelp,
    DnsOptions(), RunDns});

}  // namespace ktinet::cli
