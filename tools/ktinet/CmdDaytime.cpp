// `ktinet daytime`: TKtInetDateTime from the command line.
#include <iostream>

#include "Cli.h"
#include "Json.h"
#include "Output.h"
#include "SocketOptions.h"
#include "protocols/KtITime.h"
#include "rtl/SysUtils.h"

namespace ktinet::cli {

namespace {

int RunDaytime(const Args& args) {
  args.ExpectPositional(0, 0);
  TKtInetDateTime daytime(nullptr);
  if (auto host = args.Get("--host")) daytime.SetHost(UTF8ToString(*host));
  daytime.SetPort(static_cast<int>(args.GetInt("--port", 13, 1, 65535)));
  ApplySocketOptions(args, daytime);
  String answer;
  daytime.SetOnAfterExecute([&answer](TObject*, String& text) { answer = text; });

  TDateTime when = RunAskingProxyLogon(daytime, [&] { return daytime.DateTime(); });
  if (!daytime.LastError().empty()) {
    std::cerr << "ktinet daytime: " << FailureText(daytime) << "\n";
    return kExitFailed;
  }
  // The component turns an answer without digits into 2001-01-01 01:01:01; a person asking for
  // the time must not take that for the server's.
  if (answer.find_first_of(u"0123456789") == String::npos) {
    std::cerr << "ktinet daytime: the server's answer holds no date"
              << (answer.empty() ? " (it sent nothing)" : "") << "\n";
    return kExitFailed;
  }
  // NIST servers send UTC; the component keeps the time as sent.
  if (args.Has("--json"))
    std::cout << JsonObject().Text("time", IsoUtc(when)).Text("answer", NetworkText(Trim(answer))).Str() << "\n";
  else
    std::cout << IsoUtc(when) << "\n";
  return kExitOk;
}

std::vector<Args::OptionSpec> DaytimeOptions() {
  auto specs = SocketOptions();
  specs.push_back({"--host", "", true});
  specs.push_back({"--port", "", true});
  specs.push_back({"--json", "", false});
  return specs;
}

}  // namespace

KTINET_COMMAND(Command{
    "daytime", "the date and time from a NIST-style daytime server (TKtInetDateTime)",
    std::string("Usage: ktinet daytime [--host H] [--port P] [--json] [OPTIONS]\n\n"
                "Reads the answer of a daytime server in the NIST format and prints its date and\n"
                "time in ISO 8601 as UTC, which NIST servers send (2026-12-07T15:20:47Z).\n\n"
                "  --host H            server (time.nist.gov)\n"
                "  --port P            server port (13)\n"
                "  --json              {\"time\": ..., \"answer\": the server's line}\n") +
        kSocketOptionsHelp,
    DaytimeOptions(), RunDaytime});

}  // namespace ktinet::cli
