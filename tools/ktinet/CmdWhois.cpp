// `ktinet whois`: TKtWhoIs from the command line, and its line in the demo.
#include <cstdio>
#include <iostream>

#include "Cli.h"
#include "Demo.h"
#include "DemoServers.h"
#include "Output.h"
#include "Rdap.h"
#include "SocketOptions.h"
#include "protocols/KtWhoIs.h"
#include "vcl/UiBackend.h"

namespace ktinet::cli {

namespace {

int RunWhois(const Args& args) {
  args.ExpectPositional(1, 1);
  if (args.Has("--no-auto-select") && !args.Has("--host"))
    throw UsageError("--no-auto-select needs --host: no server would be chosen");
  ChooseBackendFromEnvironment();
  if (args.Has("--rdap")) {
    bool noService = false;
    const int status = RunRdapLookup(args, args.Positional()[0], "whois", &noService);
    if (!noService) return status;
    std::cerr << "ktinet whois: no RDAP service is known for " << EscapeControls(args.Positional()[0])
              << "; asking its WHOIS server on port 43\n";
  } else {
    for (const char* rdapOnly : {"--server", "--bootstrap", "--json", "--raw", "--cacert", "--insecure"})
      if (args.Has(rdapOnly)) throw UsageError(std::string(rdapOnly) + " goes with --rdap");
  }
  TKtWhoIs whois(nullptr);
  whois.SetAutoSelectServer(!args.Has("--no-auto-select"));
  whois.SetFollowReferrals(args.Has("--follow"));
  // Names typed on a terminal arrive as UTF-8; registries know them only in their ASCII form.
  whois.SetConvertIDN(true);
  whois.SetDomain(UTF8ToString(args.Positional()[0]));
  if (auto host = args.Get("--host")) whois.SetHost(UTF8ToString(*host));
  whois.SetPort(static_cast<int>(args.GetInt("--port", 43, 1, 65535)));
  ApplySocketOptions(args, whois);

  String answer = RunAskingProxyLogon(whois, [&] { return whois.Execute(); });
  if (!whois.LastError().empty()) {
    std::cerr << "ktinet whois: " << FailureText(whois) << "\n";
    return kExitFailed;
  }
  // Registries answer in ASCII or UTF-8: the bytes go out as they came, defused on a terminal.
  std::string bytes = StringToBytes(answer);
  if (StdoutIsTerminal()) bytes = EscapeControls(bytes, LineBreaks::kKeep);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

std::vector<Args::OptionSpec> WhoisOptions() {
  auto specs = SocketOptions();
  specs.push_back({"--host", "", true});
  specs.push_back({"--port", "", true});
  specs.push_back({"--no-auto-select", "", false});
  specs.push_back({"--follow", "", false});
  specs.push_back({"--rdap", "", false});
  for (const auto& option : RdapLookupOptions())
    if (option.name.rfind("--", 0) == 0 && option.name.find("timeout") == std::string::npos &&
        option.name != "--max-time")
      specs.push_back(option);
  return specs;
}

// A thin registry that names the registrar's server, and the registrar holding the contacts.
DemoOutcome DemoWhois() {
  DemoServer registrar([](DemoConnection& conn) {
    std::string query = conn.ReceiveUntil("\r\n\r\n");
    conn.Send("Domain Name: example.com\r\nRegistrar: Demo Registrar Ltd\r\n"
              "Registrant Organization: Example Holdings\r\nQuery: " +
              query.substr(0, query.find("\r\n")) + "\r\n");
  });
  std::string registrarUrl = "whois://127.0.0.1:" + std::to_string(registrar.Port());
  DemoServer registry([registrarUrl](DemoConnection& conn) {
    std::string query = conn.ReceiveUntil("\r\n\r\n");
    if (query.rfind("domain example.com\r\n", 0) != 0) {
      conn.Send("No match for \"" + query.substr(0, query.find("\r\n")) + "\".\r\n");
      return;
    }
    conn.Send("   Domain Name: EXAMPLE.COM\r\n   Registrar WHOIS Server: " + registrarUrl +
              "\r\n   Creation Date: 1995-08-14T04:00:00Z\r\n");
  });

  TKtWhoIs whois(nullptr);
  whois.SetDomain(u"example.com");
  whois.SetHost(UTF8ToString(DemoServer::Host()));
  whois.SetPort(registry.Port());
  whois.SetConnectTimeout(5000);
  whois.SetReadTimeout(5000);
  whois.SetFollowReferrals(true);
  // Referrals go only to the WHOIS port; here the registrar's loopback port stands for it.
  whois.SetReferralPort(registrar.Port());
  std::string answer = StringToBytes(whois.Execute());

  DemoOutcome out;
  out.did = "look-up of example.com at a registry on 127.0.0.1:" + std::to_string(registry.Port()) +
            ", following its referral";
  if (!whois.LastError().empty()) {
    out.result = "error: " + UTF8Encode(whois.LastError());
  } else if (answer.find("EXAMPLE.COM") == std::string::npos ||
             answer.find("Registrant Organization: Example Holdings") == std::string::npos ||
             answer.find("Query: example.com") == std::string::npos) {
    out.result = "unexpected answer of " + std::to_string(answer.size()) + " bytes";
  } else {
    out.ok = true;
    out.result = "registry and registrar records, " + std::to_string(answer.size()) + " bytes";
  }
  return out;
}

}  // namespace

KTINET_COMMAND(Command{
    "whois", "look up the registration record of a domain or IPv4 address (TKtWhoIs)",
    std::string("Usage: ktinet whois DOMAIN [--host H] [--port P] [--no-auto-select] [--follow] [OPTIONS]\n\n"
                "Asks the WHOIS server of the domain's last label (from the built-in table; IPv4\n"
                "addresses and unknown labels go to whois.ripe.net) and prints its answer as it\n"
                "came (on a terminal with control characters other than line ends and tabs shown as\n"
                "\\xHH). Names with characters beyond ASCII are sent in their ASCII (xn--) form.\n\n"
                "  --host H            ask this server instead of the chosen one\n"
                "  --port P            server port (43)\n"
                "  --no-auto-select    do not choose a server from the table (needs --host)\n"
                "  --follow            follow referrals to the registrar's server, at most 3 hops,\n"
                "                      and only to the WHOIS port 43\n"
                "  --rdap              ask over RDAP as `ktinet rdap` does; when the bootstrap files\n"
                "                      know no RDAP service for the name, say so on stderr and ask\n"
                "                      the WHOIS server on port 43 instead\n\n"
                "RDAP OPTIONS (with --rdap):\n") +
        kRdapLookupOptionsHelp + kTlsOptionsHelp + "\n" + kSocketOptionsHelp,
    WhoisOptions(), RunWhois});

KTINET_DEMO_STEP(DemoStep{20, "TKtWhoIs", DemoWhois});

}  // namespace ktinet::cli
