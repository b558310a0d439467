// The libcurl backend behind the Internet API functions of WinInet.cpp: sessions, connections,
// requests, FTP finds and files, each a TInternetHandle that drives libcurl transfers.
#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/FtpList.h"
#include "platform/SystemSettings.h"
#include "platform/WinInet.h"
#include "platform/WinInetShared.h"
#include "rtl/DateTime.h"
#include "rtl/SysUtils.h"
#include "rtl/UrlEncoding.h"

namespace ktinet {

using internet_detail::EqualNoCase;
using internet_detail::Fail;
using internet_detail::GlobalCaFile;
using internet_detail::GlobalNumberDefaults;
using internet_detail::LowerAscii;

namespace {

std::once_flag gCurlInit;

void InitCurl() {
  std::call_once(gCurlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

constexpr size_t kReadBuffer = 4 << 20;    // bytes held between InternetReadFile calls
constexpr long kCurlBuffer = 512 * 1024;   // largest piece libcurl hands over at once
constexpr DWORD kDefaultConnectTimeoutMs = 60000;
constexpr DWORD kDefaultReceiveTimeoutMs = 60000;
constexpr long kMaxRedirects = 5;
// Below this many bytes a second, averaged over the receive time-out, a server counts as stalled:
// a trickle of a byte now and then must not hold a transfer forever.
constexpr long kLowSpeedBytesPerSecond = 16;

String DecodeText(std::string_view bytes) {
  String s = UTF8ToString(bytes);
  if (UTF8Encode(s) == bytes) return s;
  return BytesToString(bytes);
}

// Bytes a URL path cannot carry as they are.
std::string EncodePath(const std::string& utf8) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  out.reserve(utf8.size());
  for (unsigned char c : utf8) {
    if (c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}#", c)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// Every byte but unreserved ones: for a path given as a plain name (FTP).
std::string EncodeStrict(const std::string& utf8) { return PercentEncodeBytes(utf8, "/"); }

std::string HostForUrl(const std::string& host) {
  if (host.find(':') != std::string::npos && host.front() != '[') return "[" + host + "]";
  return host;
}

struct Settings {
  std::optional<String> user, password, proxyUser, proxyPassword, agent, caFile;
  std::optional<DWORD> securityFlags, connectTimeout, receiveTimeout, maxTime;

  bool Set(DWORD option, const String& text, DWORD number) {
    switch (option) {
      case INTERNET_OPTION_USERNAME: user = text; return true;
      case INTERNET_OPTION_PASSWORD: password = text; return true;
      case INTERNET_OPTION_PROXY_USERNAME: proxyUser = text; return true;
      case INTERNET_OPTION_PROXY_PASSWORD: proxyPassword = text; return true;
      case INTERNET_OPTION_USER_AGENT: agent = text; return true;
      case KTINET_OPTION_CA_FILE: caFile = text; return true;
      case INTERNET_OPTION_SECURITY_FLAGS: securityFlags = number; return true;
      case INTERNET_OPTION_CONNECT_TIMEOUT: connectTimeout = number; return true;
      case KTINET_OPTION_MAX_TIME: maxTime = number; return true;
      case INTERNET_OPTION_RECEIVE_TIMEOUT:
      case INTERNET_OPTION_DATA_RECEIVE_TIMEOUT: receiveTimeout = number; return true;
      case INTERNET_OPTION_SEND_TIMEOUT:
      case INTERNET_OPTION_DATA_SEND_TIMEOUT: return true;  // sending is bounded by the receive time-out
      default: return Fail(ERROR_INTERNET_INVALID_OPTION);
    }
  }

  // This handle's settings over its parent's.
  Settings Over(const Settings& parent) const {
    Settings s = *this;
    if (!s.user) s.user = parent.user;
    if (!s.password) s.password = parent.password;
    if (!s.proxyUser) s.proxyUser = parent.proxyUser;
    if (!s.proxyPassword) s.proxyPassword = parent.proxyPassword;
    if (!s.agent) s.agent = parent.agent;
    if (!s.caFile) s.caFile = parent.caFile;
    if (!s.securityFlags) s.securityFlags = parent.securityFlags;
    if (!s.connectTimeout) s.connectTimeout = parent.connectTimeout;
    if (!s.receiveTimeout) s.receiveTimeout = parent.receiveTimeout;
    if (!s.maxTime) s.maxTime = parent.maxTime;
    return s;
  }
};

DWORD MapCurlError(CURLcode code, CURL* easy) {
  switch (code) {
    case CURLE_OK: return ERROR_SUCCESS;
    case CURLE_UNSUPPORTED_PROTOCOL: return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_URL_MALFORMAT: return ERROR_INTERNET_INVALID_URL;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST: return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT: return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT: return ERROR_INTERNET_TIMEOUT;
    case CURLE_PARTIAL_FILE: return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR: return ERROR_INTERNET_CONNECTION_RESET;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY: return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_TOO_MANY_REDIRECTS: return ERROR_HTTP_REDIRECT_FAILED;
    case CURLE_ABORTED_BY_CALLBACK: return ERROR_INTERNET_OPERATION_CANCELLED;
    case CURLE_OUT_OF_MEMORY: return ERROR_NOT_ENOUGH_MEMORY;
    case CURLE_LOGIN_DENIED: return ERROR_INTERNET_LOGIN_FAILURE;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CERTPROBLEM: return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case CURLE_PEER_FAILED_VERIFICATION: {
      long verify = 0;
      if (easy) curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verify);
      if (verify == X509_V_ERR_CERT_HAS_EXPIRED || verify == X509_V_ERR_CERT_NOT_YET_VALID)
        return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
      // libcurl checks the name itself after the chain was accepted and leaves "unspecified".
      if (verify == X509_V_OK || verify == X509_V_ERR_UNSPECIFIED || verify == X509_V_ERR_HOSTNAME_MISMATCH ||
          verify == X509_V_ERR_IP_ADDRESS_MISMATCH)
        return ERROR_INTERNET_SEC_CERT_CN_INVALID;
      if (verify == X509_V_ERR_CERT_REVOKED) return ERROR_INTERNET_SEC_CERT_REVOKED;
      return ERROR_INTERNET_INVALID_CA;
    }
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_PORT_FAILED: return ERROR_FTP_NO_PASSIVE_MODE;
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_FTP_COULDNT_RETR_FILE:
    case CURLE_QUOTE_ERROR:
    case CURLE_RANGE_ERROR:
    case CURLE_BAD_DOWNLOAD_RESUME:
    case CURLE_FTP_COULDNT_SET_TYPE: return ERROR_INTERNET_EXTENDED_ERROR;
    default: return ERROR_INTERNET_INTERNAL_ERROR;
  }
}

// The proxy for a scheme from Windows' proxy text: "host:port" for every web scheme, or per scheme
// "http=h:p https=h:p ftp=h:p" (blanks or semicolons between entries).
std::string ProxyFromList(const std::string& list, const std::string& scheme) {
  std::string plain;
  size_t i = 0;
  while (i < list.size()) {
    while (i < list.size() && (list[i] == ' ' || list[i] == ';')) ++i;
    size_t b = i;
    while (i < list.size() && list[i] != ' ' && list[i] != ';') ++i;
    std::string entry = list.substr(b, i - b);
    if (entry.empty()) continue;
    size_t eq = entry.find('=');
    if (eq == std::string::npos) {
      if (plain.empty()) plain = entry;
    } else if (EqualNoCase(entry.substr(0, eq), scheme)) {
      return entry.substr(eq + 1);
    }
  }
  // A plain entry stands for the web schemes; FTP goes through a proxy only when one is named for it.
  return scheme == "ftp" ? std::string() : plain;
}

// The environment's proxy, read by the same function as the socket components' system proxy.
std::string EnvProxy(const std::string& scheme) { return UTF8Encode(SystemProxyValue(scheme.c_str())); }

std::string EnvNoProxy() { return UTF8Encode(SystemNoProxy()); }

// Windows' bypass list ("<local>;*.example.com;10.1.2.3") in libcurl's form.
std::string BypassToNoProxy(const std::string& list) {
  std::string out;
  size_t i = 0;
  while (i < list.size()) {
    while (i < list.size() && (list[i] == ' ' || list[i] == ';' || list[i] == ',')) ++i;
    size_t b = i;
    while (i < list.size() && list[i] != ' ' && list[i] != ';' && list[i] != ',') ++i;
    std::string entry = list.substr(b, i - b);
    if (entry.empty() || entry == "<local>") continue;
    if (entry.rfind("*.", 0) == 0) entry = entry.substr(1);
    if (!out.empty()) out += ',';
    out += entry;
  }
  return out;
}

struct TlsConfig {
  std::string caFile;
  bool ignoreDates = false;
  bool checkName = false;
};

// The server's certificate must name the host in its subjectAltName, as browsers require and as
// the socket layer's TLS does; a name only in the subject's CN is not accepted. libcurl reads the
// CN only when the certificate has no DNS or IP alternative name at all, so refusing such a
// certificate here leaves libcurl's own check SAN-only; a host name is also matched here.
int VerifySubjectAltName(int preverified, X509_STORE_CTX* store) {
  if (!preverified || X509_STORE_CTX_get_error_depth(store) != 0) return preverified;
  X509* cert = X509_STORE_CTX_get_current_cert(store);
  auto* names = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
  bool hasName = false;
  for (int i = 0; names && i < sk_GENERAL_NAME_num(names); ++i) {
    int type = sk_GENERAL_NAME_value(names, i)->type;
    hasName = hasName || type == GEN_DNS || type == GEN_IPADD;
  }
  GENERAL_NAMES_free(names);
  bool ok = hasName;
  auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  const char* host = ssl ? SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name) : nullptr;
  if (ok && host && *host)
    ok = X509_check_host(cert, host, 0, X509_CHECK_FLAG_NEVER_CHECK_SUBJECT | X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS,
                         nullptr) == 1;
  if (ok) return 1;
  X509_STORE_CTX_set_error(store, X509_V_ERR_HOSTNAME_MISMATCH);
  return 0;
}

CURLcode SslContextSetup(CURL*, void* sslctx, void* parm) {
  auto* cfg = static_cast<TlsConfig*>(parm);
  auto* ctx = static_cast<SSL_CTX*>(sslctx);
  X509_STORE* store = SSL_CTX_get_cert_store(ctx);
  if (!store) return CURLE_SSL_CERTPROBLEM;
  if (!cfg->caFile.empty() && X509_STORE_load_file(store, cfg->caFile.c_str()) != 1) return CURLE_SSL_CACERT_BADFILE;
  if (cfg->ignoreDates) X509_STORE_set_flags(store, X509_V_FLAG_NO_CHECK_TIME);
  if (cfg->checkName) SSL_CTX_set_verify(ctx, SSL_CTX_get_verify_mode(ctx), &VerifySubjectAltName);
  return CURLE_OK;
}

class CurlSession;

// One libcurl transfer pulled by its owner: libcurl writes into a buffer in large pieces and is
// paused while the buffer is full; Read copies out of the buffer, so a small read costs no system
// call. HTTP status lines and headers, and FTP replies, are captured as they arrive.
class Transfer {
 public:
  explicit Transfer(CURLM* multi) : FMulti(multi), FEasy(curl_easy_init()) {
    if (FEasy) {
      curl_easy_setopt(FEasy, CURLOPT_PRIVATE, this);
      curl_easy_setopt(FEasy, CURLOPT_NOSIGNAL, 1L);
      curl_easy_setopt(FEasy, CURLOPT_WRITEFUNCTION, &Transfer::OnWrite);
      curl_easy_setopt(FEasy, CURLOPT_WRITEDATA, this);
      curl_easy_setopt(FEasy, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
      curl_easy_setopt(FEasy, CURLOPT_HEADERDATA, this);
      curl_easy_setopt(FEasy, CURLOPT_ERRORBUFFER, FErrorText);
      curl_easy_setopt(FEasy, CURLOPT_BUFFERSIZE, kCurlBuffer);
      if (std::getenv("KTINET_CURL_VERBOSE")) curl_easy_setopt(FEasy, CURLOPT_VERBOSE, 1L);
    }
  }
  ~Transfer() {
    if (FAdded) curl_multi_remove_handle(FMulti, FEasy);
    if (FEasy) curl_easy_cleanup(FEasy);
    if (FHeaderList) curl_slist_free_all(FHeaderList);
    if (FQuote) curl_slist_free_all(FQuote);
  }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  CURL* Easy() const { return FEasy; }
  TlsConfig& Tls() { return FTls; }
  void SetHeaders(curl_slist* list) {
    FHeaderList = list;
    curl_easy_setopt(FEasy, CURLOPT_HTTPHEADER, list);
  }
  void SetQuote(curl_slist* list) {
    FQuote = list;
    curl_easy_setopt(FEasy, CURLOPT_QUOTE, list);
  }
  // Listings and other small answers are kept whole instead of pausing the transfer, up to
  // KTINET_MAX_LISTING_BYTES: beyond that the transfer ends and TooLarge tells why.
  void SetCollectAll() { FCollectAll = true; }
  bool TooLarge() const { return FTooLarge; }
  void SetFollowRedirects(bool follow) { FFollow = follow; }

  bool Start() {
    if (!FEasy) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    if (curl_multi_add_handle(FMulti, FEasy) != CURLM_OK) return Fail(ERROR_INTERNET_INTERNAL_ERROR);
    FAdded = true;
    return true;
  }

  // Drives the transfer until the final answer's headers are in or it ends.
  void WaitHeaders() {
    while (!FHeadersDone && !FDone) Step();
  }
  void WaitDone() {
    while (!FDone) {
      if (FPaused) Resume();
      Step();
    }
  }

  bool Done() const { return FDone; }
  CURLcode Result() const { return FResult; }
  bool HeadersDone() const { return FHeadersDone; }
  int Status() const { return FStatus; }
  const std::string& StatusLine() const { return FStatusLine; }
  const std::string& RawHeaders() const { return FRaw; }
  const std::vector<std::pair<std::string, std::string>>& Headers() const { return FHeaders; }
  std::string Body() const { return std::string(FBuffer.data() + FRead, FWrite - FRead); }
  int ReplyCode() const { return FReplyCode; }
  const std::string& Reply() const { return FReply; }

  // A proxy that refused the tunnel: its status stands for the answer.
  void SynthesizeStatus(int status, const std::string& text) {
    FStatus = status;
    FStatusLine = "HTTP/1.1 " + std::to_string(status) + " " + text;
    FRaw = FStatusLine + "\r\n\r\n";
    FHeaders.clear();
    FHeadersDone = true;
  }

  // The error of a transfer that ended badly, with the server's last words as the response text.
  DWORD Error() const {
    DWORD e = MapCurlError(FResult, FEasy);
    return e;
  }
  void PublishResponse() const {
    if (!FReply.empty()) {
      InternetSetLastResponseInfo(static_cast<DWORD>(FReplyCode), DecodeText(FReply));
    } else if (!FStatusLine.empty()) {
      InternetSetLastResponseInfo(static_cast<DWORD>(FStatus), DecodeText(FStatusLine));
    } else if (FResult != CURLE_OK) {
      InternetSetLastResponseInfo(0, DecodeText(FErrorText[0] ? FErrorText : curl_easy_strerror(FResult)));
    }
  }

  bool Read(void* out, DWORD n, DWORD& got) {
    got = 0;
    if (n == 0) return true;
    if (FRead == FWrite) {
      Fill();
      if (FRead == FWrite) {
        if (FResult != CURLE_OK) {
          PublishResponse();
          return Fail(Error());
        }
        return true;  // the end of the data
      }
    }
    size_t take = std::min<size_t>(n, FWrite - FRead);
    std::memcpy(out, FBuffer.data() + FRead, take);
    FRead += take;
    got = static_cast<DWORD>(take);
    return true;
  }

 private:
  void Fill() {
    FRead = FWrite = 0;
    while (FRead == FWrite && !FDone) {
      if (FPaused) Resume();
      if (FRead != FWrite) break;
      Step();
    }
  }

  void Resume() {
    FPaused = false;
    curl_easy_pause(FEasy, CURLPAUSE_CONT);
  }

  // One round of work for every transfer of the multi handle; waits for the network only when
  // nothing came of it. libcurl does not always ask to be called again at once when it has more
  // to do without any socket being ready (the FTP data connection after the passive reply), so
  // the waits start short and grow while nothing happens.
  void Step() {
    size_t before = FWrite;
    bool headersBefore = FHeadersDone;
    int running = 0;
    curl_multi_perform(FMulti, &running);
    Dispatch(FMulti);
    if (FDone || FWrite != before || FHeadersDone != headersBefore) {
      FIdleWaitMs = 1;
      return;
    }
    int fds = 0;
    curl_multi_poll(FMulti, nullptr, 0, FIdleWaitMs, &fds);
    FIdleWaitMs = std::min(FIdleWaitMs * 2, 250);
    curl_multi_perform(FMulti, &running);
    Dispatch(FMulti);
  }

  static void Dispatch(CURLM* multi) {
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
      if (msg->msg != CURLMSG_DONE) continue;
      Transfer* t = nullptr;
      curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, reinterpret_cast<char**>(&t));
      if (t) {
        t->FDone = true;
        t->FResult = msg->data.result;
      }
    }
  }

  static size_t OnWrite(char* data, size_t, size_t n, void* user) {
    auto* t = static_cast<Transfer*>(user);
    if (t->FBuffer.size() - t->FWrite < n) {
      if (t->FRead > 0) {
        std::memmove(t->FBuffer.data(), t->FBuffer.data() + t->FRead, t->FWrite - t->FRead);
        t->FWrite -= t->FRead;
        t->FRead = 0;
      }
      if (t->FCollectAll && t->FWrite + n > KTINET_MAX_LISTING_BYTES) {
        t->FTooLarge = true;
        return 0;  // libcurl ends the transfer with a write error
      }
      if (t->FBuffer.size() - t->FWrite < n) {
        if (t->FCollectAll || t->FWrite == 0 || t->FBuffer.size() < kReadBuffer) {
          t->FBuffer.resize(std::max(t->FBuffer.size() * 2, std::max(t->FWrite + n, kReadBuffer)));
        } else {
          t->FPaused = true;
          return CURL_WRITEFUNC_PAUSE;
        }
      }
    }
    std::memcpy(t->FBuffer.data() + t->FWrite, data, n);
    t->FWrite += n;
    return n;
  }

  static size_t OnHeader(char* data, size_t, size_t n, void* user) {
    auto* t = static_cast<Transfer*>(user);
    std::string_view line(data, n);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
      t->FStatusLine = std::string(line);
      t->FHeaders.clear();
      t->FRaw = t->FStatusLine + "\r\n";
      t->FHeadersDone = false;
      size_t sp = line.find(' ');
      t->FStatus = sp == std::string_view::npos ? 0 : std::atoi(std::string(line.substr(sp + 1, 3)).c_str());
      return n;
    }
    if (!t->FStatusLine.empty() && !t->FHeadersDone) {
      if (line.empty()) {
        t->FRaw += "\r\n";
        bool interim = t->FStatus >= 100 && t->FStatus < 200;
        bool redirect = t->FFollow && (t->FStatus == 301 || t->FStatus == 302 || t->FStatus == 303 ||
                                       t->FStatus == 307 || t->FStatus == 308);
        bool located = false;
        for (auto& h : t->FHeaders) located = located || EqualNoCase(h.first, "location");
        if (!interim && !(redirect && located)) t->FHeadersDone = true;
      } else if ((line[0] == ' ' || line[0] == '\t') && !t->FHeaders.empty()) {
        t->FHeaders.back().second += " " + std::string(line.substr(line.find_first_not_of(" \t")));
        t->FRaw += std::string(line) + "\r\n";
      } else {
        size_t colon = line.find(':');
        std::string name(line.substr(0, colon));
        std::string value;
        if (colon != std::string_view::npos) {
          std::string_view v = line.substr(colon + 1);
          while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
          while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
          value = std::string(v);
        }
        t->FHeaders.emplace_back(std::move(name), std::move(value));
        t->FRaw += std::string(line) + "\r\n";
      }
      return n;
    }
    // FTP replies: "213 12345", or "150-..." continued until "150 ...". The last complete reply
    // is what the server said last.
    if (line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
        std::isdigit(static_cast<unsigned char>(line[1])) && std::isdigit(static_cast<unsigned char>(line[2]))) {
      bool last = line.size() == 3 || line[3] == ' ';
      if (t->FReplyComplete) {
        t->FReply.clear();
        t->FReplyComplete = false;
      }
      if (!t->FReply.empty()) t->FReply += "\r\n";
      t->FReply += std::string(line);
      if (last) {
        t->FReplyCode = std::atoi(std::string(line.substr(0, 3)).c_str());
        t->FReplyComplete = true;
      }
    } else if (!t->FReplyComplete && !line.empty()) {
      if (!t->FReply.empty()) t->FReply += "\r\n";
      t->FReply += std::string(line);
    }
    return n;
  }

