// TLS over a connected client socket (OpenSSL): a TSocketTransport that any socket component can
// put under its connection, for implicit TLS (right after the connect) or for an upgrade in the
// middle of a dialogue (STARTTLS).
//
//   StartTls(*clientSocket, {.ServerName = "mail.example.com"});
//   ... SendBuf / ReceiveBuf now travel encrypted ...
//
// The server's certificate is checked against the system's CA store (plus an optional CA file)
// and against the name the connection was meant for; a failed handshake or check closes the
// connection and raises ESocketError naming the reason.
#pragma once

#include <memory>
#include <string>

#include "platform/Sockets.h"

namespace ktinet {

struct TTlsOptions {
  // The name the certificate must carry: a host name (also sent as SNI) or a numeric address
  // (checked against the certificate's IP entries; no SNI is sent for it).
  String ServerName;
  // An extra CA certificate file (PEM) trusted beside the system's store; empty for none.
  String CAFile;
  // Off only for tests and private set-ups that knowingly accept any certificate.
  bool Verify = true;
  // Milliseconds the handshake may wait for the server; -1 takes the socket's ReadTimeout,
  // 0 waits forever.
  int HandshakeTimeoutMs = -1;
};

// The encrypted byte stream of one connection. Writes never raise SIGPIPE: the session writes
// through send() with MSG_NOSIGNAL. A read time-out leaves the session usable.
class TTlsTransport : public TSocketTransport {
 public:
  ~TTlsTransport() override;
  TTlsTransport(const TTlsTransport&) = delete;
  TTlsTransport& operator=(const TTlsTransport&) = delete;

  // Runs the client handshake on the connected descriptor fd; raises ESocketError when it fails
  // (the descriptor is left open: its owner closes it).
  static std::unique_ptr<TTlsTransport> Handshake(int fd, const TTlsOptions& options, int timeoutMs);

  ssize_t Write(const void* buf, size_t count, int timeoutMs, int* error) override;
  ssize_t Read(void* buf, size_t count, int timeoutMs, int* error) override;
  int Pending() const override;
  // Sends the close alert (without waiting for the server's).
  void Shutdown() override;
  std::string ErrorText(int error) const override;
  int Handle() const override { return FHandle; }

  // The negotiated protocol ("TLSv1.3") and cipher, for diagnostics.
  std::string Protocol() const;
  std::string Cipher() const;

  struct Impl;

 private:
  explicit TTlsTransport(int fd);
  // Maps a failed SSL call to an error code, keeping OpenSSL's text for ErrorText.
  int Failure(int ret, const char* what);

  int FHandle;
  std::unique_ptr<Impl> FImpl;
  int FLastCode = 0;
  std::string FLastText;
};

// Puts TLS under the open connection of `client` (the handshake runs at once). On failure the
// connection is closed (OnDisconnect fires) and ESocketError is raised: "TLS handshake with
// mail.example.com failed: certificate verify failed (unable to get local issuer certificate)".
void StartTls(TClientSocket& client, const TTlsOptions& options);

// True when the connection of `client` runs over TLS.
bool IsTlsActive(TClientSocket& client);

}  // namespace ktinet
