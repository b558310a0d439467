// `ktinet http`: TKtIHTTPClient from the command line, and its line in the demo.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>

#include "Cli.h"
#include "Demo.h"
#include "DemoServers.h"
#include "Files.h"
#include "Output.h"
#include "SocketOptions.h"
#include "protocols/KtIHTTP.h"
#include "vcl/UiBackend.h"

namespace ktinet::cli {

namespace {

struct HttpUrl {
  std::string host;
  int port = 80;
  std::string path = "/";
};

HttpUrl ParseHttpUrl(const std::string& url) {
  const std::string scheme = "http://";
  if (url.size() < scheme.size() || !std::equal(scheme.begin(), scheme.end(), url.begin(), [](char a, char b) {
        return a == std::tolower(static_cast<unsigned char>(b));
      }))
    throw UsageError("URL must begin with http:// (this client speaks plain HTTP/1.0), not '" + url + "'");
  HttpUrl out;
  std::string rest = url.substr(scheme.size());
  size_t slash = rest.find_first_of("/?");
  std::string authority = rest.substr(0, slash);
  if (slash != std::string::npos) out.path = rest[slash] == '?' ? "/" + rest.substr(slash) : rest.substr(slash);
  size_t hash = out.path.find('#');
  if (hash != std::string::npos) out.path.erase(hash);
  if (authority.find('@') != std::string::npos) throw UsageError("user names in the URL are not supported: use -H");
  if (!authority.empty() && authority[0] == '[') {
    size_t close = authority.find(']');
    if (close == std::string::npos) throw UsageError("unclosed '[' in the URL's host");
    out.host = authority.substr(1, close - 1);
    authority = authority.substr(close + 1);
    if (!authority.empty() && authority[0] != ':') throw UsageError("malformed host in '" + url + "'");
    authority = authority.empty() ? "" : authority.substr(1);
  } else {
    size_t colon = authority.find(':');
    out.host = authority.substr(0, colon);
    authority = colon == std::string::npos ? "" : authority.substr(colon + 1);
  }
  if (out.host.empty()) throw UsageError("the URL has no host: '" + url + "'");
  if (!authority.empty()) {
    if (authority.size() > 5 || authority.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(authority) < 1 || std::stoi(authority) > 65535)
      throw UsageError("the URL's port must be a number from 1 to 65535, not '" + authority + "'");
    out.port = std::stoi(authority);
  }
  return out;
}

// Where the body begins: after the first empty line (CR LF, CR or LF line ends), or the end of the
// answer when it has none, as the component splits it. The bytes are left as they came.
size_t BodyStart(const std::string& answer) {
  size_t lineStart = 0;
  for (size_t i = 0; i < answer.size(); ++i) {
    char c = answer[i];
    if (c != '\r' && c != '\n') continue;
    size_t next = (c == '\r' && i + 1 < answer.size() && answer[i + 1] == '\n') ? i + 2 : i + 1;
    if (i == lineStart) return next;
    lineStart = next;
    i = next - 1;
  }
  return answer.size();
}

// The status line of an answer when its status is 400 or more, else empty.
std::string ErrorStatusLine(const std::string& answer) {
  std::string line = answer.substr(0, answer.find_first_of("\r\n"));
  if (line.rfind("HTTP/", 0) != 0) return std::string();
  size_t space = line.find(' ');
  if (space == std::string::npos || line.size() < space + 4) return std::string();
  const std::string code = line.substr(space + 1, 3);
  if (code.find_first_not_of("0123456789") != std::string::npos || code < "400") return std::string();
  return line.substr(space + 1);
}

int RunHttp(const Args& args) {
  args.ExpectPositional(1, 1);
  HttpUrl url = ParseHttpUrl(args.Positional()[0]);
  ChooseBackendFromEnvironment();
  TKtIHTTPClient http(nullptr);
  std::string method = args.GetOr("--request", args.Has("--data") ? "POST" : "GET");
  for (char& c : method) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (method == "HEAD") http.SetAction(haHead);
  else if (method == "GET") http.SetAction(haGet);
  else if (method == "POST") http.SetAction(haPost);
  else throw UsageError("-X takes HEAD, GET or POST, not '" + method + "'");
  http.SetHost(UTF8ToString(url.host));
  http.SetPort(url.port);
  http.SetRequest(UTF8ToString(url.path));
  for (const std::string& h : args.GetAll("--header")) {
    if (h.find(':') == std::string::npos) throw UsageError("-H wants 'Name: value', not '" + h + "'");
    http.Headers()->Add(BytesToString(h));
  }
  // The body goes out as the bytes given on the command line, or those of the file after "@".
  if (auto data = args.Get("--data"))
    http.SetBody(BytesToString(data->rfind('@', 0) == 0 ? ReadInputFile(data->substr(1)) : *data));
  // The file's own bytes are printed: the component's header removal would rewrite line ends.
  http.SetRemoveHeaders(false);
  if (args.Has("--follow")) http.SetOnRedirect([](TObject*, String&, bool& abort) { abort = false; });
  ApplySocketOptions(args, http);

  String answer = RunAskingProxyLogon(http, [&] { return http.Execute(); });
  if (!http.LastError().empty()) {
    std::cerr << "ktinet http: " << FailureText(http) << "\n";
    return kExitFailed;
  }
  std::string bytes = StringToBytes(answer);
  size_t from = args.Has("--include") ? 0 : BodyStart(bytes);
  // A pipe or a file gets the bytes as they came; a person's terminal gets them defused.
  std::string shown = bytes.substr(from);
  if (StdoutIsTerminal()) shown = EscapeControls(shown, LineBreaks::kKeep);
  std::fwrite(shown.data(), 1, shown.size(), stdout);
  if (std::fflush(stdout) != 0) return kExitFailed;
  // The body of an error page is printed like any other, but the job did not succeed.
  if (std::string status = ErrorStatusLine(bytes); !status.empty()) {
    std::cerr << "ktinet http: the server answered " << status << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

std::vector<Args::OptionSpec> HttpOptions() {
  auto specs = SocketOptions();
  specs.push_back({"--request", "-X", true});
  specs.push_back({"--header", "-H", true, true});
  specs.push_back({"--data", "", true});
  specs.push_back({"--include", "-i", false});
  specs.push_back({"--follow", "-L", false});
  return specs;
}

DemoOutcome DemoHttp() {
  const std::string page = "<html><body>Hello from the demo's web server</body></html>\n";
  DemoServer target([page](DemoConnection& conn) {
    std::string request = conn.ReceiveUntil("Keep-Alive\r\n\r\n");
    if (request.rfind("GET /welcome.html HTTP/1.0\r\n", 0) != 0) {
      conn.Send("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
      return;
    }
    conn.Send("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(page.size()) +
              "\r\n\r\n" + page);
  });
  std::string location = "http://127.0.0.1:" + std::to_string(target.Port()) + "/welcome.html";
  DemoServer mover([location](DemoConnection& conn) {
    conn.ReceiveUntil("Keep-Alive\r\n\r\n");
    conn.Send("HTTP/1.0 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n");
  });

  TKtIHTTPClient http(nullptr);
  http.SetHost(UTF8ToString(DemoServer::Host()));
  http.SetPort(mover.Port());
  http.SetAction(haGet);
  http.SetRequest(u"/");
  http.SetConnectTimeout(5000);
  http.SetReadTimeout(5000);
  int redirects = 0;
  http.SetOnRedirect([&](TObject*, String&, bool& abort) {
    ++redirects;
    abort = false;
  });
  std::string body = StringToBytes(http.Execute());

  DemoOutcome out;
  out.did = "GET / on 127.0.0.1:" + std::to_string(mover.Port()) + ", redirected to another server";
  if (!http.LastError().empty()) {
    out.result = "error: " + UTF8Encode(http.LastError());
  } else if (redirects != 1 || body.find("Hello from the demo's web server") == std::string::npos) {
    out.result = "unexpected answer after " + std::to_string(redirects) + " redirects: " + body.substr(0, 60);
  } else {
    out.ok = true;
    out.result = UTF8Encode(http.ResponseHeaders()->Get(0)) + " after 1 redirect, " + std::to_string(body.size()) +
                 " bytes of HTML";
  }
  return out;
}

}  // namespace

KTINET_COMMAND(Command{
    "http", "send an HTTP/1.0 request and print the answer (TKtIHTTPClient)",
    std::string("Usage: ktinet http [-X HEAD|GET|POST] [-H 'Name: value']... [--data TEXT] [--include]\n"
                "                   [--follow] URL [OPTIONS]\n\n"
                "URL is http://host[:port]/path. Prints the body of the answer as it came (with\n"
                "--include the whole answer, status line and headers too). Statuses 401, 404 and\n"
                "407, redirects that cannot be followed, a body shorter than its Content-Length and\n"
                "an answer larger than --max-size print their message on stderr and exit 1; any\n"
                "other status of 400 or more prints the body, then the status on stderr, and exits 1.\n"
                "On a terminal, control characters other than line ends and tabs show as \\xHH.\n\n"
                "  -X, --request M     HEAD, GET or POST (GET; POST when --data is given)\n"
                "  -H, --header H      an extra request header line; may be repeated\n"
                "      --data TEXT     request body, sent with its Content-Length; @FILE sends the\n"
                "                      bytes of FILE (@- standard input)\n"
                "  -i, --include       print the status line and headers as well\n"
                "  -L, --follow        follow 301, 302, 303, 307 and 308 (at most 5, http:// only);\n"
                "                      303, and 301/302 after POST, go on as GET without the body;\n"
                "                      Authorization and Cookie lines go to the first host only\n") +
        kSocketOptionsHelp,
    HttpOptions(), RunHttp});

KTINET_DEMO_STEP(DemoStep{21, "TKtIHTTPClient", DemoHttp});

}  // namespace ktinet::cli
