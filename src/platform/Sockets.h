// The framework's client socket over POSIX: TClientSocket and its connection TCustomWinSocket,
// blocking TCP over getaddrinfo (IPv4 and IPv6), plus a small connected UDP socket.
//
// Notifications fire on the caller's thread from inside the blocking calls:
//   Open:       OnLookup, OnConnecting, OnConnect, then OnWrite once (the connection is
//               write-ready as soon as it is made)
//   SendBuf:    OnWrite after every successful send
//   ReceiveBuf: OnRead once data has arrived (before the call returns it); OnDisconnect when the
//               peer has closed (the call then returns 0 and the connection is closed)
//   Close:      OnDisconnect, once, when the connection was open
//   failures:   OnError with the kind and the code by reference, then ESocketError, unless the
//               handler set the code to 0 (the call then returns -1 or, for Open, leaves the
//               socket closed)
// The Sender of every notification is the TClientSocket; Socket is its connection.
//
// A failed send or receive closes the connection after the error notification (no OnDisconnect
// follows: the error notification already told the end), so that a later Open makes a fresh
// connection instead of reading the rest of an answer that was given up on. A suppressed read
// time-out is the one exception: the connection stays open and the read may be retried.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rtl/Classes.h"
#include "rtl/Exceptions.h"
#include "rtl/System.h"

namespace ktinet {

// Only blocking sockets are implemented; ctNonBlocking is accepted and behaves as ctBlocking.
enum TClientType { ctNonBlocking, ctBlocking };
enum TErrorEvent { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept, eeLookup };

class TCustomWinSocket;
class TClientSocket;

using TSocketNotifyEvent = std::function<void(TObject* Sender, TCustomWinSocket* Socket)>;
using TSocketErrorEvent =
    std::function<void(TObject* Sender, TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode)>;

// The byte stream under a connection: plain TCP now; a TLS layer can take over a connected
// descriptor (Handle()) and be installed with TCustomWinSocket::SetTransport.
// The connection owns the descriptor and closes it; a transport only reads and writes through it.
class TSocketTransport {
 public:
  virtual ~TSocketTransport() = default;
  // Writes up to count bytes, waiting at most timeoutMs for room (0 waits as long as needed);
  // returns the bytes written (> 0), or -1 with the error code in *error (ETIMEDOUT when no room
  // came in time). Must never raise SIGPIPE.
  virtual ssize_t Write(const void* buf, size_t count, int timeoutMs, int* error) = 0;
  // Reads up to count bytes, waiting at most timeoutMs (0 waits forever). Returns the bytes read,
  // 0 when the peer has closed, or -1 with the error code in *error (ETIMEDOUT on time-out).
  virtual ssize_t Read(void* buf, size_t count, int timeoutMs, int* error) = 0;
  // Bytes that can be read at once without waiting.
  virtual int Pending() const = 0;
  // Ends the session before the descriptor is closed (a TLS layer sends its close alert here).
  virtual void Shutdown() {}
  // Text of an error code this transport reported (the OS text by default).
  virtual std::string ErrorText(int error) const;
  virtual int Handle() const = 0;
};

// Plain TCP over a connected descriptor (send with MSG_NOSIGNAL, poll + recv).
class TTcpTransport : public TSocketTransport {
 public:
  explicit TTcpTransport(int fd) : FHandle(fd) {}
  ssize_t Write(const void* buf, size_t count, int timeoutMs, int* error) override;
  ssize_t Read(void* buf, size_t count, int timeoutMs, int* error) override;
  int Pending() const override;
  int Handle() const override { return FHandle; }

 private:
  int FHandle;
};

// The connection of a TClientSocket (the framework's TCustomWinSocket), reached through
// TClientSocket::Socket(). Not copyable; lives as long as its client socket.
class TCustomWinSocket : public TObject {
 public:
  explicit TCustomWinSocket(TClientSocket* client);
  ~TCustomWinSocket() override;
  TCustomWinSocket(const TCustomWinSocket&) = delete;
  TCustomWinSocket& operator=(const TCustomWinSocket&) = delete;

