// Runs a real server program for a test: started in its own process group with its output in a
// log file, waited on until it is ready (bounded), and stopped by its process id when the fixture
// goes away. A server that dies or never gets ready makes the constructor throw with the tail of
// its log, so the failing test says why.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/TempDir.h"

namespace ktinet::test {

class ServerProcess {
 public:
  struct Options {
    std::vector<std::string> argv;                            // argv[0] is looked up in PATH
    std::vector<std::pair<std::string, std::string>> env;     // added to (or replacing in) ours
    std::string workDir;                                      // empty: the log directory
    std::string name;                                         // for messages; argv[0] when empty
    // Readiness: the first that is set is used: a TCP port on host, a probe, a file that appears.
    int port = 0;
    std::string host = "127.0.0.1";
    std::function<bool()> probe;
    std::string readyFile;
    int readyTimeoutMs = 10000;
    int stopTimeoutMs = 3000;  // grace between SIGTERM and SIGKILL
  };

  // Starts the server and waits until it is ready; throws std::runtime_error otherwise.
  // The server is killed if the thread that started it ends, so start it on the test's thread.
  explicit ServerProcess(Options options);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // SIGTERM to the process group, a bounded wait, then SIGKILL; reaps the server. Idempotent.
  void Stop();
  // True while the server has not exited.
  bool Running();
  pid_t Pid() const { return FPid; }
  // Exit status as waitpid reports it once the server has been reaped (-1 before).
  int WaitStatus() const { return FStatus; }
  const std::string& LogPath() const { return FLogPath; }
  // The last maxBytes of the server's output.
  std::string LogTail(size_t maxBytes = 4000) const;

 private:
  void Start();
  void WaitReady();
  [[noreturn]] void Fail(const std::string& why);

  Options FOptions;
  std::unique_ptr<TempDir> FDir;
  std::string FLogPath;
  pid_t FPid = -1;
  int FStatus = -1;
};

// Describes a wait status ("exited with status 3", "killed by signal 9").
std::string DescribeWaitStatus(int status);

}  // namespace ktinet::test
