// The updater and the listing over FTP against pyftpdlib on loopback.
#include <gtest/gtest.h>

#include <algorithm>

#include "TransferSupport.h"
#include "support/FtpServer.h"
#include "support/TempDir.h"

namespace ktinet::test {
namespace {

constexpr std::time_t kFileTime = 1700000000;  // 2023-11-14 22:13:20 UTC

void Point(TProbe& u, const FtpServer& ftp) {
  u.SetService(isFTP);
  u.SetHost(u"127.0.0.1");
  u.SetPort(static_cast<Word>(ftp.Port()));
  u.SetUser(U16(ftp.User()));
  u.SetPassword(U16(ftp.Password()));
  u.Proxy()->SetUseProxy(false);
}

std::vector<std::string> Lines(const TStrings& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(U8(list[i]));
  return out;
}

class Ftp : public ::testing::TestWithParam<bool> {};

TEST_P(Ftp, ListingsUpdatesSizesTimesAndResume) {
  FtpServer::Options o;
  o.mlsd = GetParam();
  FtpServer ftp(o);
  const std::string content = PatternBytes(123457, 31);
  ftp.Write("pub/f.bin", content, kFileTime);
  ftp.Write("a.txt", "a");
  ftp.Write("b.log", "b");
  ftp.Write("sub.txt/c.txt", "c");
  ftp.Write("sub.txt/deeper.txt/d.txt", "d");
  ftp.Write("other/e.txt", "e");
  TempDir local;

  // Listing: bare names at the top, "/"-joined paths below; only matching folders are entered.
  TProbe u(nullptr);
  Point(u, ftp);
  TStringList list;
  bool listed = false;
  u.Body = [&] {
    u.ConnectToInet(false);
    ASSERT_NE(u.Connection(), nullptr);
    listed = u.ReadDirFromInet(u"", u"*.txt", true, &list);
    u.DisconnectFromInet();
  };
  u.Execute();
  EXPECT_TRUE(listed);
  std::vector<std::string> got = Lines(list);
  std::vector<std::string> top(got.begin(), got.begin() + std::min<size_t>(2, got.size()));
  std::sort(top.begin(), top.end());
  EXPECT_EQ(top, (std::vector<std::string>{"a.txt", "sub.txt"})) << ::testing::PrintToString(got);
  std::vector<std::string> below(got.begin() + std::min<size_t>(2, got.size()), got.end());
  // A folder's entries come in the server's order, its sub-folders' after all of them.
  if (below.size() >= 2) std::sort(below.begin(), below.begin() + 2);
  EXPECT_EQ(below, (std::vector<std::string>{"/sub.txt/c.txt", "/sub.txt/deeper.txt", "/sub.txt/deeper.txt/d.txt"}))
      << ::testing::PrintToString(got);

  // A named directory lists qualified names.
  list.Clear();
  u.Body = [&] {
    u.ConnectToInet(false);
    listed = u.ReadDirFromInet(u"/pub", u"*", false, &list);
    u.DisconnectFromInet();
  };
  u.Execute();
  EXPECT_EQ(Lines(list), std::vector<std::string>{"/pub/f.bin"});

  // The update: size and time from the listing, a byte-identical copy stamped with that time.
  u.Body = nullptr;
  u.SetRemoteFileName(u"/pub/f.bin");
  const std::string file = local / "f.bin";
  u.SetLocalFileName(U16(file));
  EXPECT_TRUE(u.Execute()) << ftp.LogTail();
  EXPECT_EQ(u.Status(), isFinished);
  EXPECT_EQ(u.RemoteFileSize(), content.size());
  EXPECT_TRUE(SameBytes(ReadFileBytes(file), content));
  // MLSD gives the time to the second; a LIST line of a file older than half a year only its day.
  EXPECT_EQ(MTime(file), FileTimeValue(u.RemoteFileCreated()));
  EXPECT_EQ(FileTimeValue(u.RemoteFileCreated()), FileTimeOfUnix(GetParam() ? kFileTime : kFileTime - 80000));
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isSkipped);

  // Resume continues from the local size (a restart offset), so nothing is written twice.
  local.Write("f.bin", content.substr(0, 50000));
  SetMTime(file, FileTimeValue(u.RemoteFileCreated()));  // the part of this very version
  u.SetResumeDownload(true);
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isFinished);
  EXPECT_TRUE(SameBytes(ReadFileBytes(file), content));

  // Missing on the server.
  u.SetRemoteFileName(u"/pub/none.bin");
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isNotFound);

  // A wrong password: the connection is not opened, the run fails.
  u.SetPassword(u"wrong");
  u.SetRemoteFileName(u"/pub/f.bin");
  EXPECT_FALSE(u.Execute());
  EXPECT_EQ(u.Status(), isFailed);
  EXPECT_TRUE(SameBytes(ReadFileBytes(file), content));
}

INSTANTIATE_TEST_SUITE_P(MlsdAndList, Ftp, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Mlsd" : "List"; });

}  // namespace
}  // namespace ktinet::test
