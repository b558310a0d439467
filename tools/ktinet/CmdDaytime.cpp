// `ktinet daytime`: TKtInetDateTime from the command line.
#include <iostream>

#include "Cli.h"
#include "SocketOptions.h"
#include "protocols/KtITime.h"

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

  TDateTime when = daytime.DateTime();
  if (!daytime.LastError().empty()) {
    std::cerr << "ktinet daytime: " << UTF8Encode(daytime.LastError()) << "\n";
    return kExitFailed;
  }
  // The component turns an answer without digits into 2001-01-01 01:01:01; a person asking for
  // the time must not take that for the server's.
  if (answer.find_first_of(u"0123456789") == String::npos) {
    std::cerr << "ktinet daytime: the server's answer holds no date"
              << (answer.empty() ? " (it sent nothing)" : "") << "\n";
    return kExitFailed;
  }
  std::cout << UTF8Encode(DateTimeToISO(when)) << "\n";
  return kExitOk;
}

std::vector<Args::OptionSpec> DaytimeOptions() {
  auto specs = SocketOptions();
  specs.push_back({"--host", "", true});
  specs.push_back({"--port", "", true});
  return specs;
}

}  // namespace

KTINET_COMMAND(Command{
    "daytime", "the date and time from a NIST-style daytime server (TKtInetDateTime)",
    std::string("Usage: ktinet daytime [--host H] [--port P] [OPTIONS]\n\n"
                "Reads the answer of a daytime server in the NIST format and prints its date and\n"
                "time as sent (NIST servers send UTC).\n\n"
                "  --host H            server (time.nist.gov)\n"
                "  --port P            server port (13)\n") +
        kSocketOptionsHelp,
    DaytimeOptions(), RunDaytime});

}  // namespace ktinet::cli