  CURLM* FMulti;
  CURL* FEasy;
  bool FAdded = false;
  curl_slist* FHeaderList = nullptr;
  curl_slist* FQuote = nullptr;
  TlsConfig FTls;
  char FErrorText[CURL_ERROR_SIZE] = {};

  std::vector<char> FBuffer;
  size_t FRead = 0, FWrite = 0;
  bool FPaused = false, FDone = false, FCollectAll = false, FFollow = false, FTooLarge = false;
  int FIdleWaitMs = 1;
  CURLcode FResult = CURLE_OK;

  bool FHeadersDone = false;
  int FStatus = 0;
  std::string FStatusLine, FRaw;
  std::vector<std::pair<std::string, std::string>> FHeaders;

  std::string FReply;
  int FReplyCode = 0;
  bool FReplyComplete = false;
};

class CurlSession : public TInternetHandle {
 public:
  CurlSession(const String& agent, DWORD accessType, const String& proxy, const String& bypass)
      : FAgent(agent), FAccessType(accessType), FProxy(UTF8Encode(proxy)), FBypass(UTF8Encode(bypass)) {
    String ca = GlobalCaFile();
    if (!ca.empty()) FSettings.caFile = ca;
    for (const auto& [option, number] : GlobalNumberDefaults()) FSettings.Set(option, String(), number);
  }
  DWORD HandleType() const override { return INTERNET_HANDLE_TYPE_INTERNET; }
  std::unique_ptr<TInternetHandle> Connect(const String& serverName, INTERNET_PORT serverPort, const Char* userName,
                                           const Char* password, DWORD service, DWORD flags) override;
  std::unique_ptr<TInternetHandle> OpenUrl(const String& url, const String& headers, DWORD flags) override;
  bool SetOption(DWORD option, const String& text, DWORD number) override { return FSettings.Set(option, text, number); }

