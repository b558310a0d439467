// The updater and the listing over file-system paths (isNetwork), in temporary directories: the
// comparison table, stamping, cancel, resume, and directory walks.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "TransferSupport.h"
#include "support/TempDir.h"

namespace ktinet::test {
namespace {

constexpr Int64 kRemoteTime = 133000000000000000LL + 1234567;  // 2022, with 100-ns digits

struct Site {
  TempDir remoteDir, localDir;
  std::string remote, local;
  explicit Site(const std::string& content) {
    remote = remoteDir.Write("data.bin", content);
    SetMTime(remote, kRemoteTime);
    local = localDir / "data.bin";
  }
  void Setup(TProbe& u) const {
    u.SetService(isNetwork);
    u.SetRemoteFileName(U16(remote));
    u.SetLocalFileName(U16(local));
  }
};

TEST(NetworkUpdater, DownloadsWhenMissingAndStampsTheRemoteTime) {
  const std::string content = PatternBytes(1000);
  Site site(content);
  TProbe u(nullptr);
  site.Setup(u);
  TEventLog log;
  log.Attach(u);
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isFinished);
  EXPECT_TRUE(SameBytes(ReadFileBytes(site.local), content));
  EXPECT_EQ(MTime(site.local), kRemoteTime);  // to the 100-ns unit
  EXPECT_EQ(u.RemoteFileSize(), 1000u);
  EXPECT_EQ(FileTimeValue(u.RemoteFileCreated()), kRemoteTime);
  EXPECT_EQ(log.events, (std::vector<std::string>{"a:1", "a:2", "a:5", "a:6", "a:7", "a:8", "a:9", "a:10", "a:3",
                                                  "a:4", "s:1"}));
  // Nothing but the file itself is left in the local directory.
  EXPECT_EQ(DirEntries(site.localDir.Path()), std::vector<std::string>{"data.bin"});

  // The second run finds both equal; a run that starts from isFinished announces isInProgress
  // again, while the actions that equal the last run's last one stay silent.
  log.events.clear();
  bool sawEqual = false;
  u.SetOnFileCompare([&](TObject*, bool& equal) { sawEqual = equal; });
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isSkipped);
  EXPECT_TRUE(sawEqual);
  EXPECT_EQ(log.events.front(), "s:0");
}

TEST(NetworkUpdater, ComparisonTable) {
  const std::string content = PatternBytes(1000, 2);
  struct Case {
    const char* what;
    size_t localSize;  // SIZE_MAX: no local file
    Int64 localTime;
    bool download;
  } cases[] = {
      {"same size, same time", 1000, kRemoteTime, false},
      {"same size, local later", 1000, kRemoteTime + 10000000, false},
      {"same size, local older by one 100-ns unit", 1000, kRemoteTime - 1, true},
      {"different size, local newer", 999, kRemoteTime + 10000000, true},
  };
  for (const Case& c : cases) {
    Site site(content);
    const std::string old = PatternBytes(c.localSize, 9);
    site.localDir.Write("data.bin", old);
    SetMTime(site.local, c.localTime);
    TProbe u(nullptr);
    site.Setup(u);
    EXPECT_TRUE(u.Execute()) << c.what;
    EXPECT_EQ(u.Status(), c.download ? isFinished : isSkipped) << c.what;
    EXPECT_TRUE(SameBytes(ReadFileBytes(site.local), c.download ? content : old)) << c.what;
    EXPECT_EQ(MTime(site.local), c.download ? kRemoteTime : c.localTime) << c.what;
  }

  // OnFileCompare has the last word either way.
  Site site(content);
  site.localDir.Write("data.bin", "old");
  TProbe u(nullptr);
  site.Setup(u);
  bool seen = true;
  u.SetOnFileCompare([&](TObject*, bool& equal) {
    seen = equal;
    equal = true;
  });
  EXPECT_TRUE(u.Execute());
  EXPECT_FALSE(seen);
  EXPECT_EQ(u.Status(), isSkipped);
  EXPECT_EQ(ReadFileBytes(site.local), "old");
}

