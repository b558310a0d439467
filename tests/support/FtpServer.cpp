#include "support/FtpServer.h"

#include <sys/stat.h>
#include <utime.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "support/Net.h"

namespace ktinet::test {

FtpServer::FtpServer(Options options) : FOptions(std::move(options)), FDir(std::make_unique<TempDir>()) {
  FPort = FreePort();
  std::filesystem::create_directories(Root());
  ServerProcess::Options p;
  p.argv = {"/usr/bin/python3", std::string(KTINET_SOURCE_DIR) + "/tests/support/ftp_server.py", "--root", Root(),
            "--port", std::to_string(FPort), "--ready", *FDir / "ready", "--user", FOptions.user, "--password",
            FOptions.password};
  if (!FOptions.mlsd) p.argv.push_back("--no-mlsd");
  if (FOptions.endlessListing) p.argv.push_back("--endless-listing");
  p.name = "pyftpdlib";
  p.port = FPort;
  FProcess = std::make_unique<ServerProcess>(std::move(p));
}

FtpServer::~FtpServer() {
  if (FProcess) FProcess->Stop();
}

std::string FtpServer::Write(const std::string& relPath, const std::string& bytes, std::time_t mtime) const {
  std::filesystem::path path = std::filesystem::path(Root()) / relPath;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("FtpServer: cannot write " + path.string());
  if (mtime != 0) {
    struct utimbuf times {mtime, mtime};
    if (::utime(path.c_str(), &times) != 0) throw std::runtime_error("FtpServer: cannot stamp " + path.string());
  }
  return path.string();
}

void FtpServer::MakeDir(const std::string& relPath) const {
  std::filesystem::create_directories(std::filesystem::path(Root()) / relPath);
}

}  // namespace ktinet::test
