#include "platform/Tls.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "rtl/Exceptions.h"

namespace ktinet {

namespace {

using Clock = std::chrono::steady_clock;

// How a handshake that ran out of time reports it, after "TLS handshake with H failed: ".
constexpr const char* kNoAnswerWithin = "no answer within ";

// What the BIO under a session knows about its descriptor and the current wait.
struct BioState {
  int fd = -1;
  bool hasDeadline = false;
  Clock::time_point deadline;
  bool timedOut = false;
  int lastErrno = 0;
};

BioState* StateOf(BIO* b) { return static_cast<BioState*>(BIO_get_data(b)); }

// Waits until the socket is ready for `events` (POLLIN or POLLOUT) or the deadline passes. A
// time-out is marked as "try again", so that the session survives one the caller waves through.
bool WaitReady(BIO* b, BioState* st, short events) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(st->deadline - Clock::now()).count();
    pollfd p{st->fd, events, 0};
    int r = ::poll(&p, 1, left < 0 ? 0 : static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      st->lastErrno = errno;
      return false;
    }
    if (r == 0) {
      st->timedOut = true;
      st->lastErrno = ETIMEDOUT;
      if (events == POLLOUT) BIO_set_retry_write(b);
      else BIO_set_retry_read(b);
      return false;
    }
    return true;
  }
}

// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE when the peer is gone; ours
// sends with MSG_NOSIGNAL and waits for reads with poll() so that time-outs hold mid-record.
int BioWrite(BIO* b, const char* data, int len) {
  BioState* st = StateOf(b);
  BIO_clear_retry_flags(b);
  for (;;) {
    // A peer that reads nothing fills the buffers: the wait for room ends with the deadline.
    if (st->hasDeadline && !WaitReady(b, st, POLLOUT)) return -1;
    ssize_t n = ::send(st->fd, data, static_cast<size_t>(len), MSG_NOSIGNAL | (st->hasDeadline ? MSG_DONTWAIT : 0));
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR || (st->hasDeadline && (errno == EAGAIN || errno == EWOULDBLOCK))) continue;
    st->lastErrno = errno;
    return -1;
  }
}

int BioRead(BIO* b, char* data, int len) {
  BioState* st = StateOf(b);
  BIO_clear_retry_flags(b);
  if (st->hasDeadline && !WaitReady(b, st, POLLIN)) return -1;
  for (;;) {
    ssize_t n = ::recv(st->fd, data, static_cast<size_t>(len), 0);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    st->lastErrno = errno;
    return -1;
  }
}

long BioCtrl(BIO*, int cmd, long, void*) { return cmd == BIO_CTRL_FLUSH ? 1 : 0; }

int BioCreate(BIO* b) {
  BIO_set_init(b, 1);
  return 1;
}

BIO_METHOD* SocketBioMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "ktinet socket");
    BIO_meth_set_write(m, BioWrite);
    BIO_meth_set_read(m, BioRead);
    BIO_meth_set_ctrl(m, BioCtrl);
    BIO_meth_set_create(m, BioCreate);
    return m;
  }();
  return method;
}

// The first queued OpenSSL error as text ("certificate verify failed"), emptying the queue.
std::string OpenSslText() {
  unsigned long code = ERR_get_error();
  std::string text;
  if (code != 0) {
    const char* reason = ERR_reason_error_string(code);
    char buf[256];
    ERR_error_string_n(code, buf, sizeof buf);
    text = reason ? reason : buf;
  }
  ERR_clear_error();
  return text;
}

std::string OsText(int code) {
  char buf[256];
  return strerror_r(code, buf, sizeof buf);
}

bool IsNumericAddress(const std::string& name) {
  unsigned char buf[sizeof(in6_addr)];
  return ::inet_pton(AF_INET, name.c_str(), buf) == 1 || ::inet_pton(AF_INET6, name.c_str(), buf) == 1;
}

}  // namespace

struct TTlsTransport::Impl {
  SSL_CTX* ctx = nullptr;
  SSL* ssl = nullptr;
  BioState bio;
  ~Impl() {
    if (ssl) SSL_free(ssl);  // frees the BIO too
    if (ctx) SSL_CTX_free(ctx);
  }
  void SetDeadline(int timeoutMs) {
    bio.timedOut = false;
    bio.lastErrno = 0;
    bio.hasDeadline = timeoutMs > 0;
    if (bio.hasDeadline) bio.deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  }
};

