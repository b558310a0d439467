// `ktinet query`: the socket core on its own; `ktinet about`; the demo's TKtInetBase line.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "Cli.h"
#include "Demo.h"
#include "DemoServers.h"
#include "Output.h"
#include "SocketOptions.h"
#include "core/KtInBase.h"
#include "core/KtInCnst.h"

namespace ktinet::cli {

namespace {

// The base component with a query given from outside.
class TKtInetTextQuery : public TKtInetBase {
 public:
  using TKtInetBase::TKtInetBase;
  String Query;

 protected:
  String GetQuery() override { return Query; }
};

// Writes the answer's bytes as they came, in slices: a large answer is not copied whole.
bool WriteBytes(int fd, const String& text) {
  constexpr size_t kSlice = 1 << 20;
  std::string bytes;
  for (size_t at = 0; at < text.size(); at += kSlice) {
    size_t n = std::min(kSlice, text.size() - at);
    bytes.resize(n);
    NarrowChars(text.data() + at, n, bytes.data());
    const char* p = bytes.data();
    while (n > 0) {
      ssize_t w = ::write(fd, p, n);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      p += w;
      n -= static_cast<size_t>(w);
    }
  }
  return true;
}

int ParsePort(const std::string& text) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(text) < 1 || std::stoi(text) > 65535)
    throw UsageError("PORT wants a number from 1 to 65535, not '" + text + "'");
  return std::stoi(text);
}

int RunQuery(const Args& args) {
  args.ExpectPositional(2, 3);
  TKtInetTextQuery query(nullptr);
  query.SetHost(UTF8ToString(args.Positional()[0]));
  query.SetPort(ParsePort(args.Positional()[1]));
  if (args.Positional().size() > 2) query.Query = BytesToString(Unescape(args.Positional()[2]));
  ApplySocketOptions(args, query);

  String answer = RunAskingProxyLogon(query, [&] { return query.Execute(); });
  if (!query.LastError().empty()) {
    std::cerr << "ktinet query: " << FailureText(query) << "\n";
    return kExitFailed;
  }
  std::cout.flush();
  // A person's terminal gets the answer defused; a pipe or a file gets it byte for byte.
  if (StdoutIsTerminal()) answer = BytesToString(EscapeControls(StringToBytes(answer), LineBreaks::kKeep));
  if (!WriteBytes(STDOUT_FILENO, answer)) {
    std::cerr << "ktinet query: cannot write the answer: " << std::strerror(errno) << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

int RunAbout(const Args& args) {
  args.ExpectPositional(0, 0);
  AboutKtInet();
  return kExitOk;
}

std::vector<Args::OptionSpec> QueryOptions() { return SocketOptions(); }

DemoOutcome DemoInetBase() {
  DemoServer server(EchoAndCloseHandler());
  TKtInetTextQuery query(nullptr);
  query.SetHost(UTF8ToString(DemoServer::Host()));
  query.SetPort(server.Port());
  query.SetConnectTimeout(5000);
  query.SetReadTimeout(5000);
  query.Query = u"hello\r\n";
  const String expected = query.Query + u"Proxy-Connection: Keep-Alive\r\n\r\n";
  String answer = query.Execute();

  DemoOutcome out;
  out.did = "query \"hello\" to an echo-and-close server on 127.0.0.1:" + std::to_string(server.Port());
  if (!query.LastError().empty()) {
    out.result = "error: " + UTF8Encode(query.LastError());
  } else if (answer != expected) {
    out.result = "unexpected echo of " + std::to_string(answer.size()) + " bytes";
  } else {
    out.ok = true;
    out.result = "echoed " + std::to_string(answer.size()) + " bytes: the query and its header block";
  }
  return out;
}

}  // namespace

KTINET_COMMAND(Command{
    "query", "send a text to a TCP server and print its answer (the socket core)",
    std::string("Usage: ktinet query HOST PORT [TEXT] [OPTIONS]\n\n"
                "Connects to HOST:PORT (through a proxy when one is given), sends TEXT followed by\n"
                "the header block, and prints everything the server sends until it closes, bytes\n"
                "as they are (on a terminal, control characters other than line ends and tabs show\n"
                "as \\xHH). C escapes in TEXT are understood (\\r \\n \\t \\\\ \\0 \\xHH). Without\n"
                "TEXT nothing is sent and the server speaks first.\n\n"
                "An answer whose status after its first space is 401, 404 or 407 is reported as an\n"
                "error, as is a failed read: the message goes to stderr and the exit code is 1.\n\n"
                "Options:\n") +
        kSocketOptionsHelp,
    QueryOptions(), RunQuery});

KTINET_COMMAND(Command{"about", "show the suite's About text", "Usage: ktinet about\n\n"
                                                             "Shows the About box: on the terminal as a message box,\n"
                                                             "otherwise the text on stderr.\n",
                       {}, RunAbout});

KTINET_DEMO_STEP(DemoStep{10, "TKtInetBase", DemoInetBase});

}  // namespace ktinet::cli
