// `ktinet sntp`: TKtInetSNTP from the command line.
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
  // Only the time-out applies: a datagram does not travel through a proxy.
  sntp.SetReadTimeout(TimeoutOption(args));
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

}  // namespace

KTINET_COMMAND(Command{
    "sntp", "the time from an NTP server and this clock's offset from it (TKtInetSNTP)",
    "Usage: ktinet sntp [--host H] [--port P] [--timeout MS] [--json]\n\n"
    "Asks an NTP server for the time with one SNTP datagram and prints it in ISO 8601 as UTC\n"
    "(2026-12-07T15:20:47.250Z), with the offset in seconds: the server's time minus this\n"
    "computer's clock, as ntpdate counts it (positive: this clock is behind).\n\n"
    "  --host H            server (pool.ntp.org)\n"
    "  --port P            server port (123)\n"
    "  --timeout MS        how long to wait for the answer (5000 when 0 or absent)\n"
    "  --json              {\"time\": \"...Z\", \"offset\": seconds, \"stratum\": n}\n",
    {{"--host", "", true}, {"--port", "", true}, {"--timeout", "", true}, {"--json", "", false}}, RunSntp});

}  // namespace ktinet::cli