  const Settings& GetSettings() const { return FSettings; }
  const String& Agent() const { return FAgent; }

  // The proxy of this session for a scheme, applied explicitly so that libcurl never reads the
  // environment on its own.
  void ApplyProxy(CURL* easy, const std::string& scheme, const Settings& s) const {
    std::string proxy, noProxy;
    if (FAccessType == INTERNET_OPEN_TYPE_PROXY) {
      proxy = ProxyFromList(FProxy, scheme);
      noProxy = BypassToNoProxy(FBypass);
    } else if (FAccessType == INTERNET_OPEN_TYPE_PRECONFIG ||
               FAccessType == INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY) {
      proxy = EnvProxy(scheme);
      noProxy = EnvNoProxy();
    }
    curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(easy, CURLOPT_NOPROXY, noProxy.empty() ? nullptr : noProxy.c_str());
    if (proxy.empty()) return;
    if (scheme == "ftp") curl_easy_setopt(easy, CURLOPT_HTTPPROXYTUNNEL, 1L);
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (s.proxyUser && !s.proxyUser->empty()) {
      curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, UTF8Encode(*s.proxyUser).c_str());
      curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, UTF8Encode(s.proxyPassword.value_or(String())).c_str());
      curl_easy_setopt(easy, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
    }
  }

