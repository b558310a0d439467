// `ktinet sntp`: TKtInetSNTP from the command line.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "Cli.h"
#include "Json.h"
#include "Output.h"
#include "SocketOptions.h"
#include "protocols/KtISNTP.h"

namespace ktinet::cli {

namespace {

int RunSntp(const Args& args) {
  args.ExpectPositional(0, 0);
  TKtInetSNTP sntp(nullptr);
  if (auto host = args.Get("--host")) sntp.SetHost(UTF8ToString(*host));
  sntp.SetPort(static_cast<int>(args.GetInt("--port", 123, 1, 65535)));
  // Only the waits apply: a datagram does not travel through a proxy. The component reads 0 as
  // its own short default, so "no limit" is passed as the longest wait it can take.
  Deadlines d = DeadlineOption(args);
  int wait = d.readMs == 0 ? d.maxMs : (d.maxMs == 0 ? d.readMs : std::min(d.readMs, d.maxMs));
  sntp.SetReadTimeout(wait == 0 ? INT_MAX : wait);
  String reply;
  sntp.SetOnAfterExecute([&reply](TObject*, String& text) { reply = text; });

  TDateTime before = Now();
  TDateTime server = sntp.DateTime();
  TDateTime after = Now();
  if (server == 0) {
    String why = sntp.LastError();
    if (why.empty())
      why = reply.empty() ? u"no answer from " + sntp.Host() + sntp.Address() + u":" + IntToStr(sntp.Port())
                          : u"the server is not synchronised (leap indicator 3, stratum 0 or above 15, or no time)";
    std::cerr << "ktinet sntp: " << UTF8Encode(why) << "\n";
    return kExitFailed;
  }
  // The local clock's reading halfway through the exchange stands against the server's; the
  // offset is the server's time minus it, so a positive offset means this clock is behind.
  double offset = (server - (before + after) / 2) * SecsPerDay;
  int stratum = reply.size() > 1 ? static_cast<int>(reply[1]) : 0;
  // The component gives local time; local time plus the zone's bias is UTC.
  const std::string time = IsoUtc(server + sntp.TimeZoneBias(), true);
  char offsetText[64];
  std::snprintf(offsetText, sizeof offsetText, "%+.3f", std::round(offset * 1000) / 1000);
  if (args.Has("--json")) {
    std::cout << JsonObject().Text("time", time).Raw("offset", offsetText).Number("stratum", stratum).Str() << "\n";
  } else {
    std::cout << time << " (stratum " << stratum << ")\n"
              << "offset " << offsetText << " s (the server's time minus this clock's)\n";
  }
  return kExitOk;
}

std::vector<Args::OptionSpec> SntpOptions() {
  auto specs = DeadlineOptions();
  AppendOptions(specs, std::vector<Args::OptionSpec>{{"--host", "", true}, {"--port", "", true}, {"--json", "", false}});
  return specs;
}

}  // namespace

KTINET_COMMAND(Command{
    "sntp", "the time from an NTP server and this clock's offset from it (TKtInetSNTP)",
    std::string("Usage: ktinet sntp [--host H] [--port P] [--timeout S] [--max-time S] [--json]\n\n"
    "Asks an NTP server for the time with one SNTP datagram and prints it in ISO 8601 as UTC\n"
    "(2026-12-07T15:20:47.250Z), with the offset in seconds: the server's time minus this\n"
    "computer's clock, as ntpdate counts it (positive: this clock is behind).\n\n"
    "  --host H            server (pool.ntp.org)\n"
    "  --port P            server port (123)\n"
    "  --json              {\"time\": \"...Z\", \"offset\": seconds, \"stratum\": n}\n") +
        kDeadlineOptionsHelp + "  (--connect-timeout is accepted for uniformity: a datagram makes no connection)\n",
    SntpOptions(), RunSntp});

}  // namespace ktinet::cli
