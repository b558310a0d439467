// The whole-job deadline of a client socket bounds every wait, not only connects and reads: a
// name lookup that hangs, a send to a peer that reads nothing, a TLS handshake the server never
// answers.
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/Sockets.h"
#include "platform/Tls.h"
#include "support/ScriptedServer.h"

namespace ktinet {
namespace {

using test::Script;
using test::ScriptedServer;

const std::string kJobOver = "Time limit of 400 ms for the whole job ran out";

// The message of the ESocketError `job` raises; empty when it raised none.
template <class Job>
std::string Raised(Job job) {
  try {
    job();
  } catch (const ESocketError& e) {
    return e.what();
  }
  return std::string();
}

// A lookup that hangs until the test lets it go, then answers with the loopback address.
std::atomic<bool> gReleaseLookup{false};
std::atomic<int> gLookupPort{0};
std::atomic<int> gLookups{0};
int HangingLookup(const std::string&, int port, std::vector<TResolvedAddress>& out) {
  ++gLookups;
  for (int i = 0; i < 1000 && !gReleaseLookup; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  TResolvedAddress a;
  auto* in = reinterpret_cast<sockaddr_in*>(&a.Addr);
  in->sin_family = AF_INET;
  in->sin_port = htons(static_cast<uint16_t>(port));
  in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.Length = sizeof(sockaddr_in);
  out.push_back(a);
  return 0;
}

TEST(SocketDeadline, BoundsANameLookupThatHangs) {
  ScriptedServer server;
  server.SetDefault(Script().Stall(100));
  const TNameLookup previous = SetNameLookup(&HangingLookup);
  gReleaseLookup = false;
  TClientSocket client(nullptr);
  client.SetHost(u"hangs.example.test");
  client.SetPort(server.Port());
  client.StartDeadline(400);
  EXPECT_EQ(Raised([&] { client.Open(); }), kJobOver);
  EXPECT_FALSE(client.Active());
  EXPECT_EQ(gLookups, 1);

  // Without a deadline the same lookup is waited for, and the connection is made.
  client.StartDeadline(0);
  gReleaseLookup = true;
  EXPECT_EQ(Raised([&] { client.Open(); }), "");
  EXPECT_TRUE(client.Active());
  client.Close();
  SetNameLookup(previous);
}

TEST(SocketDeadline, BoundsASendToAPeerThatReadsNothing) {
  ScriptedServer server;
  server.Add(Script().Stall(20000));
  TClientSocket client(nullptr);
  client.SetAddress(u"127.0.0.1");
  client.SetPort(server.Port());
  client.Open();
  ASSERT_TRUE(client.Active());
  client.StartDeadline(400);
  // Far more than the socket buffers of both ends hold.
  const std::string bulk(64u << 20, 'x');
  EXPECT_EQ(Raised([&] { client.Socket()->SendBuf(bulk.data(), static_cast<int>(bulk.size())); }), kJobOver);
  EXPECT_FALSE(client.Active());
}

TEST(SocketDeadline, BoundsATlsHandshakeTheServerNeverAnswers) {
  ScriptedServer server;
  server.Add(Script().Stall(20000));
  TClientSocket client(nullptr);
  client.SetAddress(u"127.0.0.1");
  client.SetPort(server.Port());
  client.Open();
  ASSERT_TRUE(client.Active());
  // The read time-out alone (0: forever) would let the handshake wait for the server.
  client.StartDeadline(400);
  TTlsOptions options;
  options.ServerName = u"127.0.0.1";
  EXPECT_EQ(Raised([&] { StartTls(client, options); }), kJobOver);
  EXPECT_FALSE(client.Active());

  // A handshake time-out of its own that is shorter than what is left keeps its own words.
  server.Add(Script().Stall(20000));
  client.Open();
  client.StartDeadline(10000);
  options.HandshakeTimeoutMs = 200;
  EXPECT_EQ(Raised([&] { StartTls(client, options); }),
            "TLS handshake with 127.0.0.1 failed: no answer within 200 ms");
}

}  // namespace
}  // namespace ktinet