 private:
  String FAgent;
  DWORD FAccessType;
  std::string FProxy, FBypass;
  Settings FSettings;
};

// Options every transfer shares: agent, proxy, time-outs, certificate checks.
void ApplyCommon(Transfer& t, const CurlSession& session, const Settings& s, const std::string& scheme,
                 DWORD requestFlags) {
  CURL* e = t.Easy();
  String agent = s.agent.value_or(session.Agent());
  curl_easy_setopt(e, CURLOPT_USERAGENT, agent.empty() ? nullptr : UTF8Encode(agent).c_str());
  session.ApplyProxy(e, scheme, s);
  DWORD connectMs = s.connectTimeout.value_or(kDefaultConnectTimeoutMs);
  if (connectMs != 0 && connectMs != 0xFFFFFFFF) curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectMs));
  DWORD receiveMs = s.receiveTimeout.value_or(kDefaultReceiveTimeoutMs);
  if (receiveMs != 0 && receiveMs != 0xFFFFFFFF) {
    // Silence for that long, or hardly more than silence, ends the transfer as timed out.
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytesPerSecond);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, static_cast<long>((receiveMs + 999) / 1000));
  }
  DWORD maxMs = s.maxTime.value_or(0);
  if (maxMs != 0 && maxMs != 0xFFFFFFFF) curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(maxMs));
  // As OpenSSL's own default paths do: these name the trusted store instead of the built-in one.
  if (const char* file = std::getenv("SSL_CERT_FILE"); file && *file) curl_easy_setopt(e, CURLOPT_CAINFO, file);
  if (const char* dir = std::getenv("SSL_CERT_DIR"); dir && *dir) curl_easy_setopt(e, CURLOPT_CAPATH, dir);
  DWORD sec = s.securityFlags.value_or(0);
  if (requestFlags & INTERNET_FLAG_IGNORE_CERT_CN_INVALID) sec |= SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
  if (requestFlags & INTERNET_FLAG_IGNORE_CERT_DATE_INVALID) sec |= SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
  bool checkPeer = !(sec & SECURITY_FLAG_IGNORE_UNKNOWN_CA);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, checkPeer ? 1L : 0L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, (sec & SECURITY_FLAG_IGNORE_CERT_CN_INVALID) ? 0L : 2L);
  t.Tls().caFile = s.caFile ? UTF8Encode(*s.caFile) : std::string();
  t.Tls().ignoreDates = (sec & SECURITY_FLAG_IGNORE_CERT_DATE_INVALID) != 0;
  t.Tls().checkName = !(sec & SECURITY_FLAG_IGNORE_CERT_CN_INVALID);
  if (checkPeer && (!t.Tls().caFile.empty() || t.Tls().ignoreDates || t.Tls().checkName)) {
    curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, &SslContextSetup);
    curl_easy_setopt(e, CURLOPT_SSL_CTX_DATA, &t.Tls());
    // The extra authority goes into this transfer's own store, never into a cached shared one.
    if (!t.Tls().caFile.empty() || t.Tls().ignoreDates) curl_easy_setopt(e, CURLOPT_CA_CACHE_TIMEOUT, 0L);
  }
}

class CurlConnect;

class CurlRequest : public TInternetHandle {
 public:
  CurlRequest(CurlConnect& connect, const String& verb, const String& objectName, const String& version, DWORD flags)
      : FConnect(connect), FVerb(UTF8Encode(verb)), FObject(UTF8Encode(objectName)), FVersion(UTF8Encode(version)),
        FFlags(flags) {}
  DWORD HandleType() const override { return INTERNET_HANDLE_TYPE_HTTP_REQUEST; }
  bool SetOption(DWORD option, const String& text, DWORD number) override { return FSettings.Set(option, text, number); }

  bool AddRequestHeaders(const String& headers, DWORD modifiers) override {
    std::string text = UTF8Encode(headers);
    size_t i = 0;
    while (i < text.size()) {
      size_t end = text.find_first_of("\r\n", i);
      std::string line = text.substr(i, end == std::string::npos ? std::string::npos : end - i);
      i = end == std::string::npos ? text.size() : text.find_first_not_of("\r\n", end);
      if (i == std::string::npos) i = text.size();
      if (line.empty()) continue;
      size_t colon = line.find(':');
      if (colon == std::string::npos || colon == 0) return Fail(ERROR_INVALID_PARAMETER);
      std::string name = line.substr(0, colon);
      std::string value = line.substr(colon + 1);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.erase(0, 1);
      auto found = std::find_if(FAdded.begin(), FAdded.end(), [&](auto& h) { return EqualNoCase(h.first, name); });
      if (modifiers & HTTP_ADDREQ_FLAG_REPLACE) {
        FAdded.erase(std::remove_if(FAdded.begin(), FAdded.end(), [&](auto& h) { return EqualNoCase(h.first, name); }),
                     FAdded.end());
        if (!value.empty()) FAdded.emplace_back(name, value);
      } else if (modifiers & HTTP_ADDREQ_FLAG_ADD_IF_NEW) {
        if (found != FAdded.end()) return Fail(ERROR_HTTP_HEADER_ALREADY_EXISTS);
        FAdded.emplace_back(name, value);
      } else if ((modifiers & HTTP_ADDREQ_FLAG_COALESCE) && found != FAdded.end()) {
        found->second += ", " + value;
      } else {
        FAdded.emplace_back(name, value);
      }
    }
    return true;
  }

  bool SendRequest(const String& headers, const void* body, DWORD bodyLength) override {
    FExtraHeaders = UTF8Encode(headers);
    FBody.assign(static_cast<const char*>(body), body ? bodyLength : 0);
    FHasBody = body != nullptr;
    return Send();
  }

  bool QueryInfo(DWORD infoLevel, const String& customName, DWORD& index, String& value) override;

  bool SetFilePointer(Int64 position) override {
    if (!FTransfer) {
      FRange = position;
      return true;
    }
    if (position == FPosition) return true;
    FRange = position;
    if (!Send()) return false;
    // Only a part that starts where it was asked to continues the caller's copy.
    if (FTransfer->Status() == 206 && RangeStart(*FTransfer) == position) return true;
    FPosition = 0;
    return Fail(ERROR_INTERNET_INVALID_OPERATION);
  }

  bool ReadFile(void* buffer, DWORD bytesToRead, DWORD& bytesRead) override {
    if (!FTransfer) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (!FTransfer->Read(buffer, bytesToRead, bytesRead)) return false;
    FPosition += bytesRead;
    return true;
  }

  bool Send();

 private:
  // The first byte of a 206 answer's "Content-Range: bytes FIRST-LAST/TOTAL"; -1 when there is
  // none or it cannot be read.
  static Int64 RangeStart(const Transfer& t) {
    for (auto& [name, value] : t.Headers()) {
      if (!EqualNoCase(name, "content-range")) continue;
      std::string_view v = value;
      if (v.size() < 6 || !EqualNoCase(v.substr(0, 6), "bytes ")) return -1;
      v.remove_prefix(6);
      while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
      Int64 first = 0;
      size_t i = 0;
      for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
        if (first > (INT64_MAX - 9) / 10) return -1;
        first = first * 10 + (v[i] - '0');
      }
      return i > 0 && i < v.size() && v[i] == '-' ? first : -1;
    }
    return -1;
  }

  CurlConnect& FConnect;
  std::string FVerb, FObject, FVersion;
  DWORD FFlags;
  Settings FSettings;
  std::vector<std::pair<std::string, std::string>> FAdded;
  std::string FExtraHeaders, FBody;
  bool FHasBody = false;
  std::optional<Int64> FRange;
  Int64 FPosition = 0;
  std::unique_ptr<Transfer> FTransfer;
};

