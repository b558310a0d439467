// Where the program's output goes: "-" for standard output wherever a file is written (the data
// alone on stdout, every message on stderr, nothing left in the temporary directory), and the
// records of `ls --json`.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/FakeServices.h"
#include "support/FtpServer.h"
#include "support/RunTool.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"

namespace ktinet {
namespace {

using test::Script;
using test::ScriptedServer;
using test::TempDir;
using test::ToolOutcome;

ToolOutcome Tool(const std::vector<std::string>& args) { return test::RunToolArgs(args); }

// The names in a directory, "." and ".." left out.
std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

// Runs the program with TMPDIR pointing at a directory of the test's own, so what the program
// leaves there is seen.
class ScratchTmp {
 public:
  ScratchTmp() {
    const char* old = std::getenv("TMPDIR");
    if (old) FOld = old;
    FHad = old != nullptr;
    setenv("TMPDIR", FDir.Path().c_str(), 1);
  }
  ~ScratchTmp() {
    if (FHad) setenv("TMPDIR", FOld.c_str(), 1);
    else unsetenv("TMPDIR");
  }
  std::vector<std::string> Left() const { return Entries(FDir.Path()); }

 private:
  TempDir FDir;
  std::string FOld;
  bool FHad = false;
};

TEST(StandardOutput, DashWritesTheDataAloneToStdout) {
  TempDir dir;
  ScratchTmp tmp;
  const std::string body = "line one\nline two\n\x01\x02 binary \xff\n";
  const std::string source = dir.Write("source.bin", body);

  // update: the file always comes (there is nothing to compare with) and only its bytes go out.
  ToolOutcome run = Tool({"update", source, "-"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, body);
  EXPECT_NE(run.err.find("finished"), std::string::npos) << run.err;
  run = Tool({"update", source, "-", "--json"});
  EXPECT_EQ(run.out, body);
  EXPECT_NE(run.err.find("\"status\":\"finished\",\"file\":\"-\""), std::string::npos) << run.err;
  run = Tool({"update", dir / "missing.bin", "-"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("not found"), std::string::npos) << run.err;
  // Nothing to continue on standard output.
  EXPECT_EQ(Tool({"update", source, "-", "--resume"}).status, 2);

  // image: the bytes of each picture that came (the unchanged second one is skipped); the fetch
  // lines on stderr.
  const std::string png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x03\0\0\0\x02\x08\x06\0\0\0\0\0\0\0", 33);
  const std::string picture = dir.Write("shot.png", png);
  run = Tool({"image", picture, "--interval", "1", "--count", "2", "--save", "-"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, png);
  EXPECT_NE(run.err.find("1: finished, png 3 x 2\n2: skipped, png 3 x 2\n"), std::string::npos) << run.err;

  // get: the body as it came.
  ScriptedServer server;
  server.Add(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                                                  "\r\nConnection: close\r\n\r\n" + body));
  run = Tool({"get", "http://127.0.0.1:" + std::to_string(server.Port()) + "/f", "-o", "-", "--timeout", "10"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, body);

  EXPECT_EQ(tmp.Left(), std::vector<std::string>());
}

TEST(StandardOutput, SpokenTextToStdout) {
  test::FakeServices fake;
  ScratchTmp tmp;
  ToolOutcome run = Tool({"speak", "guten Tag", "--lang", "de", "--out", "-", "--host", fake.BaseUrl() + "/v2/Http.svc",
                          "--cacert", fake.CAFile()});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string wav = test::ReadFileBytes(std::string(KTINET_SOURCE_DIR) + "/tests/services/data/translator_speech.wav");
  ASSERT_FALSE(wav.empty());
  EXPECT_EQ(run.out, wav);
  EXPECT_EQ(run.err, "standard output: " + std::to_string(wav.size()) + " bytes\n");
  // An error answer writes nothing.
  run = Tool({"speak", "hi", "--lang", "en", "--out", "-", "--appid", "INVALID", "--host",
              fake.BaseUrl() + "/v2/Http.svc", "--cacert", fake.CAFile()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(tmp.Left(), std::vector<std::string>());
}

// The translator's application identifier is a key: a file or the environment can carry it. The
// stand-in refuses the identifier INVALID, which shows which one reached it.
TEST(SecretForms, TheTranslatorsApplicationIdentifier) {
  test::FakeServices fake;
  TempDir dir;
  const std::vector<std::string> base = {"detect", "hello", "--host", fake.BaseUrl() + "/v2/Http.svc", "--cacert",
                                         fake.CAFile()};
  auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> args = base;
    args.insert(args.end(), more.begin(), more.end());
    return Tool(args);
  };
  EXPECT_EQ(with({}).out, "en\n");
  ToolOutcome run = with({"--appid-file", dir.Write("id", "INVALID\n")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Invalid appId"), std::string::npos) << run.err;
  setenv("KTINET_APPID", "INVALID", 1);
  run = with({});
  EXPECT_EQ(run.status, 1);
  // The command line wins over the environment.
  EXPECT_EQ(with({"--appid", "good"}).out, "en\n");
  unsetenv("KTINET_APPID");
  EXPECT_EQ(with({"--appid", "a", "--appid-file", dir.Write("id2", "b\n")}).status, 2);
}

TEST(LsJson, EntriesCarryTypeSizeAndUtcTime) {
  TempDir dir;
  const std::string file = dir.Write("b\xc3\xa4r.txt", "abcde");
  dir.Write("sub/inner.txt", "x");
  const struct timespec stamp[2] = {{1764583200, 0}, {1764583200, 0}};  // 2025-12-01T10:00:00Z
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), stamp, 0), 0);
  ASSERT_EQ(utimensat(AT_FDCWD, (dir / "sub").c_str(), stamp, 0), 0);
  ToolOutcome run = Tool({"ls", dir.Path(), "--json"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("{\"name\":\"" + file + "\",\"type\":\"file\",\"size\":5,\"time\":\"2025-12-01T10:00:00Z\"}"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("{\"name\":\"" + (dir / "sub") + "\",\"type\":\"directory\","), std::string::npos) << run.out;
  EXPECT_EQ(run.out.front(), '[');
  EXPECT_EQ(run.out.substr(run.out.size() - 2), "]\n");
  // The long form gives the same figures.
  run = Tool({"ls", dir.Path(), "--long", "--mask", "b*"});
  EXPECT_EQ(run.out, "-            5 2025-12-01T10:00:00Z " + file + "\n");
}

}  // namespace
}  // namespace ktinet