TTlsTransport::TTlsTransport(int fd) : FHandle(fd), FImpl(std::make_unique<Impl>()) { FImpl->bio.fd = fd; }

TTlsTransport::~TTlsTransport() = default;

std::unique_ptr<TTlsTransport> TTlsTransport::Handshake(int fd, const TTlsOptions& options, int timeoutMs) {
  std::unique_ptr<TTlsTransport> t(new TTlsTransport(fd));
  Impl& im = *t->FImpl;
  const std::string name = UTF8Encode(options.ServerName);
  auto fail = [&](const std::string& why) -> ESocketError {
    ERR_clear_error();
    return ESocketError("TLS handshake with " + (name.empty() ? std::string("the server") : name) + " failed: " + why);
  };

  ERR_clear_error();
  im.ctx = SSL_CTX_new(TLS_client_method());
  if (!im.ctx) throw fail("cannot create a TLS context (" + OpenSslText() + ")");
  SSL_CTX_set_min_proto_version(im.ctx, TLS1_2_VERSION);
  // Line protocols frame their own data, and many servers drop the connection without a close
  // alert after saying goodbye: an end without the alert reads as an ordinary close.
  SSL_CTX_set_options(im.ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
  if (options.Verify) {
    SSL_CTX_set_verify(im.ctx, SSL_VERIFY_PEER, nullptr);
    if (SSL_CTX_set_default_verify_paths(im.ctx) != 1) throw fail("cannot load the system's CA store (" + OpenSslText() + ")");
    if (!options.CAFile.empty()) {
      std::string ca = UTF8Encode(options.CAFile);
      if (SSL_CTX_load_verify_locations(im.ctx, ca.c_str(), nullptr) != 1)
        throw fail("cannot load the CA file " + ca + " (" + OpenSslText() + ")");
    }
  } else {
    SSL_CTX_set_verify(im.ctx, SSL_VERIFY_NONE, nullptr);
  }

  im.ssl = SSL_new(im.ctx);
  if (!im.ssl) throw fail("cannot create a TLS session (" + OpenSslText() + ")");
  BIO* bio = BIO_new(SocketBioMethod());
  if (!bio) throw fail("cannot create a TLS session (" + OpenSslText() + ")");
  BIO_set_data(bio, &im.bio);
  SSL_set_bio(im.ssl, bio, bio);

  if (!name.empty()) {
    if (IsNumericAddress(name)) {
      if (options.Verify && X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(im.ssl), name.c_str()) != 1)
        throw fail("cannot check the certificate against " + name);
    } else {
      SSL_set_tlsext_host_name(im.ssl, name.c_str());
      if (options.Verify) {
        // Browser style: the name must be among the certificate's subjectAltNames, never only
        // in its CN; the Internet API's TLS applies the same rule.
        SSL_set_hostflags(im.ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS | X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
        if (SSL_set1_host(im.ssl, name.c_str()) != 1) throw fail("cannot check the certificate against " + name);
      }
    }
  }

  im.SetDeadline(timeoutMs);
  ERR_clear_error();
  int r = SSL_connect(im.ssl);
  if (r != 1) {
    if (im.bio.timedOut) throw fail(kNoAnswerWithin + std::to_string(timeoutMs) + " ms");
    long verify = SSL_get_verify_result(im.ssl);
    if (options.Verify && verify != X509_V_OK)
      throw fail(std::string("certificate verify failed (") + X509_verify_cert_error_string(verify) + ")");
    int err = SSL_get_error(im.ssl, r);
    std::string text = OpenSslText();
    if (text.empty()) {
      if (err == SSL_ERROR_SYSCALL && im.bio.lastErrno != 0) text = OsText(im.bio.lastErrno);
      else text = "the server closed the connection";
    }
    throw fail(text);
  }
  im.bio.hasDeadline = false;
  return t;
}

int TTlsTransport::Failure(int ret, const char* what) {
  int err = SSL_get_error(FImpl->ssl, ret);
  int code = EPROTO;
  std::string text;
  if (err == SSL_ERROR_SYSCALL) {
    text = OpenSslText();
    code = FImpl->bio.lastErrno != 0 ? FImpl->bio.lastErrno : ECONNRESET;
    if (text.empty()) text = OsText(code);
  } else {
    text = OpenSslText();
    if (text.empty()) text = "error " + std::to_string(err);
  }
  FLastCode = code;
  FLastText = std::string("TLS ") + what + ": " + text;
  return code;
}

ssize_t TTlsTransport::Write(const void* buf, size_t count, int timeoutMs, int* error) {
  if (count == 0) return 0;
  int chunk = count > (1u << 30) ? (1 << 30) : static_cast<int>(count);
  FImpl->SetDeadline(timeoutMs);
  ERR_clear_error();
  int n = SSL_write(FImpl->ssl, buf, chunk);
  if (n > 0) return n;
  if (SSL_get_error(FImpl->ssl, n) == SSL_ERROR_WANT_WRITE && FImpl->bio.timedOut) {
    ERR_clear_error();
    *error = ETIMEDOUT;
    return -1;
  }
  *error = Failure(n, "write");
  return -1;
}

ssize_t TTlsTransport::Read(void* buf, size_t count, int timeoutMs, int* error) {
  if (count == 0) return 0;
  int chunk = count > (1u << 30) ? (1 << 30) : static_cast<int>(count);
  // Bytes already decrypted are there at once, whatever the time-out.
  FImpl->SetDeadline(SSL_pending(FImpl->ssl) > 0 ? 0 : timeoutMs);
  ERR_clear_error();
  int n = SSL_read(FImpl->ssl, buf, chunk);
  if (n > 0) return n;
  int err = SSL_get_error(FImpl->ssl, n);
  if (err == SSL_ERROR_ZERO_RETURN) return 0;
  if (err == SSL_ERROR_WANT_READ && FImpl->bio.timedOut) {
    ERR_clear_error();
    *error = ETIMEDOUT;
    return -1;
  }
  if (err == SSL_ERROR_SYSCALL && FImpl->bio.lastErrno == 0 && ERR_peek_error() == 0) return 0;
  *error = Failure(n, "read");
  return -1;
}

int TTlsTransport::Pending() const {
  int n = SSL_pending(FImpl->ssl);
  if (n > 0) return n;
  int raw = 0;
  pollfd p{FHandle, POLLIN, 0};
  if (::poll(&p, 1, 0) > 0) raw = 1;
  // Encrypted bytes on the wire mean a record is arriving; its size is not known before it is
  // decrypted, so one byte is promised.
  return raw;
}

void TTlsTransport::Shutdown() {
  if (!FImpl->ssl) return;
  FImpl->SetDeadline(0);
  ERR_clear_error();
  SSL_shutdown(FImpl->ssl);
  ERR_clear_error();
}

std::string TTlsTransport::ErrorText(int error) const {
  if (error == FLastCode && !FLastText.empty()) return FLastText;
  return TSocketTransport::ErrorText(error);
}

std::string TTlsTransport::Protocol() const { return SSL_get_version(FImpl->ssl); }

std::string TTlsTransport::Cipher() const {
  const char* c = SSL_get_cipher_name(FImpl->ssl);
  return c ? c : "";
}

void StartTls(TClientSocket& client, const TTlsOptions& options) {
  TCustomWinSocket* socket = client.Socket();
  if (!socket->Connected()) throw ESocketError(u"TLS needs an open connection");
  // The handshake waits no longer than the job's deadline allows either.
  bool byDeadline = false;
  const int timeout =
      client.BoundedWait(options.HandshakeTimeoutMs < 0 ? client.ReadTimeout() : options.HandshakeTimeoutMs, &byDeadline);
  std::unique_ptr<TTlsTransport> transport;
  try {
    transport = TTlsTransport::Handshake(socket->Handle(), options, timeout);
  } catch (const ESocketError& e) {
    // Half a handshake leaves nothing the dialogue could go on with.
    socket->Close();
    if (byDeadline && std::string(e.what()).find(kNoAnswerWithin) != std::string::npos)
      throw ESocketError("Time limit of " + std::to_string(client.DeadlineMs()) + " ms for the whole job ran out");
    throw;
  } catch (...) {
    socket->Close();
    throw;
  }
  socket->SetTransport(std::move(transport));
}

bool IsTlsActive(TClientSocket& client) {
  return dynamic_cast<TTlsTransport*>(client.Socket()->Transport()) != nullptr;
}

}  // namespace ktinet