class CurlFtpFind;
class CurlFtpFile;

class CurlConnect : public TInternetHandle {
 public:
  CurlConnect(CurlSession& session, const String& host, INTERNET_PORT port, const Char* user, const Char* password,
              DWORD service)
      : FSession(session), FHost(UTF8Encode(host)), FPort(port), FService(service), FMulti(curl_multi_init()) {
    if (user && *user) FSettings.user = String(user);
    if (password && *password) FSettings.password = String(password);
  }
  ~CurlConnect() override {
    if (FMulti) curl_multi_cleanup(FMulti);
  }
  DWORD HandleType() const override {
    return FService == INTERNET_SERVICE_FTP ? INTERNET_HANDLE_TYPE_CONNECT_FTP : INTERNET_HANDLE_TYPE_CONNECT_HTTP;
  }
  bool SetOption(DWORD option, const String& text, DWORD number) override { return FSettings.Set(option, text, number); }

  std::unique_ptr<TInternetHandle> OpenRequest(const String& verb, const String& objectName, const String& version,
                                               DWORD flags) override {
    if (FService != INTERNET_SERVICE_HTTP) {
      Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
      return nullptr;
    }
    return std::make_unique<CurlRequest>(*this, verb, objectName, version, flags);
  }

  std::unique_ptr<TInternetHandle> FindFirstFile(const String& searchFile, WIN32_FIND_DATAW& findData,
                                                 DWORD flags) override;
  std::unique_ptr<TInternetHandle> OpenFile(const String& fileName, DWORD access, DWORD flags) override;

  bool GetCurrentDirectory(String& directory) override {
    if (FService != INTERNET_SERVICE_FTP) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    directory = DecodeText(FCurrentDir);
    return true;
  }

  bool SetCurrentDirectory(const String& directory) override {
    if (FService != INTERNET_SERVICE_FTP) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    if (FBusy) return Fail(ERROR_FTP_TRANSFER_IN_PROGRESS);
    std::string target = Resolve(UTF8Encode(directory));
    // The server is asked to change into it: only an existing directory is accepted.
    auto t = NewFtpTransfer("/", flagsNone);
    t->SetQuote(curl_slist_append(nullptr, ("CWD " + target).c_str()));
    curl_easy_setopt(t->Easy(), CURLOPT_NOBODY, 1L);
    if (!Run(*t)) return false;
    FCurrentDir = target;
    return true;
  }

  // Logs on (FTP): the connection stays in the multi handle's cache for the next operations.
  bool Logon() {
    auto t = NewFtpTransfer("/", flagsNone);
    curl_easy_setopt(t->Easy(), CURLOPT_NOBODY, 1L);
    if (!Run(*t)) return false;
    char* entry = nullptr;
    curl_easy_getinfo(t->Easy(), CURLINFO_FTP_ENTRY_PATH, &entry);
    FCurrentDir = entry && *entry ? entry : "/";
    return true;
  }

  CURLM* Multi() const { return FMulti; }
  CurlSession& Session() const { return FSession; }
  Settings Effective(const Settings& child) const { return child.Over(FSettings.Over(FSession.GetSettings())); }

  std::string HttpBase(bool secure) const {
    INTERNET_PORT port = FPort != INTERNET_INVALID_PORT_NUMBER ? FPort
                                                               : (secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT);
    return std::string(secure ? "https://" : "http://") + HostForUrl(FHost) + ":" + std::to_string(port);
  }

  // An absolute server path for a name relative to the current directory; "." and ".." resolved.
  std::string Resolve(const std::string& name) const {
    std::string path = !name.empty() && name[0] == '/' ? name : FCurrentDir + "/" + name;
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= path.size()) {
      size_t slash = path.find('/', i);
      if (slash == std::string::npos) slash = path.size();
      std::string part = path.substr(i, slash - i);
      i = slash + 1;
      if (part.empty() || part == ".") continue;
      if (part == "..") {
        if (!parts.empty()) parts.pop_back();
        continue;
      }
      parts.push_back(part);
    }
    std::string out;
    for (auto& p : parts) out += "/" + p;
    return out.empty() ? "/" : out;
  }

  static constexpr DWORD flagsNone = 0;

  // A transfer for an absolute server path ("/" the root, a trailing "/" a directory listing).
  std::unique_ptr<Transfer> NewFtpTransfer(const std::string& path, DWORD flags) {
    auto t = std::make_unique<Transfer>(FMulti);
    if (!t->Easy()) return t;
    INTERNET_PORT port = FPort != INTERNET_INVALID_PORT_NUMBER ? FPort : INTERNET_DEFAULT_FTP_PORT;
    // "%2F" makes the path absolute; with no CWD at all every command names the full path, so the
    // server's own current directory never matters.
    std::string url = "ftp://" + HostForUrl(FHost) + ":" + std::to_string(port) + "/%2F" +
                      EncodeStrict(path.size() > 1 ? path.substr(1) : std::string());
    CURL* e = t->Easy();
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    Settings s = Effective(Settings());
    std::string user = s.user && !s.user->empty() ? UTF8Encode(*s.user) : "anonymous";
    std::string password = s.password ? UTF8Encode(*s.password) : (user == "anonymous" ? "ktinet@" : "");
    curl_easy_setopt(e, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, password.c_str());
    if (flags & FTP_TRANSFER_TYPE_ASCII) curl_easy_setopt(e, CURLOPT_TRANSFERTEXT, 1L);
    ApplyCommon(*t, FSession, s, "ftp", 0);
    return t;
  }

  // Runs a small transfer to its end; failures set the error and the server's reply.
  bool Run(Transfer& t) {
    t.SetCollectAll();
    if (!t.Start()) return false;
    t.WaitDone();
    if (t.TooLarge()) {
      InternetSetLastResponseInfo(0, Format(u"the listing is larger than %d MiB",
                                            {static_cast<long long>(KTINET_MAX_LISTING_BYTES >> 20)}));
      return Fail(KTINET_ERROR_ANSWER_TOO_LARGE);
    }
    t.PublishResponse();
    if (t.Result() != CURLE_OK) return Fail(t.Error());
    return true;
  }

  bool FBusy = false;  // a find or file handle is open
  bool FNoMlsd = false;

 private:
  CurlSession& FSession;
  std::string FHost;
  INTERNET_PORT FPort;
  DWORD FService;
  CURLM* FMulti;
  Settings FSettings;
  std::string FCurrentDir = "/";
};

