// Shared pieces of the transfer tests: a component that opens its protected operations, an event
// recorder, and file helpers.
#pragma once

#include <sys/stat.h>
#include <sys/time.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "rtl/DateTime.h"
#include "transfer/ktiupdate.h"

namespace ktinet::test {

// The updater with its protected operations in reach; Body, when set, replaces its run.
class TProbe : public TKtWebUpdater {
 public:
  using TKtWebUpdater::TKtWebUpdater;
  using TKtCustomWebComponent::ConnectToInet;
  using TKtCustomWebComponent::DisconnectFromInet;
  using TKtCustomWebComponent::GetFileInfoFromInet;
  using TKtCustomWebComponent::ReadDirFromInet;
  using TKtCustomWebComponent::ReadFileFromInet;
  using TKtCustomWebComponent::ReadHTTPGetResponse;
  using TKtCustomWebComponent::ReadHTTPGetResponseString;
  using TKtCustomWebComponent::UpdateProgress;
  HINTERNET Session() const { return hInet; }
  HINTERNET Connection() const { return hURL; }
  HINTERNET Request() const { return hFindFile; }

  std::function<void()> Body;
  void InternalExecute() override {
    if (Body) Body();
    else TKtWebUpdater::InternalExecute();
  }
};

// Every Action and Status change, in order, as "a:N" and "s:N".
struct TEventLog {
  std::vector<std::string> events;
  void Attach(TKtCustomWebComponent& c) {
    c.SetOnActionChange([this, &c](TObject*) { events.push_back("a:" + std::to_string(c.Action())); });
    c.SetOnStatusChange([this, &c](TObject*) { events.push_back("s:" + std::to_string(c.Status())); });
  }
  std::vector<TKtIAction> Actions() const {
    std::vector<TKtIAction> out;
    for (const auto& e : events)
      if (e[0] == 'a') out.push_back(static_cast<TKtIAction>(std::stoi(e.substr(2))));
    return out;
  }
};

inline Int64 FileTimeValue(const FILETIME& ft) { return FileTimeToInt64(ft); }

// The last-write time of a file as a FILETIME value (100 ns since 1601); -1 when missing.
inline Int64 MTime(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  return FileTimeToInt64(UnixToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec));
}

// Sets a file's last-write time to a FILETIME value.
inline void SetMTime(const std::string& path, Int64 fileTime) {
  Int64 unix100 = fileTime - 116444736000000000LL;
  struct timespec ts[2];
  ts[0].tv_sec = 0;
  ts[0].tv_nsec = UTIME_OMIT;
  ts[1].tv_sec = static_cast<time_t>(unix100 / 10000000);
  ts[1].tv_nsec = static_cast<long>((unix100 % 10000000) * 100);
  ::utimensat(AT_FDCWD, path.c_str(), ts, 0);
}

inline Int64 FileTimeOfUnix(std::time_t t) { return FileTimeToInt64(UnixToFileTime(t, 0)); }

inline std::string PatternBytes(size_t n, unsigned seed = 1) {
  std::string s(n, '\0');
  unsigned x = seed * 2654435761u + 12345;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(x >> 16);
  }
  return s;
}

// Names in a directory other than "." and ".." (to see leftovers such as temporary files).
std::vector<std::string> DirEntries(const std::string& dir);

// Compares file contents without printing megabytes when they differ.
inline ::testing::AssertionResult SameBytes(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  size_t i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
  return ::testing::AssertionFailure() << "got " << got.size() << " bytes, want " << want.size()
                                       << ", first difference at offset " << i;
}

inline std::string U8(const String& s) { return UTF8Encode(s); }
inline String U16(const std::string& s) { return UTF8ToString(s); }

}  // namespace ktinet::test
