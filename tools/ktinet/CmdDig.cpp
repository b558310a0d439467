// `ktinet dig`: look a name up the way dig does (UDP with a retry, EDNS(0), TCP on truncation).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iostream>

#include "Cli.h"
#include "Json.h"
#include "SocketOptions.h"
#include "protocols/KtDigResolver.h"

namespace ktinet::cli {

namespace {

void PrintSection(const char* title, const std::vector<TDigRecord>& records) {
  bool any = false;
  for (const auto& rr : records) {
    if (rr.Type == 41) continue;  // shown as the OPT pseudo-section
    if (!any) std::cout << ";; " << title << " SECTION:\n";
    any = true;
    std::cout << DigRecordLine(rr) << "\n";
  }
  if (any) std::cout << "\n";
}

void PrintFull(const TDigMessage& m, const TKtDigResolver& dig, int port) {
  size_t additional = m.Additional.size();
  std::cout << ";; ->>HEADER<<- opcode: " << (m.Opcode() == 0 ? std::string("QUERY") : std::to_string(m.Opcode()))
            << ", status: " << DigRCodeName(m.RCode()) << ", id: " << m.ID << "\n"
            << ";; flags: " << m.FlagText() << "; QUERY: " << m.Questions.size() << ", ANSWER: " << m.Answers.size()
            << ", AUTHORITY: " << m.Authority.size() << ", ADDITIONAL: " << additional << "\n\n";
  if (const TDigRecord* opt = m.Opt()) {
    std::cout << ";; OPT PSEUDOSECTION:\n; EDNS: version: " << ((opt->TTL >> 16) & 0xFF)
              << ", flags:" << ((opt->TTL & 0x8000) ? " do" : "") << "; udp: " << opt->Class << "\n";
    if (!opt->Text.empty()) std::cout << "; " << opt->Text << "\n";
    std::cout << "\n";
  }
  std::cout << ";; QUESTION SECTION:\n";
  for (const auto& q : m.Questions)
    std::cout << ";" << q.Name << "\t\t" << DigClassName(q.Class) << "\t" << DigTypeName(q.Type) << "\n";
  std::cout << "\n";
  PrintSection("ANSWER", m.Answers);
  PrintSection("AUTHORITY", m.Authority);
  PrintSection("ADDITIONAL", m.Additional);
  std::cout << ";; SERVER: " << dig.AnsweredBy() << "#" << port << " (" << (dig.AnsweredOverTcp() ? "TCP" : "UDP")
            << ")\n";
}

std::string JsonRecords(const std::vector<TDigRecord>& records) {
  std::string out = "[";
  bool first = true;
  for (const auto& rr : records) {
    if (rr.Type == 41) continue;
    out += std::string(first ? "" : ", ") + "{\"name\": " + JsonText(rr.Name) + ", \"ttl\": " +
           std::to_string(rr.TTL) + ", \"class\": " + JsonText(DigClassName(rr.Class)) +
           ", \"type\": " + JsonText(DigTypeName(rr.Type)) + ", \"data\": " + JsonText(rr.Text) + "}";
    first = false;
  }
  return out + "]";
}

void PrintJson(const TDigMessage& m, const TKtDigResolver& dig, int port) {
  std::cout << "{\"server\": " << JsonText(dig.AnsweredBy()) << ", \"port\": " << port
            << ", \"transport\": " << (dig.AnsweredOverTcp() ? "\"tcp\"" : "\"udp\"") << ", \"id\": " << m.ID
            << ", \"status\": " << JsonText(DigRCodeName(m.RCode())) << ", \"flags\": " << JsonText(m.FlagText());
  if (const TDigRecord* opt = m.Opt())
    std::cout << ", \"edns\": {\"version\": " << ((opt->TTL >> 16) & 0xFF) << ", \"udp\": " << opt->Class << "}";
  std::cout << ", \"question\": [";
  for (size_t i = 0; i < m.Questions.size(); ++i)
    std::cout << (i ? ", " : "") << "{\"name\": " << JsonText(m.Questions[i].Name)
              << ", \"class\": " << JsonText(DigClassName(m.Questions[i].Class))
              << ", \"type\": " << JsonText(DigTypeName(m.Questions[i].Type)) << "}";
  std::cout << "], \"answer\": " << JsonRecords(m.Answers) << ", \"authority\": " << JsonRecords(m.Authority)
            << ", \"additional\": " << JsonRecords(m.Additional) << "}\n";
}

int RunDig(const Args& args) {
  std::vector<std::string> servers, words;
  for (const std::string& p : args.Positional()) {
    if (p.size() > 1 && p[0] == '@') servers.push_back(p.substr(1));
    else words.push_back(p);
  }
  for (const std::string& s : args.GetAll("--server")) servers.push_back(s);

  std::string name;
  std::string typeText;
  if (auto reverse = args.Get("--reverse")) {
    if (words.size() > 1) throw UsageError("-x takes the address; at most a record type may follow");
    try {
      name = DigReverseName(*reverse);
    } catch (const EDigError& e) {
      throw UsageError(e.what());
    }
    typeText = words.empty() ? "PTR" : words[0];
  } else {
    if (words.empty() || words.size() > 2) throw UsageError("give a NAME and at most one record TYPE");
    name = words[0];
    typeText = words.size() == 2 ? words[1] : "A";
  }
  if (auto t = args.Get("--type")) {
    if (args.Get("--reverse") ? !words.empty() : words.size() == 2)
      throw UsageError("the record type is given twice");
    typeText = *t;
  }
  std::uint32_t serial = 0;
  int type = DigTypeFromText(typeText);
  if (type == 251) throw UsageError("IXFR wants the serial of the copy held: IXFR=2026120701");
  if (typeText.size() > 5 && DigTypeFromText(typeText.substr(0, 4)) == 251 && typeText[4] == '=') {
    std::string digits = typeText.substr(5);
    unsigned long long v = 0;
    for (char c : digits) {
      if (c < '0' || c > '9' || digits.size() > 10) throw UsageError("IXFR= wants a serial from 0 to 4294967295");
      v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v > 0xFFFFFFFFull) throw UsageError("IXFR= wants a serial from 0 to 4294967295");
    serial = static_cast<std::uint32_t>(v);
    type = 251;
  }
  if (type < 0) throw UsageError("unknown record type '" + typeText + "' (a mnemonic such as AAAA, or TYPEnnn)");

  TKtDigResolver dig;
  if (!servers.empty()) dig.SetServers(servers);
  int port = static_cast<int>(args.GetInt("--port", 53, 1, 65535));
  dig.SetPort(port);
  dig.SetForceTcp(args.Has("--tcp"));
  ApplyResolverDeadlines(args, dig);

  std::vector<TDigMessage> answers;
  try {
    if (type == 251 || type == 252)
      answers = dig.Transfer(name, type, serial);
    else
      answers.push_back(dig.Query(name, type));
  } catch (const EDigError& e) {
    if (e.ErrorKind() == EDigError::Usage) throw UsageError(e.what());
    std::cerr << "ktinet dig: " << name << " " << DigTypeName(type) << ": " << e.what() << "\n";
    return kExitFailed;
  }
  // A transfer's messages print one after another; as JSON they make an array.
  const bool many = type == 251 || type == 252;
  if (many && args.Has("--json")) std::cout << "[";
  for (size_t i = 0; i < answers.size(); ++i) {
    if (args.Has("--json")) {
      if (i) std::cout << ",";
      PrintJson(answers[i], dig, port);
    } else if (args.Has("--short")) {
      for (const auto& rr : answers[i].Answers) std::cout << rr.Text << "\n";
    } else {
      PrintFull(answers[i], dig, port);
    }
  }
  if (many && args.Has("--json")) std::cout << "]\n";
  const TDigMessage& m = answers.front();
  if (m.RCode() != 0) {
    std::cerr << "ktinet dig: " << name << " " << DigTypeName(type) << ": " << dig.AnsweredBy()
              << " answered " << DigRCodeName(m.RCode()) << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

KTINET_COMMAND(Command{
    "dig", "look a name up like dig: UDP with a retry, EDNS(0), TCP when truncated",
    "Usage: ktinet dig [@SERVER] NAME [TYPE] [OPTIONS]\n"
    "       ktinet dig [@SERVER] -x ADDRESS [OPTIONS]\n\n"
    "Asks the name servers in turn (those given, else the nameserver lines of\n"
    "/etc/resolv.conf, or of the file KTINET_RESOLV_CONF names) over UDP, with one\n"
    "retry and an EDNS(0) buffer of 1232 bytes, and again over TCP when the answer\n"
    "comes back truncated. Every answer must carry the query's ID, the response bit\n"
    "and the question; others are discarded (over TCP: an error). A server that\n"
    "answers SERVFAIL or REFUSED, or does not answer, gives way to the next one.\n\n"
    "  @SERVER, --server S  name server (address or host name; repeatable)\n"
    "  --port P             server port (53)\n"
    "  -t, --type T         record type: a mnemonic (A, AAAA, MX, SRV, CAA, HTTPS ...)\n"
    "                       or TYPEnnn; also as the argument after NAME (A). AXFR and\n"
    "                       IXFR=SERIAL (the changes since that version) transfer the\n"
    "                       zone over TCP, read to the SOA record that closes it; with\n"
    "                       --json its messages make an array\n"
    "  -x, --reverse ADDR   reverse look-up of an IPv4 or IPv6 address (PTR)\n"
    "  --tcp                TCP only\n"
    "  --short              only the data of the answer records, like +short\n"
    "  --json               the answer as JSON\n" +
        std::string(kResolverDeadlineHelp) +
        "\nExit status: 0 answered NOERROR, 1 no usable answer or another status (the cause\n"
        "on stderr: time-out, refused, SERVFAIL, NXDOMAIN ...), 2 bad usage.\n",
    {{"--server", "", true, true},
     {"--port", "", true},
     {"--type", "-t", true},
     {"--reverse", "-x", true},
     {"--tcp", "", false},
     {"--short", "", false},
     {"--json", "", false},
     {"--connect-timeout", "", true},
     {"--timeout", "", true},
     {"--max-time", "", true}},
    RunDig});

}  // namespace ktinet::cli