bool CurlRequest::Send() {
  const bool secure = (FFlags & INTERNET_FLAG_SECURE) != 0;
  auto t = std::make_unique<Transfer>(FConnect.Multi());
  FTransfer.reset();  // the previous attempt's connection goes back to the cache first
  if (!t->Easy()) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  CURL* e = t->Easy();
  std::string object = FObject;
  if (object.empty() || object[0] != '/') object = "/" + object;
  std::string url = FConnect.HttpBase(secure) + EncodePath(object);
  curl_easy_setopt(e, CURLOPT_URL, url.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION,
                   static_cast<long>(FVersion == "HTTP/1.0" ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1));
  const bool head = EqualNoCase(FVerb, "HEAD");
  const bool get = EqualNoCase(FVerb, "GET");
  if (head) {
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
  } else if (EqualNoCase(FVerb, "POST") || FHasBody) {
    curl_easy_setopt(e, CURLOPT_POST, 1L);
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(FBody.size()));
    curl_easy_setopt(e, CURLOPT_COPYPOSTFIELDS, FBody.c_str());
    if (!EqualNoCase(FVerb, "POST")) curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, FVerb.c_str());
  } else if (!get) {
    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, FVerb.c_str());
  }
  const bool follow = (head || get) && !(FFlags & INTERNET_FLAG_NO_AUTO_REDIRECT);
  t->SetFollowRedirects(follow);
  if (follow) {
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  }
  curl_slist* list = curl_slist_append(nullptr, "Expect:");
  for (auto& [name, value] : FAdded) list = curl_slist_append(list, (name + ": " + value).c_str());
  size_t i = 0;
  while (i < FExtraHeaders.size()) {
    size_t end = FExtraHeaders.find_first_of("\r\n", i);
    std::string line = FExtraHeaders.substr(i, end == std::string::npos ? std::string::npos : end - i);
    i = end == std::string::npos ? FExtraHeaders.size() : end + 1;
    if (line.find(':') != std::string::npos) list = curl_slist_append(list, line.c_str());
  }
  // There is no local cache to bypass (INTERNET_FLAG_RELOAD); this one reaches caching proxies.
  if (FFlags & INTERNET_FLAG_PRAGMA_NOCACHE) list = curl_slist_append(list, "Pragma: no-cache");
  t->SetHeaders(list);
  if (FRange && *FRange > 0) curl_easy_setopt(e, CURLOPT_RANGE, (std::to_string(*FRange) + "-").c_str());
  Settings s = FConnect.Effective(FSettings);
  if (!(FFlags & INTERNET_FLAG_NO_AUTH) && s.user && !s.user->empty()) {
    curl_easy_setopt(e, CURLOPT_USERNAME, UTF8Encode(*s.user).c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, UTF8Encode(s.password.value_or(String())).c_str());
    curl_easy_setopt(e, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
  }
  ApplyCommon(*t, FConnect.Session(), s, secure ? "https" : "http", FFlags);
  if (!t->Start()) return false;
  t->WaitHeaders();
  if (!t->HeadersDone()) {
    long connectCode = 0;
    curl_easy_getinfo(e, CURLINFO_HTTP_CONNECTCODE, &connectCode);
    if (connectCode == 407) {
      t->SynthesizeStatus(407, "Proxy Authentication Required");
    } else {
      t->PublishResponse();
      return Fail(t->Done() && t->Result() == CURLE_OK ? ERROR_HTTP_INVALID_SERVER_RESPONSE : t->Error());
    }
  }
  // A body whose length cannot be read has no end anyone could check: refused, not guessed.
  {
    std::optional<std::string> length;
    for (auto& [name, value] : t->Headers()) {
      if (!EqualNoCase(name, "content-length")) continue;
      bool digits = !value.empty() && value.size() <= 18;
      for (char c : value) digits = digits && c >= '0' && c <= '9';
      if (!digits || (length && *length != value)) {
        InternetSetLastResponseInfo(static_cast<DWORD>(t->Status()),
                                    DecodeText("malformed Content-Length: " + value.substr(0, 40)));
        return Fail(ERROR_HTTP_INVALID_HEADER);
      }
      length = value;
    }
  }
  FTransfer = std::move(t);
  FPosition = FRange && FTransfer->Status() == 206 ? *FRange : 0;
  InternetSetLastResponseInfo(static_cast<DWORD>(FTransfer->Status()), DecodeText(FTransfer->StatusLine()));
  return true;
}

bool CurlRequest::QueryInfo(DWORD infoLevel, const String& customName, DWORD& index, String& value) {
  const DWORD attribute = infoLevel & HTTP_QUERY_HEADER_MASK;
  const bool request = (infoLevel & HTTP_QUERY_FLAG_REQUEST_HEADERS) != 0;
  if (!request && !FTransfer) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  static const std::pair<DWORD, const char*> kNames[] = {
      {HTTP_QUERY_MIME_VERSION, "MIME-Version"},
      {HTTP_QUERY_CONTENT_TYPE, "Content-Type"},
      {HTTP_QUERY_CONTENT_TRANSFER_ENCODING, "Content-Transfer-Encoding"},
      {HTTP_QUERY_CONTENT_ID, "Content-ID"},
      {HTTP_QUERY_CONTENT_DESCRIPTION, "Content-Description"},
      {HTTP_QUERY_CONTENT_LENGTH, "Content-Length"},
      {HTTP_QUERY_CONTENT_LANGUAGE, "Content-Language"},
      {HTTP_QUERY_ALLOW, "Allow"},
      {HTTP_QUERY_PUBLIC, "Public"},
      {HTTP_QUERY_DATE, "Date"},
      {HTTP_QUERY_EXPIRES, "Expires"},
      {HTTP_QUERY_LAST_MODIFIED, "Last-Modified"},
      {HTTP_QUERY_MESSAGE_ID, "Message-ID"},
      {HTTP_QUERY_URI, "URI"},
      {HTTP_QUERY_DERIVED_FROM, "Derived-From"},
      {HTTP_QUERY_COST, "Cost"},
      {HTTP_QUERY_LINK, "Link"},
      {HTTP_QUERY_PRAGMA, "Pragma"},
      {HTTP_QUERY_CONNECTION, "Connection"},
      {HTTP_QUERY_ACCEPT, "Accept"},
      {HTTP_QUERY_ACCEPT_CHARSET, "Accept-Charset"},
      {HTTP_QUERY_ACCEPT_ENCODING, "Accept-Encoding"},
      {HTTP_QUERY_ACCEPT_LANGUAGE, "Accept-Language"},
      {HTTP_QUERY_AUTHORIZATION, "Authorization"},
      {HTTP_QUERY_CONTENT_ENCODING, "Content-Encoding"},
      {HTTP_QUERY_FORWARDED, "Forwarded"},
      {HTTP_QUERY_FROM, "From"},
      {HTTP_QUERY_IF_MODIFIED_SINCE, "If-Modified-Since"},
      {HTTP_QUERY_LOCATION, "Location"},
      {HTTP_QUERY_ORIG_URI, "Orig-URI"},
      {HTTP_QUERY_REFERER, "Referer"},
      {HTTP_QUERY_RETRY_AFTER, "Retry-After"},
      {HTTP_QUERY_SERVER, "Server"},
      {HTTP_QUERY_TITLE, "Title"},
      {HTTP_QUERY_USER_AGENT, "User-Agent"},
      {HTTP_QUERY_WWW_AUTHENTICATE, "WWW-Authenticate"},
      {HTTP_QUERY_PROXY_AUTHENTICATE, "Proxy-Authenticate"},
      {HTTP_QUERY_ACCEPT_RANGES, "Accept-Ranges"},
      {HTTP_QUERY_SET_COOKIE, "Set-Cookie"},
      {HTTP_QUERY_COOKIE, "Cookie"},
  };
  if (!request) {
    switch (attribute) {
      case HTTP_QUERY_STATUS_CODE:
        value = IntToStr(FTransfer->Status());
        return true;
      case HTTP_QUERY_STATUS_TEXT: {
        const std::string& line = FTransfer->StatusLine();
        size_t a = line.find(' ');
        size_t b = a == std::string::npos ? std::string::npos : line.find(' ', a + 1);
        value = b == std::string::npos ? String() : DecodeText(line.substr(b + 1));
        return true;
      }
      case HTTP_QUERY_VERSION: {
        const std::string& line = FTransfer->StatusLine();
        value = DecodeText(line.substr(0, line.find(' ')));
        return true;
      }
      case HTTP_QUERY_RAW_HEADERS_CRLF:
        value = DecodeText(FTransfer->RawHeaders());
        return true;
      case HTTP_QUERY_RAW_HEADERS: {
        std::string raw = FTransfer->StatusLine();
        raw += '\0';
        for (auto& [n, v] : FTransfer->Headers()) {
          raw += n + ": " + v;
          raw += '\0';
        }
        value = DecodeText(raw);
        return true;
      }
      case HTTP_QUERY_REQUEST_METHOD:
        value = DecodeText(FVerb);
        return true;
      default:
        break;
    }
  }
  std::string name;
  if (attribute == HTTP_QUERY_CUSTOM) {
    name = UTF8Encode(customName);
  } else {
    for (auto& [code, text] : kNames)
      if (code == attribute) name = text;
    if (name.empty()) return Fail(ERROR_HTTP_INVALID_QUERY_REQUEST);
  }
  const auto& headers = request ? FAdded : FTransfer->Headers();
  DWORD seen = 0;
  for (auto& [n, v] : headers) {
    if (!EqualNoCase(n, name)) continue;
    if (seen++ == index) {
      value = DecodeText(v);
      ++index;
      return true;
    }
  }
  return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
}

