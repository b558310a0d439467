// The demo's web site for the feed, image, extractor and lister steps.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>

#include "DemoServers.h"
#include "FeedsSupport.h"

namespace ktinet::cli::feeds {

namespace {

const char kFeed[] =
    "<?xml version=\"1.0\"?>\n<rss version=\"2.0\">\n<channel>\n<title>Demo Harbour News</title>\n"
    "<link>http://news.example.org/</link>\n<description>Two short items</description>\n"
    "<item>\n<title>Ferry times change</title>\n<link>http://news.example.org/ferry</link>\n</item>\n"
    "<item>\n<title>Market reopens</title>\n<link>http://news.example.org/market</link>\n</item>\n"
    "</channel>\n</rss>\n";

const char kPage[] =
    "<html><body><a href=\"http://one.example.org/\">one</a> <a href=\"https://two.example.org/x\">two</a>\n"
    "<a href=\"mailto:desk@example.org\">mail</a> http://three.example.org/path?q=1 </body></html>\n";

std::string Png(int w, int h) {
  std::string b("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
  for (int v : {w, h})
    for (int s = 24; s >= 0; s -= 8) b += static_cast<char>((v >> s) & 0xFF);
  b += std::string("\x08\x06\0\0\0\0\0\0\0", 9);
  return b;
}

struct Site {
  std::map<std::string, std::string> files{
      {"/feeds/news.xml", kFeed}, {"/page.html", kPage}, {"/cam/shot.png", Png(320, 240)}};
  std::unique_ptr<DemoServer> server;
  Site() {
    server = std::make_unique<DemoServer>([this](DemoConnection& conn) {
      const std::string request = conn.ReceiveUntil("\r\n\r\n");
      std::string path;
      if (request.rfind("GET ", 0) == 0) path = request.substr(4, request.find(' ', 4) - 4);
      auto it = files.find(path);
      if (it == files.end()) {
        conn.Send("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        return;
      }
      conn.Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(it->second.size()) +
                "\r\nLast-Modified: Mon, 07 Dec 2026 08:00:00 GMT\r\n\r\n" + it->second);
    });
  }
};

struct Tree {
  std::string dir;
  Tree() {
    const char* env = std::getenv("TMPDIR");
    std::string tmpl = std::string(env && *env ? env : "/tmp") + "/ktinet-demo-ls-XXXXXX";
    if (!::mkdtemp(tmpl.data())) return;
    dir = tmpl;
    ::mkdir((dir + "/notes").c_str(), 0755);
    for (const char* name : {"/readme.txt", "/logo.png", "/notes/a.txt"}) {
      if (FILE* f = std::fopen((dir + name).c_str(), "w")) std::fclose(f);
    }
  }
  ~Tree() {
    if (dir.empty()) return;
    for (const char* name : {"/readme.txt", "/logo.png", "/notes/a.txt"}) ::unlink((dir + name).c_str());
    ::rmdir((dir + "/notes").c_str());
    ::rmdir(dir.c_str());
  }
};

}  // namespace

int DemoSitePort() {
  static Site site;
  return site.server->Port();
}

std::string DemoTree() {
  static Tree tree;
  return tree.dir;
}

}  // namespace ktinet::cli::feeds
