#include "platform/TempFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "rtl/SysUtils.h"

namespace ktinet {

String TempDirectory() { return GetTempDir(); }

String UniqueTempFileName(const String& AExtension) {
  // The process id keeps live processes apart, the counter keeps this process's instances apart;
  // a file left by a dead process with the same id is stepped over by the exclusive create.
  static std::atomic<unsigned long> counter{0};
  const std::string dir = UTF8Encode(TempDirectory());
  const std::string ext = UTF8Encode(AExtension);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const unsigned long n = ++counter;
    std::string path = dir + "tmp" + std::to_string(static_cast<long>(::getpid())) + "-" + std::to_string(n) + ext;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      ::unlink(path.c_str());
      return UTF8ToString(path);
    }
    // A directory we cannot write to still gets a name: the download reports the failure.
    if (errno != EEXIST) return UTF8ToString(path);
  }
  return UTF8ToString(dir + "tmp" + std::to_string(static_cast<long>(::getpid())) + "-" +
                      std::to_string(++counter) + ext);
}

}  // namespace ktinet