// A directory listing read in full when the find handle is made (listings are small); the
// connection counts as busy until the handle is closed, as on Windows.
void CopyName(const String& name, Char (&out)[MAX_PATH]) {
  size_t n = std::min<size_t>(name.size(), MAX_PATH - 1);
  std::copy(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(n), out);
  out[n] = u'\0';
}

WIN32_FIND_DATAW FindDataOf(const TFtpListEntry& e) {
  WIN32_FIND_DATAW d;
  d.dwFileAttributes = e.IsDirectory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  if (e.HasSize) {
    d.nFileSizeHigh = static_cast<DWORD>(static_cast<std::uint64_t>(e.Size) >> 32);
    d.nFileSizeLow = static_cast<DWORD>(e.Size & 0xFFFFFFFF);
  }
  if (e.HasTime) d.ftLastWriteTime = d.ftCreationTime = d.ftLastAccessTime = e.LastWriteTime;
  if (!e.Unique.empty()) {
    std::uint64_t h = 14695981039346656037ull;  // FNV-1a
    for (unsigned char c : e.Unique) h = (h ^ c) * 1099511628211ull;
    if (h == 0) h = 1;
    d.dwReserved0 = static_cast<DWORD>(h >> 32);
    d.dwReserved1 = static_cast<DWORD>(h & 0xFFFFFFFF);
  }
  CopyName(e.Name, d.cFileName);
  return d;
}

// A directory listing read in full when the find handle is made (bounded by the listing limits);
// the connection counts as busy until the handle is closed, as on Windows.
class CurlFtpFind : public TInternetHandle {
 public:
  CurlFtpFind(CurlConnect& connect, std::vector<TFtpListEntry> entries)
      : FConnect(connect), FEntries(std::move(entries)) {
    FConnect.FBusy = true;
  }
  ~CurlFtpFind() override { FConnect.FBusy = false; }
  DWORD HandleType() const override { return INTERNET_HANDLE_TYPE_FTP_FIND; }
  bool FindNextFile(WIN32_FIND_DATAW& findData) override {
    if (FNext >= FEntries.size()) return Fail(ERROR_NO_MORE_FILES);
    findData = FindDataOf(FEntries[FNext++]);
    return true;
  }

 private:
  CurlConnect& FConnect;
  std::vector<TFtpListEntry> FEntries;
  size_t FNext = 1;  // the first entry went out with FtpFindFirstFileW
};

class CurlFtpFile : public TInternetHandle {
 public:
  CurlFtpFile(CurlConnect& connect, std::string path, DWORD flags, Int64 size, bool hasTime, FILETIME time)
      : FConnect(connect), FPath(std::move(path)), FFlags(flags), FSize(size), FHasTime(hasTime), FTime(time) {
    FConnect.FBusy = true;
  }
  ~CurlFtpFile() override {
    FTransfer.reset();
    FConnect.FBusy = false;
  }
  DWORD HandleType() const override { return INTERNET_HANDLE_TYPE_FTP_FILE; }

  bool SetFilePointer(Int64 position) override {
    if (FTransfer) return position == FPosition ? true : Fail(ERROR_INTERNET_INVALID_OPERATION);
    if (FSize >= 0 && position > FSize) return Fail(ERROR_INTERNET_INVALID_OPERATION);
    FPosition = position;
    return true;
  }

  bool ReadFile(void* buffer, DWORD bytesToRead, DWORD& bytesRead) override {
    if (!FTransfer) {
      if (FSize >= 0 && FPosition >= FSize) {
        bytesRead = 0;
        return true;  // nothing left to fetch
      }
      FTransfer = FConnect.NewFtpTransfer(FPath, FFlags);
      if (FPosition > 0) curl_easy_setopt(FTransfer->Easy(), CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(FPosition));
      if (!FTransfer->Start()) return false;
    }
    if (!FTransfer->Read(buffer, bytesToRead, bytesRead)) return false;
    FPosition += bytesRead;
    if (bytesRead == 0 && FSize >= 0 && FPosition < FSize) {
      // The data connection closed early without the server saying so.
      FTransfer->PublishResponse();
      return Fail(ERROR_INTERNET_CONNECTION_ABORTED);
    }
    return true;
  }

  bool GetFileSize(Int64& size) override {
    if (FSize < 0) return Fail(ERROR_INTERNET_ITEM_NOT_FOUND);
    size = FSize;
    return true;
  }
  bool GetFileTime(FILETIME& time) override {
    if (!FHasTime) return Fail(ERROR_INTERNET_ITEM_NOT_FOUND);
    time = FTime;
    return true;
  }

 private:
  CurlConnect& FConnect;
  std::string FPath;
  DWORD FFlags;
  Int64 FSize;
  bool FHasTime;
  FILETIME FTime;
  Int64 FPosition = 0;
  std::unique_ptr<Transfer> FTransfer;
};

std::unique_ptr<TInternetHandle> CurlConnect::FindFirstFile(const String& searchFile, WIN32_FIND_DATAW& findData,
                                                            DWORD) {
  if (FService != INTERNET_SERVICE_FTP) {
    Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return nullptr;
  }
  if (FBusy) {
    Fail(ERROR_FTP_TRANSFER_IN_PROGRESS);
    return nullptr;
  }
  std::string search = UTF8Encode(searchFile);
  std::string dir, mask;
  size_t slash = search.rfind('/');
  if (slash == std::string::npos) {
    dir = FCurrentDir;
    mask = search;
  } else {
    dir = Resolve(search.substr(0, slash + 1).empty() ? "/" : search.substr(0, slash + 1));
    mask = search.substr(slash + 1);
  }
  if (mask.empty()) mask = "*";
  std::string listPath = dir == "/" ? "/" : dir + "/";

  std::vector<TFtpListEntry> entries;
  bool listed = false, truncated = false;
  if (!FNoMlsd) {
    auto t = NewFtpTransfer(listPath, 0);
    curl_easy_setopt(t->Easy(), CURLOPT_CUSTOMREQUEST, "MLSD");
    if (Run(*t)) {
      entries = ParseFtpListing(t->Body(), true, std::time(nullptr), KTINET_MAX_LISTING_ENTRIES, &truncated);
      listed = true;
    } else {
      // Servers without MLSD answer 500-504 ("command not understood"); other failures stand.
      int code = t->ReplyCode();
      if (t->TooLarge() || code < 500 || code > 504) return nullptr;
      FNoMlsd = true;
    }
  }
  if (!listed) {
    auto t = NewFtpTransfer(listPath, 0);
    if (!Run(*t)) return nullptr;
    entries = ParseFtpListing(t->Body(), false, std::time(nullptr), KTINET_MAX_LISTING_ENTRIES, &truncated);
  }
  if (truncated) {
    InternetSetLastResponseInfo(0, Format(u"the listing has more than %d entries",
                                          {static_cast<long long>(KTINET_MAX_LISTING_ENTRIES)}));
    Fail(KTINET_ERROR_ANSWER_TOO_LARGE);
    return nullptr;
  }
  String wideMask = DecodeText(mask);
  std::vector<TFtpListEntry> found;
  for (TFtpListEntry& e : entries)
    if (MatchesMask(e.Name, wideMask)) found.push_back(std::move(e));
  if (found.empty()) {
    Fail(ERROR_NO_MORE_FILES);
    return nullptr;
  }
  findData = FindDataOf(found.front());
  return std::make_unique<CurlFtpFind>(*this, std::move(found));
}

