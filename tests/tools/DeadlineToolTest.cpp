// --max-time through the program holds for the socket subcommands however the server stalls:
// a request body nobody reads, a TLS handshake nobody answers; a job that goes well within it
// is untouched, TLS included.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/ScriptedServer.h"
#include "support/SmtpServer.h"
#include "support/TempDir.h"

namespace ktinet {
namespace {

using test::Script;
using test::ScriptedServer;
using test::ToolOutcome;

ToolOutcome Tool(const std::vector<std::string>& args) { return test::RunToolArgs(args, 30); }

TEST(MaxTimeTool, EndsAJobWhateverTheServerStallsOn) {
  ScriptedServer server;
  const std::string port = std::to_string(server.Port());
  // The server takes the connection and never reads: the body fills the buffers and the send
  // waits. The silence time-out is far away; only the whole-job limit can end this.
  server.Add(Script().Stall(25000));
  test::TempDir dir;
  const std::string body = dir.Write("body", std::string(48u << 20, 'b'));
  ToolOutcome run = Tool({"http", "--data", "@" + body, "http://127.0.0.1:" + port + "/up", "--timeout", "25",
                          "--max-time", "1"});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(run.err, "ktinet http: Time limit of 1000 ms for the whole job ran out\n");

  // Implicit TLS to a server that never answers the handshake.
  server.Add(Script().Stall(25000));
  run = Tool({"mail", "--server", "127.0.0.1:" + port, "--tls", "implicit", "--from", "a@example.com", "--to",
              "b@example.com", "--body", "hi", "--timeout", "25", "--max-time", "1"});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(run.err, "ktinet mail: Time limit of 1000 ms for the whole job ran out\n");
}

TEST(MaxTimeTool, AJobWithinTheLimitIsUntouched) {
  test::SmtpServer::Options o;
  o.mode = test::SmtpServer::kImplicitTls;
  test::SmtpServer smtp(o);
  ToolOutcome run = Tool({"mail", "--server", "127.0.0.1:" + std::to_string(smtp.Port()), "--tls", "implicit",
                          "--cacert", test::SmtpServer::CAFile(), "--from", "a@example.com", "--to", "b@example.com",
                          "--body", "within the limit", "--timeout", "10", "--max-time", "20"});
  EXPECT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(smtp.WaitMessages(1).size(), 1u) << smtp.LogTail();
  EXPECT_NE(smtp.Messages()[0].bytes.find("within the limit"), std::string::npos);
}

}  // namespace
}  // namespace ktinet
