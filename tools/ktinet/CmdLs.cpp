// `ktinet ls`: TKtRemoteFiles from the command line, and its line in the demo.
#include <iostream>
#include <string>

#include "Cli.h"
#include "SocketOptions.h"
#include "Demo.h"
#include "FeedsSupport.h"
#include "Output.h"
#include "transfer/ktidir.h"

namespace ktinet::cli {

namespace {

int RunLs(const Args& args) {
  args.ExpectPositional(1, 1);
  const feeds::Remote remote = feeds::ParseRemote(args.Positional()[0]);
  TKtRemoteFiles files(nullptr);
  feeds::Aim(files, remote);
  std::string dir = remote.path;
  // The server's top level is listed as bare names, deeper levels as "/"-joined paths.
  if (remote.service != isNetwork) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (dir == "/") dir.clear();
  }
  files.SetDirectory(UTF8ToString(dir));
  if (auto mask = args.Get("--mask")) files.SetWildCard(UTF8ToString(*mask));
  files.SetSubFolders(args.Has("--recursive"));
  ApplyTransferOptions(args, files);
  files.Execute();
  if (files.Status() == isFailed) {
    std::cerr << "ktinet ls: " << args.Positional()[0] << ": the listing failed (server unreachable or refused)\n";
    return kExitFailed;
  }
  TStrings& list = *files.FileList();
  if (args.Has("--json")) {
    std::string out = "[";
    for (int i = 0; i < list.Count(); ++i) out += (i ? "," : "") + feeds::JsonText(list[i]);
    std::cout << out << "]\n";
  } else {
    for (int i = 0; i < list.Count(); ++i) std::cout << EscapeControls(UTF8Encode(list[i])) << "\n";
  }
  if (files.Status() == isNotFound) {
    std::cerr << "ktinet ls: nothing in " << args.Positional()[0] << " matches '" << UTF8Encode(files.WildCard())
              << "'" << (remote.service == isHTTP || remote.service == isHTTPS ? " (HTTP has no listings)" : "")
              << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

DemoOutcome RunDemoLs() {
  DemoOutcome out;
  const std::string tree = feeds::DemoTree();
  out.did = "*.txt under a temporary directory, with sub-folders";
  if (tree.empty()) {
    out.result = "no temporary directory";
    return out;
  }
  TKtRemoteFiles files(nullptr);
  files.SetService(isNetwork);
  files.SetDirectory(UTF8ToString(tree));
  files.SetWildCard(u"*.txt");
  files.SetSubFolders(true);
  files.Execute();
  // The notes folder does not match the mask, so it is not entered.
  out.ok = files.Status() == isFinished && files.FileList()->Count() == 1;
  out.result = std::string(feeds::StatusText(files.Status())) + ": " + std::to_string(files.FileList()->Count()) +
               " entries (sub-folders entered only when their names match)";
  return out;
}

}  // namespace

KTINET_COMMAND(Command{
    "ls", "list an FTP or file-system directory (TKtRemoteFiles)",
    std::string("Usage: ktinet ls URL|DIR [--mask M] [--recursive] [--json] [--user U] [OPTIONS]\n\n"
    "Lists ftp://host[:port]/dir or a file-system directory, one entry per line: bare names at the\n"
    "FTP server's top level and \"/\"-joined paths below it; DIR/name for a directory. With\n"
    "--recursive, the sub-folders whose names match the mask are listed too. Control characters\n"
    "in names show as \\xHH escapes. Exit 1 when the listing failed or found nothing.\n\n"
    "      --mask M        name mask (default *.*)\n"
    "      --recursive     descend into matching sub-folders\n"
    "      --json          a JSON array of the entries\n") +
        TransferOptionsHelp(),
    WithTransferOptions({{"--mask", "", true}, {"--recursive", "-r", false}, {"--json", "", false}}),
    RunLs});

KTINET_DEMO_STEP(DemoStep{63, "TKtRemoteFiles", RunDemoLs});

}  // namespace ktinet::cli
