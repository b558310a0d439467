#include "support/RunTool.h"

#include "support/SmtpServer.h"
#include "support/TempDir.h"

namespace ktinet::test {

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

ToolOutcome RunTool(const std::string& args) {
  TempDir dir;
  ToolOutcome o;
  o.out = RunCommand("env -u http_proxy -u HTTP_PROXY -u https_proxy -u HTTPS_PROXY -u ftp_proxy -u FTP_PROXY "
                     "-u all_proxy -u ALL_PROXY KTINET_UI=headless " +
                         ShellQuote(KTINET_TOOL) + " " + args + " </dev/null 2>" + ShellQuote(dir / "err"),
                     &o.status);
  o.err = ReadFileBytes(dir / "err");
  return o;
}

}  // namespace ktinet::test