std::unique_ptr<TInternetHandle> CurlConnect::OpenFile(const String& fileName, DWORD access, DWORD flags) {
  if (FService != INTERNET_SERVICE_FTP) {
    Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return nullptr;
  }
  if (access != GENERIC_READ) {
    Fail(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  if (FBusy) {
    Fail(ERROR_FTP_TRANSFER_IN_PROGRESS);
    return nullptr;
  }
  std::string path = Resolve(UTF8Encode(fileName));
  // SIZE and MDTM: they also tell whether the file is there at all.
  auto t = NewFtpTransfer(path, flags);
  curl_easy_setopt(t->Easy(), CURLOPT_NOBODY, 1L);
  curl_easy_setopt(t->Easy(), CURLOPT_FILETIME, 1L);
  if (!Run(*t)) return nullptr;
  curl_off_t size = -1, filetime = -1;
  curl_easy_getinfo(t->Easy(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
  curl_easy_getinfo(t->Easy(), CURLINFO_FILETIME_T, &filetime);
  FILETIME ft;
  if (filetime >= 0) ft = UnixToFileTime(static_cast<std::time_t>(filetime));
  return std::make_unique<CurlFtpFile>(*this, path, flags, static_cast<Int64>(size), filetime >= 0, ft);
}

std::unique_ptr<TInternetHandle> CurlSession::Connect(const String& serverName, INTERNET_PORT serverPort,
                                                      const Char* userName, const Char* password, DWORD service,
                                                      DWORD flags) {
  if (service != INTERNET_SERVICE_HTTP && service != INTERNET_SERVICE_FTP) {
    Fail(ERROR_INTERNET_PROTOCOL_NOT_FOUND);
    return nullptr;
  }
  // FTP data connections are always passive (INTERNET_FLAG_PASSIVE or not): active mode needs
  // the server to reach back to us, which firewalls and address translation rarely allow.
  (void)flags;
  auto c = std::make_unique<CurlConnect>(*this, serverName, serverPort, userName, password, service);
  if (!c->Multi()) {
    Fail(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (service == INTERNET_SERVICE_FTP && !c->Logon()) {
    DWORD e = InternetGetLastError();
    // A refused logon reads as such whatever libcurl made of the 530.
    if (e == ERROR_INTERNET_EXTENDED_ERROR || e == ERROR_INTERNET_INTERNAL_ERROR) InternetSetLastError(ERROR_INTERNET_LOGIN_FAILURE);
    return nullptr;
  }
  return c;
}

// InternetOpenUrlW's handle: a connection of its own and the request or file read through it.
class CurlUrlHandle : public TInternetHandle {
 public:
  CurlUrlHandle(std::unique_ptr<CurlConnect> connect, std::unique_ptr<TInternetHandle> inner)
      : FConnect(std::move(connect)), FInner(std::move(inner)) {}
  ~CurlUrlHandle() override { FInner.reset(); }
  DWORD HandleType() const override { return FInner->HandleType(); }
  bool SetOption(DWORD option, const String& text, DWORD number) override { return FInner->SetOption(option, text, number); }
  bool QueryInfo(DWORD infoLevel, const String& customName, DWORD& index, String& value) override {
    return FInner->QueryInfo(infoLevel, customName, index, value);
  }
  bool SetFilePointer(Int64 position) override { return FInner->SetFilePointer(position); }
  bool ReadFile(void* buffer, DWORD bytesToRead, DWORD& bytesRead) override {
    return FInner->ReadFile(buffer, bytesToRead, bytesRead);
  }
  bool GetFileSize(Int64& size) override { return FInner->GetFileSize(size); }
  bool GetFileTime(FILETIME& time) override { return FInner->GetFileTime(time); }

 private:
  std::unique_ptr<CurlConnect> FConnect;
  std::unique_ptr<TInternetHandle> FInner;
};

std::unique_ptr<TInternetHandle> CurlSession::OpenUrl(const String& url, const String& headers, DWORD flags) {
  CURLU* u = curl_url();
  if (!u) {
    Fail(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::unique_ptr<CURLU, void (*)(CURLU*)> guard(u, curl_url_cleanup);
  std::string text = UTF8Encode(url);
  if (curl_url_set(u, CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME | CURLU_URLENCODE) != CURLUE_OK) {
    Fail(ERROR_INTERNET_INVALID_URL);
    return nullptr;
  }
  auto part = [&](CURLUPart which, unsigned flagsOut) {
    char* p = nullptr;
    std::string out;
    if (curl_url_get(u, which, &p, flagsOut) == CURLUE_OK && p) out = p;
    curl_free(p);
    return out;
  };
  std::string scheme = part(CURLUPART_SCHEME, 0);
  for (char& c : scheme) c = LowerAscii(c);
  std::string host = part(CURLUPART_HOST, 0);
  if (!host.empty() && host.front() == '[') host = host.substr(1, host.size() - 2);
  std::string port = part(CURLUPART_PORT, 0);
  std::string user = part(CURLUPART_USER, CURLU_URLDECODE);
  std::string password = part(CURLUPART_PASSWORD, CURLU_URLDECODE);
  INTERNET_PORT portNumber = port.empty() ? INTERNET_INVALID_PORT_NUMBER : static_cast<INTERNET_PORT>(std::atoi(port.c_str()));
  String wideUser = UTF8ToString(user), widePassword = UTF8ToString(password);
  const Char* userArg = user.empty() ? nullptr : wideUser.c_str();
  const Char* passwordArg = password.empty() ? nullptr : widePassword.c_str();
  if (scheme == "http" || scheme == "https") {
    auto connect = std::make_unique<CurlConnect>(*this, UTF8ToString(host), portNumber, userArg, passwordArg,
                                                 INTERNET_SERVICE_HTTP);
    std::string path = part(CURLUPART_PATH, 0);
    std::string query = part(CURLUPART_QUERY, 0);
    if (!query.empty()) path += "?" + query;
    DWORD requestFlags = flags | (scheme == "https" ? INTERNET_FLAG_SECURE : 0);
    auto request = std::make_unique<CurlRequest>(*connect, u"GET", UTF8ToString(path), u"HTTP/1.1", requestFlags);
    if (!headers.empty() && !request->AddRequestHeaders(headers, HTTP_ADDREQ_FLAG_ADD)) return nullptr;
    if (!request->SendRequest(String(), nullptr, 0)) return nullptr;
    return std::make_unique<CurlUrlHandle>(std::move(connect), std::move(request));
  }
  if (scheme == "ftp") {
    auto connect = std::make_unique<CurlConnect>(*this, UTF8ToString(host), portNumber, userArg, passwordArg,
                                                 INTERNET_SERVICE_FTP);
    if (!connect->Logon()) return nullptr;
    std::string path = part(CURLUPART_PATH, CURLU_URLDECODE);
    // A URL path is relative to the logon directory.
    if (!path.empty() && path[0] == '/') path.erase(0, 1);
    auto file = connect->OpenFile(UTF8ToString(path), GENERIC_READ, flags & (FTP_TRANSFER_TYPE_ASCII | FTP_TRANSFER_TYPE_BINARY));
    if (!file) return nullptr;
    return std::make_unique<CurlUrlHandle>(std::move(connect), std::move(file));
  }
  Fail(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
  return nullptr;
}

class CurlBackend : public TInternetBackend {
 public:
  std::unique_ptr<TInternetHandle> Open(const String& agent, DWORD accessType, const String& proxy,
                                        const String& proxyBypass, DWORD) override {
    InitCurl();
    return std::make_unique<CurlSession>(agent, accessType, proxy, proxyBypass);
  }
};

}  // namespace

TInternetBackend& LibcurlInternetBackend() {
  static CurlBackend backend;
  return backend;
}

}  // namespace ktinet
