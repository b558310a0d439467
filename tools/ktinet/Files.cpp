#include "Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "platform/TempFiles.h"
#include "rtl/Exceptions.h"

namespace ktinet::cli {

namespace {

bool ReadAll(int fd, std::string& out) {
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(buf, static_cast<size_t>(n));
  }
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string ReadInputFile(const std::string& path) {
  std::string bytes;
  if (path == "-") {
    if (!ReadAll(STDIN_FILENO, bytes)) throw Exception("cannot read standard input: " + std::string(std::strerror(errno)));
    return bytes;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Exception("cannot read " + path + ": " + std::strerror(errno));
  const bool ok = ReadAll(fd, bytes);
  const int saved = errno;
  ::close(fd);
  if (!ok) throw Exception("cannot read " + path + ": " + std::strerror(saved));
  return bytes;
}

InputFile::InputFile(const std::string& path) : FPath(path) {
  if (path != "-") return;
  const std::string bytes = ReadInputFile(path);
  FPath = UTF8Encode(UniqueTempFileName(u""));
  // Only this user may read what came on standard input.
  const int fd = ::open(FPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) throw Exception("cannot copy standard input to " + FPath + ": " + std::strerror(errno));
  const bool ok = WriteAll(fd, bytes);
  const int saved = errno;
  if (::close(fd) != 0 || !ok) {
    // The destructor does not run for an object that was never made.
    ::unlink(FPath.c_str());
    throw Exception("cannot copy standard input to " + FPath + ": " + std::strerror(saved));
  }
  FTemporary = true;
}

InputFile::~InputFile() {
  if (FTemporary) ::unlink(FPath.c_str());
}

void WriteStandardOutput(const std::string& bytes) {
  std::cout.flush();
  if (!WriteAll(STDOUT_FILENO, bytes)) throw Exception("standard output: " + std::string(std::strerror(errno)));
}

OutputFile::OutputFile(const std::string& path) : FPath(path) {
  if (path != "-") return;
  std::string dir = UTF8Encode(TempDirectory()) + "ktinet-out-XXXXXX";
  // A directory of this user's own, so nobody can place a file or a link under the name first.
  if (!::mkdtemp(dir.data())) throw Exception("cannot make a temporary directory: " + std::string(std::strerror(errno)));
  FDir = dir;
  FPath = FDir + "/out";
}

OutputFile::~OutputFile() {
  if (FDir.empty()) return;
  // Whatever a component left there (its own temporary copies included) goes with the directory.
  if (DIR* d = ::opendir(FDir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") ::unlink((FDir + "/" + name).c_str());
    }
    ::closedir(d);
  }
  ::rmdir(FDir.c_str());
}

void OutputFile::Deliver() const {
  if (FDir.empty()) return;
  WriteStandardOutput(ReadInputFile(FPath));
}

}  // namespace ktinet::cli