  // Writes all count bytes (looping over partial writes); returns count, 0 when count <= 0, or
  // -1 when an error was suppressed by the OnError handler. A peer that takes nothing holds it
  // no longer than the client's deadline (StartDeadline).
  int SendBuf(const void* buf, int count);
  // One read of at most count bytes, bounded by the client's ReadTimeout. Returns the bytes read,
  // 0 when the peer closed (OnDisconnect fires, the connection is closed) or when count <= 0
  // (nothing is read), -1 when an error or time-out was suppressed.
  int ReceiveBuf(void* buf, int count);
  // The bytes as one character each (see BytesToString); returns what SendBuf returns.
  int SendText(const String& text);
  // Whatever can be read at once, one character per byte (empty when nothing is waiting).
  String ReceiveText();
  // Bytes that can be read now without waiting.
  int ReceiveLength() const;
  bool Connected() const { return FHandle >= 0; }
  // Closes the connection; OnDisconnect fires once if it was open. Safe to call when closed.
  void Close();

  // This machine's host name (gethostname).
  String LocalHost() const;
  // Numeric local address and port of the open connection (empty / 0 when closed).
  String LocalAddress() const;
  int LocalPort() const;
  // The host name the connection was opened with; when it was opened by address, the name the
  // resolver gives for the peer's address (empty when there is none).
  String RemoteHost() const;
  // Numeric address and port of the peer (empty / 0 when closed).
  String RemoteAddress() const;
  int RemotePort() const;

  // The connected descriptor, -1 when closed.
  int Handle() const { return FHandle; }
  // Replaces the transport of the open connection (to layer TLS over Handle()); the old one is
  // destroyed. Ignored when closed.
  void SetTransport(std::unique_ptr<TSocketTransport> transport);
  TSocketTransport* Transport() const { return FTransport.get(); }

 private:
  friend class TClientSocket;
  // Takes over a connected descriptor (plain TCP transport).
  void Attach(int fd, const String& hostName);
  // Closes without any notification.
  void Drop();
  // OnError, then ESocketError unless the handler set the code to 0; returns false when suppressed.
  bool Fail(TErrorEvent kind, int code, const char* api, const std::string& text);

  TClientSocket* FClient;
  int FHandle = -1;
  String FHostName;
  std::unique_ptr<TSocketTransport> FTransport;
};

// One address a name resolved to, ready for connect().
struct TResolvedAddress {
  sockaddr_storage Addr{};
  socklen_t Length = 0;
};

// The framework's TCP client socket component.
class TClientSocket : public TComponent {
 public:
  explicit TClientSocket(TComponent* AOwner);
  // Closes the connection without notifications: the owner's handlers may already be gone.
  ~TClientSocket() override;

  // Name to resolve; when empty, Address is used instead.
  const String& Host() const { return FHost; }
  void SetHost(const String& value) { FHost = value; }
  // Numeric IPv4 or IPv6 address (or any name getaddrinfo takes).
  const String& Address() const { return FAddress; }
  void SetAddress(const String& value) { FAddress = value; }
  int Port() const { return FPort; }
  void SetPort(int value) { FPort = value; }
  TClientType ClientType() const { return FClientType; }
  void SetClientType(TClientType value) { FClientType = value; }
  // Milliseconds allowed for each resolved address to accept the connection; 0 waits forever.
  int ConnectTimeout() const { return FConnectTimeout; }
  void SetConnectTimeout(int ms) { FConnectTimeout = ms < 0 ? 0 : ms; }
  // Milliseconds a ReceiveBuf may wait for data; 0 waits forever.
  int ReadTimeout() const { return FReadTimeout; }
  void SetReadTimeout(int ms) { FReadTimeout = ms < 0 ? 0 : ms; }
  // A limit on the whole job from now on: no name lookup, connect, send or read (nor a TLS
  // handshake over the connection) waits beyond ms milliseconds counted from this call,
  // whatever the time-outs of each wait allow; 0 lifts it.
  void StartDeadline(int ms);
  // The limit StartDeadline set, 0 for none.
  int DeadlineMs() const { return FDeadlineMs; }
  // The wait allowed now: waitMs (0 = forever), shortened to what is left before the deadline
  // (at least 1 ms); *byDeadline tells whether the deadline set it.
  int BoundedWait(int waitMs, bool* byDeadline) const;

