// `ktinet ls`: TKtRemoteFiles from the command line, and its line in the demo.
#include <algorithm>
#include <iostream>
#include <string>

#include "Cli.h"
#include "SocketOptions.h"
#include "Demo.h"
#include "FeedsSupport.h"
#include "Json.h"
#include "Output.h"
#include "rtl/DateTime.h"
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
  RunAskingProxyLogon(files, [&files] { return files.Execute(); });
  TStrings& list = *files.FileList();
  const auto& details = files.FileDetails();
  auto isDir = [&](int i) { return static_cast<size_t>(i) < details.size() && details[i].Directory; };
  auto detail = [&](int i) { return static_cast<size_t>(i) < details.size() ? &details[i] : nullptr; };
  // The entry's time in UTC, or empty when the listing gave none.
  auto timeText = [&](int i) {
    const TKtIFileDetail* d = detail(i);
    return d && d->HasTime ? IsoUtc(FileTimeToDateTime(d->LastWriteTime)) : std::string();
  };
  if (args.Has("--json")) {
    // The same details as the long form, null where the listing gave none.
    JsonArray out;
    for (int i = 0; i < list.Count(); ++i) {
      const TKtIFileDetail* d = detail(i);
      JsonObject entry;
      entry.Text("name", list[i]).Text("type", std::string(isDir(i) ? "directory" : "file"));
      if (d && d->HasSize) entry.Number("size", static_cast<long long>(d->Size));
      else entry.Null("size");
      const std::string time = timeText(i);
      if (time.empty()) entry.Null("time");
      else entry.Text("time", time);
      out.Raw(entry.Str());
    }
    std::cout << out.Str() << "\n";
  } else {
    const bool longForm = args.Has("--long");
    for (int i = 0; i < list.Count(); ++i) {
      std::string line;
      if (longForm) {
        // Type, size and time (UTC) before the name, as ls -l has them.
        const TKtIFileDetail* d = detail(i);
        std::string size = d && d->HasSize ? std::to_string(d->Size) : "-";
        std::string time = timeText(i);
        if (time.empty()) time = "-";
        line = std::string(isDir(i) ? "d " : "- ") + std::string(size.size() < 12 ? 12 - size.size() : 0, ' ') + size +
               " " + time + " ";
      }
      line += EscapeControls(UTF8Encode(list[i]));
      if (isDir(i)) line += "/";
      std::cout << line << "\n";
    }
  }
  if (files.Status() == isFailed) {
    const std::string why = ProxyWantsLogon(files) ? kProxyRefused : UTF8Encode(files.LastErrorText());
    std::cerr << "ktinet ls: " << args.Positional()[0] << ": "
              << (why.empty() ? "the listing failed (server unreachable or refused)" : why) << "\n";
    return kExitFailed;
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
    "FTP server's top level and \"/\"-joined paths below it; DIR/name for a directory. Folders end\n"
    "in \"/\". With --recursive, the sub-folders whose names match the mask are listed too, each\n"
    "folder once (a link back up is not followed again) and at most 64 levels deep. Control\n"
    "characters in names show as \\xHH escapes. Exit 1 when the listing failed or found nothing.\n\n"
    "      --mask M        name mask (default *.*)\n"
    "      --recursive     descend into matching sub-folders\n"
    "  -l, --long          type (d for a folder), size in bytes and time (UTC) before each name\n"
    "      --json          a JSON array of the entries: {\"name\", \"type\": \"file\" or\n"
    "                      \"directory\", \"size\" in bytes, \"time\" in UTC}, null where unknown\n") +
        TransferOptionsHelp(),
    WithTransferOptions({{"--mask", "", true}, {"--recursive", "-r", false}, {"--long", "-l", false}, {"--json", "", false}}),
    RunLs});

KTINET_DEMO_STEP(DemoStep{63, "TKtRemoteFiles", RunDemoLs});

}  // namespace ktinet::cli