TEST(NetworkUpdater, EmptyRemoteFileIsSkippedUnlessTheHandlerInsists) {
  Site site("");
  site.localDir.Write("data.bin", "local");
  TProbe u(nullptr);
  site.Setup(u);
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isSkipped);
  EXPECT_EQ(ReadFileBytes(site.local), "local");

  // Forced: the copy runs with an expected size of 0, so progress shows no maximum.
  std::vector<std::pair<Integer, Integer>> progress;
  u.SetOnProgress([&](TObject*, Integer cur, Integer max, bool&) { progress.push_back({cur, max}); });
  u.SetOnFileCompare([](TObject*, bool& equal) { equal = false; });
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isFinished);
  EXPECT_EQ(ReadFileBytes(site.local), "");
  EXPECT_EQ(progress, (std::vector<std::pair<Integer, Integer>>{{0, 0}}));
}

TEST(NetworkUpdater, SizesAbove4GiBCompareByTheirLow32Bits) {
  // A sparse remote file of 4 GiB + 10 bytes against a local one of 10 bytes, not older.
  TempDir dir;
  const std::string remote = dir / "big.img";
  {
    int fd = ::open(remote.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, (Int64(1) << 32) + 10), 0) << "no sparse files here";
    ::close(fd);
  }
  SetMTime(remote, kRemoteTime);
  const std::string local = dir.Write("small.img", "0123456789");
  SetMTime(local, kRemoteTime);
  TProbe u(nullptr);
  u.SetService(isNetwork);
  u.SetRemoteFileName(U16(remote));
  u.SetLocalFileName(U16(local));
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.RemoteFileSize(), 10u);
  EXPECT_EQ(u.Status(), isSkipped);
}

TEST(NetworkUpdater, MissingSourceAndMissingRemote) {
  TempDir dir;
  TProbe u(nullptr);
  u.SetService(isNetwork);
  u.SetRemoteFileName(U16(dir / "absent.bin"));
  u.SetLocalFileName(U16(dir / "local.bin"));
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isNotFound);
  EXPECT_FALSE(FileExists(U16(dir / "local.bin")));

  // A local file that cannot be created is a stream error that leaves Execute.
  dir.Write("remote.bin", "abc");
  u.SetRemoteFileName(U16(dir / "remote.bin"));
  u.SetLocalFileName(U16(dir / "no-such-dir/local.bin"));
  EXPECT_THROW(u.Execute(), EStreamError);
}

TEST(NetworkUpdater, CancelKeepsThePreviousFileAndLeavesNoTemporaryFile) {
  const std::string content = PatternBytes(50000, 3);
  Site site(content);
  site.localDir.Write("data.bin", "previous version");
  const Int64 oldTime = kRemoteTime - 50000000;
  SetMTime(site.local, oldTime);
  TProbe u(nullptr);
  site.Setup(u);
  int blocks = 0;
  u.SetOnProgress([&](TObject*, Integer cur, Integer max, bool& abort) {
    EXPECT_EQ(cur, 2050 * (blocks + 1));  // one update per 2050-byte block
    EXPECT_EQ(max, 50000);
    if (++blocks == 3) abort = true;
  });
  EXPECT_FALSE(u.Execute());
  EXPECT_EQ(u.Status(), isFailed);
  EXPECT_EQ(blocks, 3);
  EXPECT_EQ(ReadFileBytes(site.local), "previous version");
  EXPECT_EQ(MTime(site.local), oldTime);  // not stamped: it must not look current
  EXPECT_EQ(DirEntries(site.localDir.Path()), std::vector<std::string>{"data.bin"});

  // With ResumeDownload the part stays in place (stamped, but its size tells the next run).
  site.localDir.Write("data.bin", "");
  u.SetResumeDownload(true);
  blocks = 0;
  EXPECT_FALSE(u.Execute());
  EXPECT_TRUE(SameBytes(ReadFileBytes(site.local), content.substr(0, 3 * 2050)));
  // The next run continues from there: no byte twice.
  u.SetOnProgress(nullptr);
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isFinished);
  EXPECT_TRUE(SameBytes(ReadFileBytes(site.local), content));
}

