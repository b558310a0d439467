#include "support/ServerProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "support/Net.h"

extern char** environ;

namespace ktinet::test {

namespace {
using Clock = std::chrono::steady_clock;

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}
}  // namespace

std::string DescribeWaitStatus(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  return "stopped (status " + std::to_string(status) + ")";
}

ServerProcess::ServerProcess(Options options) : FOptions(std::move(options)) {
  if (FOptions.argv.empty()) throw std::runtime_error("ServerProcess: no program given");
  if (FOptions.name.empty()) FOptions.name = FOptions.argv[0];
  FDir = std::make_unique<TempDir>();
  FLogPath = *FDir / "server.log";
  Start();
  try {
    WaitReady();
  } catch (...) {
    Stop();
    throw;
  }
}

ServerProcess::~ServerProcess() { Stop(); }

void ServerProcess::Start() {
  // Everything the child needs is prepared before fork: between fork and exec only
  // async-signal-safe calls are allowed (other test threads may hold locks).
  std::vector<char*> argv;
  for (auto& a : FOptions.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string key = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (auto& [k, v] : FOptions.env) replaced = replaced || k == key;
    if (!replaced) envStrings.push_back(std::move(entry));
  }
  for (auto& [k, v] : FOptions.env) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);

  // The program is looked up in PATH here, since execvpe's search allocates.
  std::string program = FOptions.argv[0];
  if (program.find('/') == std::string::npos) {
    const char* path = ::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
      size_t end = dirs.find(':', start);
      std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
      std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
      if (::access(candidate.c_str(), X_OK) == 0) {
        program = candidate;
        break;
      }
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  const std::string workDir = FOptions.workDir.empty() ? FDir->Path() : FOptions.workDir;

  int logFd = ::open(FLogPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (logFd < 0) throw std::runtime_error("ServerProcess: cannot create " + FLogPath + ": " + std::strerror(errno));
  int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  // The child reports a failed exec through this pipe; a successful exec closes it empty.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    ::close(logFd);
    if (nullFd >= 0) ::close(nullFd);
    throw std::runtime_error(std::string("ServerProcess: pipe: ") + std::strerror(errno));
  }
  const pid_t parent = ::getpid();

  pid_t pid = ::fork();
  if (pid < 0) {
    int e = errno;
    ::close(logFd);
    if (nullFd >= 0) ::close(nullFd);
    ::close(report[0]);
    ::close(report[1]);
    throw std::runtime_error(std::string("ServerProcess: fork: ") + std::strerror(e));
  }
  if (pid == 0) {
    ::setpgid(0, 0);
    // A test run that crashes must not leave servers behind.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    if (nullFd >= 0) ::dup2(nullFd, 0);
    ::dup2(logFd, 1);
    ::dup2(logFd, 2);
    int err = 0;
    if (::chdir(workDir.c_str()) != 0) {
      err = errno;
    } else {
      ::execve(program.c_str(), argv.data(), envp.data());
      err = errno;
    }
    ssize_t ignored = ::write(report[1], &err, sizeof err);
    (void)ignored;
    ::_exit(127);
  }
  // Also set here, so that the group exists before the parent signals it.
  ::setpgid(pid, pid);
  FPid = pid;
  ::close(logFd);
  if (nullFd >= 0) ::close(nullFd);
  ::close(report[1]);
  int childErr = 0;
  ssize_t n;
  do {
    n = ::read(report[0], &childErr, sizeof childErr);
  } while (n < 0 && errno == EINTR);
  ::close(report[0]);
  if (n == static_cast<ssize_t>(sizeof childErr)) {
    ::waitpid(FPid, &FStatus, 0);
    FPid = -1;
    throw std::runtime_error("ServerProcess: cannot start " + FOptions.argv[0] + " (in " + workDir +
                             "): " + std::strerror(childErr));
  }
}

void ServerProcess::WaitReady() {
  const auto deadline = Clock::now() + std::chrono::milliseconds(FOptions.readyTimeoutMs);
  for (;;) {
    if (!Running()) Fail("exited before it was ready (" + DescribeWaitStatus(FStatus) + ")");
    bool ready;
    if (FOptions.port > 0)
      ready = PortAccepts(FOptions.port, 200, FOptions.host.c_str());
    else if (FOptions.probe)
      ready = FOptions.probe();
    else if (!FOptions.readyFile.empty())
      ready = FileExists(FOptions.readyFile);
    else
      ready = true;
    if (ready) return;
    if (Clock::now() >= deadline)
      Fail("was not ready within " + std::to_string(FOptions.readyTimeoutMs) + " ms");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void ServerProcess::Fail(const std::string& why) {
  std::string what = "server " + FOptions.name + " " + why + "; log " + FLogPath + ":\n" + LogTail();
  Stop();
  throw std::runtime_error(what);
}

bool ServerProcess::Running() {
  if (FPid <= 0) return false;
  int status = 0;
  pid_t r = ::waitpid(FPid, &status, WNOHANG);
  if (r == 0) return true;
  if (r == FPid) FStatus = status;
  // The group may outlive its leader; those are ended by Stop.
  return false;
}

void ServerProcess::Stop() {
  if (FPid <= 0) return;
  const pid_t group = FPid;
  if (Running()) {
    ::kill(-group, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::milliseconds(FOptions.stopTimeoutMs);
    while (Running() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (Running()) {
      ::kill(-group, SIGKILL);
      int status = 0;
      while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
      }
      FStatus = status;
    }
  }
  // Children the server left behind in its group. The group id cannot have been reused while
  // any member remains, so this reaches only our own processes.
  ::kill(-group, SIGKILL);
  FPid = -1;
}

std::string ServerProcess::LogTail(size_t maxBytes) const {
  std::string log = ReadFileBytes(FLogPath);
  if (log.size() > maxBytes) log = "..." + log.substr(log.size() - maxBytes);
  return log;
}

}  // namespace ktinet::test