  bool Active() const { return FSocket.Connected(); }
  void SetActive(bool value) { value ? Open() : Close(); }
  // Resolves and connects, trying every resolved address in turn. Does nothing when open.
  void Open();
  void Close() { FSocket.Close(); }

  TCustomWinSocket* Socket() { return &FSocket; }

  const TSocketNotifyEvent& OnLookup() const { return FOnLookup; }
  void SetOnLookup(TSocketNotifyEvent e) { FOnLookup = std::move(e); }
  const TSocketNotifyEvent& OnConnecting() const { return FOnConnecting; }
  void SetOnConnecting(TSocketNotifyEvent e) { FOnConnecting = std::move(e); }
  const TSocketNotifyEvent& OnConnect() const { return FOnConnect; }
  void SetOnConnect(TSocketNotifyEvent e) { FOnConnect = std::move(e); }
  const TSocketNotifyEvent& OnDisconnect() const { return FOnDisconnect; }
  void SetOnDisconnect(TSocketNotifyEvent e) { FOnDisconnect = std::move(e); }
  const TSocketNotifyEvent& OnRead() const { return FOnRead; }
  void SetOnRead(TSocketNotifyEvent e) { FOnRead = std::move(e); }
  const TSocketNotifyEvent& OnWrite() const { return FOnWrite; }
  void SetOnWrite(TSocketNotifyEvent e) { FOnWrite = std::move(e); }
  const TSocketErrorEvent& OnError() const { return FOnError; }
  void SetOnError(TSocketErrorEvent e) { FOnError = std::move(e); }

 protected:
  // The addresses to try for name and port, in order. Returns 0, or the getaddrinfo error code
  // (EAI_*; EAI_SYSTEM leaves errno set, ETIMEDOUT when the deadline ran out first).
  // Overridable so that a resolver of one's own can be used.
  virtual int Resolve(const std::string& name, int port, std::vector<TResolvedAddress>& out);

 private:
  friend class TCustomWinSocket;
  void Notify(const TSocketNotifyEvent& e);

  String FHost;
  String FAddress;
  int FPort = 0;
  TClientType FClientType = ctNonBlocking;
  int FConnectTimeout = 0;
  int FReadTimeout = 0;
  int FDeadlineMs = 0;  // the limit StartDeadline set, 0 for none
  std::chrono::steady_clock::time_point FDeadline;
  TSocketNotifyEvent FOnLookup, FOnConnecting, FOnConnect, FOnDisconnect, FOnRead, FOnWrite;
  TSocketErrorEvent FOnError;
  TCustomWinSocket FSocket{this};
};

// The name lookup TClientSocket::Resolve runs (getaddrinfo by default), in the same terms as
// Resolve. Under a deadline it runs on a helper thread of its own that may outlive the wait, so
// it must not refer to any object that the caller may free. Returns the previous one; nullptr
// restores getaddrinfo. Tests put a lookup that stalls here.
using TNameLookup = int (*)(const std::string& name, int port, std::vector<TResolvedAddress>& out);
TNameLookup SetNameLookup(TNameLookup lookup);

// A connected UDP socket: only datagrams from the address and port it was opened to arrive.
// Failures raise ESocketError with the OS text.
class TUdpSocket {
 public:
  TUdpSocket() = default;
  ~TUdpSocket() { Close(); }
  TUdpSocket(const TUdpSocket&) = delete;
  TUdpSocket& operator=(const TUdpSocket&) = delete;

  // Resolves host (name or address, IPv4 or IPv6) and connects to the first address found.
  void Open(const String& host, int port);
  void Close();
  bool Active() const { return FHandle >= 0; }
  // Sends one datagram.
  void Send(const std::string& bytes);
  // Waits at most timeoutMs (0 waits forever) for one datagram; returns its length (truncated
  // to cap), or -1 on time-out.
  int Receive(void* buf, int cap, int timeoutMs);
  int Handle() const { return FHandle; }

 private:
  int FHandle = -1;
};

}  // namespace ktinet