TEST(NetworkUpdater, ResumeContinuesFromTheLocalSizeOrStartsOver) {
  const std::string content = PatternBytes(10000, 4);
  Site site(content);
  TProbe u(nullptr);
  site.Setup(u);
  u.SetResumeDownload(true);
  site.localDir.Write("data.bin", content.substr(0, 4321));
  EXPECT_TRUE(u.Execute());
  EXPECT_TRUE(SameBytes(ReadFileBytes(site.local), content));

  // A local file longer than the source is no prefix of it: the copy starts over.
  site.localDir.Write("data.bin", content + "tail");
  EXPECT_TRUE(u.Execute());
  EXPECT_TRUE(SameBytes(ReadFileBytes(site.local), content));
}

TEST(NetworkListing, NamesPrefixesAndRecursion) {
  TempDir dir;
  dir.Write("a.txt", "a");
  dir.Write("b.log", "b");
  ASSERT_TRUE(ForceDirectories(U16(dir / "sub.txt/deeper.txt")));
  ASSERT_TRUE(ForceDirectories(U16(dir / "other")));
  dir.Write("sub.txt/c.txt", "c");
  dir.Write("sub.txt/deeper.txt/d.txt", "d");
  dir.Write("other/e.txt", "e");
  TProbe u(nullptr);
  u.SetService(isNetwork);

  TStringList list;
  EXPECT_TRUE(u.ReadDirFromInet(U16(dir.Path()), u"*.txt", true, &list));
  std::vector<std::string> got;
  for (int i = 0; i < list.Count(); ++i) got.push_back(U8(list[i]).substr(dir.Path().size()));
  // Depth first inside the enumeration: a sub-folder's entries follow the folder itself; "other"
  // does not match the mask and is never entered.
  auto at = [&](const std::string& s) { return std::find(got.begin(), got.end(), s) - got.begin(); };
  ASSERT_EQ(got.size(), 5u) << ::testing::PrintToString(got);
  EXPECT_LT(at("/sub.txt"), at("/sub.txt/c.txt"));
  EXPECT_LT(at("/sub.txt"), at("/sub.txt/deeper.txt"));
  EXPECT_EQ(at("/sub.txt/deeper.txt") + 1, at("/sub.txt/deeper.txt/d.txt"));
  EXPECT_LT(at("/a.txt"), 5);
  EXPECT_EQ(at("/other/e.txt"), 5);

  // "*.*" matches "." and "..": listed, never entered. The caller's list is not cleared.
  TStringList all;
  all.Add(u"kept");
  EXPECT_TRUE(u.ReadDirFromInet(U16(dir / "other"), u"*.*", true, &all));
  std::vector<std::string> names;
  for (int i = 0; i < all.Count(); ++i) names.push_back(U8(all[i]));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{dir / "other/.", dir / "other/..", dir / "other/e.txt", "kept"}));

  // An empty directory argument lists the current directory with bare names.
  TempDir cwd;
  cwd.Write("x.txt", "x");
  const String before = GetCurrentDir();
  ASSERT_EQ(::chdir(cwd.Path().c_str()), 0);
  TStringList bare;
  EXPECT_TRUE(u.ReadDirFromInet(u"", u"*.txt", false, &bare));
  ASSERT_EQ(::chdir(U8(before).c_str()), 0);
  EXPECT_EQ(U8(bare.Text()), "x.txt\r\n");
}

TEST(NetworkListing, ALinkBackUpTheTreeEnds) {
  TempDir dir;
  ASSERT_TRUE(ForceDirectories(U16(dir / "a/b")));
  ASSERT_EQ(::symlink("..", (dir / "a/b/up").c_str()), 0);
  TProbe u(nullptr);
  u.SetService(isNetwork);
  TStringList list;
  EXPECT_TRUE(u.ReadDirFromInet(U16(dir.Path()), u"*", true, &list));
  EXPECT_LT(list.Count(), 10) << U8(list.Text());
  EXPECT_GE(list.IndexOf(U16(dir / "a/b/up")), 0);
}

}  // namespace
}  // namespace ktinet::test
