#include "platform/WinInet.h"

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

#include "platform/WinInetShared.h"
#include "rtl/DateTime.h"

namespace ktinet {

using internet_detail::EqualNoCase;
using internet_detail::Fail;
using internet_detail::LowerAscii;

// ---- Last error and last response -------------------------------------------------------------
namespace {

thread_local DWORD tLastError = ERROR_SUCCESS;
thread_local DWORD tResponseCode = 0;
thread_local String tResponseText;

}  // namespace

namespace internet_detail {

bool Fail(DWORD error) {
  InternetSetLastError(error);
  return false;
}

}  // namespace internet_detail

DWORD InternetGetLastError() { return tLastError; }

void InternetSetLastError(DWORD error) {
  tLastError = error;
  if (error != ERROR_SUCCESS) errno = static_cast<int>(error);
}

void InternetSetLastResponseInfo(DWORD code, const String& text) {
  tResponseCode = code;
  tResponseText = text;
}

BOOL InternetGetLastResponseInfoW(DWORD* error, Char* buffer, DWORD* bufferLength) {
  if (!bufferLength) return Fail(ERROR_INVALID_PARAMETER);
  if (error) *error = tResponseCode;
  const String& text = tResponseText;
  if (!buffer || *bufferLength < text.size() + 1) {
    *bufferLength = static_cast<DWORD>(text.size() + 1);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::copy(text.begin(), text.end(), buffer);
  buffer[text.size()] = u'\0';
  *bufferLength = static_cast<DWORD>(text.size());
  return true;
}

String InternetErrorMessage(DWORD error) {
  struct Entry {
    DWORD code;
    const char* text;
  };
  static const Entry kTexts[] = {
      {ERROR_SUCCESS, "The operation completed successfully."},
      {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
      {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
      {ERROR_ACCESS_DENIED, "Access is denied."},
      {ERROR_INVALID_HANDLE, "The handle is invalid."},
      {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
      {ERROR_NO_MORE_FILES, "There are no more files."},
      {ERROR_HANDLE_EOF, "Reached the end of the file."},
      {ERROR_NOT_SUPPORTED, "The request is not supported."},
      {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
      {ERROR_CALL_NOT_IMPLEMENTED, "This function is not supported on this system."},
      {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
      {ERROR_NEGATIVE_SEEK, "An attempt was made to move the file pointer before the beginning of the file."},
      {ERROR_CANCELLED, "The operation was canceled by the user."},
      {ERROR_INTERNET_OUT_OF_HANDLES, "No more Internet handles can be allocated."},
      {ERROR_INTERNET_TIMEOUT, "The operation timed out."},
      {ERROR_INTERNET_EXTENDED_ERROR, "The server returned extended information."},
      {ERROR_INTERNET_INTERNAL_ERROR, "An internal error occurred in the Internet functions."},
      {ERROR_INTERNET_INVALID_URL, "The URL is invalid."},
      {ERROR_INTERNET_UNRECOGNIZED_SCHEME, "The URL does not use a recognized protocol."},
      {ERROR_INTERNET_NAME_NOT_RESOLVED, "The server name or address could not be resolved."},
      {ERROR_INTERNET_PROTOCOL_NOT_FOUND, "A protocol with the required capabilities was not found."},
      {ERROR_INTERNET_INVALID_OPTION, "The option is invalid."},
      {ERROR_INTERNET_BAD_OPTION_LENGTH, "The length is incorrect for the option type."},
      {ERROR_INTERNET_OPTION_NOT_SETTABLE, "The option value cannot be set."},
      {ERROR_INTERNET_SHUTDOWN, "The Internet functions have been shut down."},
      {ERROR_INTERNET_INCORRECT_USER_NAME, "The user name is not allowed."},
      {ERROR_INTERNET_INCORRECT_PASSWORD, "The password is not allowed."},
      {ERROR_INTERNET_LOGIN_FAILURE, "The login request was denied."},
      {ERROR_INTERNET_INVALID_OPERATION, "The requested operation is invalid."},
      {ERROR_INTERNET_OPERATION_CANCELLED, "The operation has been canceled."},
      {ERROR_INTERNET_INCORRECT_HANDLE_TYPE, "The supplied handle is the wrong type for the requested operation."},
      {ERROR_INTERNET_INCORRECT_HANDLE_STATE, "The handle is in the wrong state for the requested operation."},
      {ERROR_INTERNET_NOT_PROXY_REQUEST, "The request cannot be made on a proxy session."},
      {ERROR_INTERNET_ITEM_NOT_FOUND, "The requested item could not be found."},
      {ERROR_INTERNET_CANNOT_CONNECT, "A connection with the server could not be established."},
      {ERROR_INTERNET_CONNECTION_ABORTED, "The connection with the server was terminated abnormally."},
      {ERROR_INTERNET_CONNECTION_RESET, "The connection with the server was reset."},
      {ERROR_INTERNET_FORCE_RETRY, "The request must be sent again."},
      {ERROR_INTERNET_INVALID_PROXY_REQUEST, "The request to the proxy was invalid."},
      {ERROR_INTERNET_HANDLE_EXISTS, "The request failed because the handle already exists."},
      {ERROR_INTERNET_SEC_CERT_DATE_INVALID, "The server's security certificate has expired or is not yet valid."},
      {ERROR_INTERNET_SEC_CERT_CN_INVALID, "The server's security certificate was issued for another host name."},
      {ERROR_INTERNET_INVALID_CA, "The server's security certificate was issued by an unknown or untrusted authority."},
      {ERROR_INTERNET_SEC_CERT_ERRORS, "The server's security certificate contains errors."},
      {ERROR_INTERNET_SEC_CERT_REV_FAILED, "The revocation of the server's certificate could not be checked."},
      {ERROR_FTP_TRANSFER_IN_PROGRESS, "An FTP operation is already under way on this connection."},
      {ERROR_FTP_DROPPED, "The FTP operation was not completed because the session was aborted."},
      {ERROR_FTP_NO_PASSIVE_MODE, "Passive mode is not available on the FTP server."},
      {ERROR_HTTP_HEADER_NOT_FOUND, "The requested header could not be found."},
      {ERROR_HTTP_DOWNLEVEL_SERVER, "The server did not return any headers."},
      {ERROR_HTTP_INVALID_SERVER_RESPONSE, "The server response could not be parsed."},
      {ERROR_HTTP_INVALID_HEADER, "The header is invalid."},
      {ERROR_HTTP_INVALID_QUERY_REQUEST, "The request for header information is invalid."},
      {ERROR_HTTP_HEADER_ALREADY_EXISTS, "The header could not be added because it already exists."},
      {ERROR_HTTP_REDIRECT_FAILED, "The redirection failed."},
      {ERROR_INTERNET_SECURITY_CHANNEL_ERROR, "A secure connection with the server could not be established."},
      {ERROR_HTTP_NOT_REDIRECTED, "The request was not redirected."},
      {ERROR_INTERNET_SEC_INVALID_CERT, "The server's security certificate is invalid."},
      {ERROR_INTERNET_SEC_CERT_REVOKED, "The server's security certificate has been revoked."},
      {KTINET_ERROR_ANSWER_TOO_LARGE, "The server's answer is larger than the limit for answers held in memory."},
  };
  for (const Entry& e : kTexts)
    if (e.code == error) return Str(e.text);
  return String();
}

// ---- Dates ------------------------------------------------------------------------------------
namespace {

constexpr Int64 kUnixEpochSeconds = 11644473600LL;  // 1601-01-01 to 1970-01-01

}  // namespace

namespace internet_detail {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

}  // namespace internet_detail

bool ParseHttpDate(std::string_view text, SYSTEMTIME& out) {
  static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
  int month = 0, hour = -1, minute = -1, second = -1;
  std::vector<long> numbers;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == ',' || text[i] == '-' || text[i] == '\t')) ++i;
    size_t b = i;
    while (i < text.size() && !(text[i] == ' ' || text[i] == ',' || text[i] == '-' || text[i] == '\t')) ++i;
    std::string_view tok = text.substr(b, i - b);
    if (tok.empty()) break;
    if (tok.find(':') != std::string_view::npos) {
      if (tok.size() != 8 || tok[2] != ':' || tok[5] != ':') return false;
      for (size_t k : {0u, 1u, 3u, 4u, 6u, 7u})
        if (tok[k] < '0' || tok[k] > '9') return false;
      hour = (tok[0] - '0') * 10 + (tok[1] - '0');
      minute = (tok[3] - '0') * 10 + (tok[4] - '0');
      second = (tok[6] - '0') * 10 + (tok[7] - '0');
    } else if (tok[0] >= '0' && tok[0] <= '9') {
      if (tok.size() > 4) return false;
      long v = 0;
      for (char c : tok) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
      }
      numbers.push_back(tok.size() == 2 && numbers.size() == 1 ? (v < 70 ? v + 2000 : v + 1900) : v);
    } else if (tok.size() == 3 && month == 0) {
      for (int k = 0; k < 12; ++k)
        if (EqualNoCase(tok, kMonths[k])) month = k + 1;
    }
  }
  if (month == 0 || hour < 0 || numbers.size() != 2) return false;
  SYSTEMTIME st;
  st.wYear = static_cast<WORD>(numbers[1]);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(numbers[0]);
  st.wHour = static_cast<WORD>(hour);
  st.wMinute = static_cast<WORD>(minute);
  st.wSecond = static_cast<WORD>(second);
  FILETIME ft;
  if (!SystemTimeToFileTime(&st, &ft)) return false;
  return FileTimeToSystemTime(&ft, &out);  // fills the day of the week
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft) {
  if (!st || !ft) return Fail(ERROR_INVALID_PARAMETER);
  if (st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 ||
      st->wDay > DaysInAMonth(st->wYear, st->wMonth) || st->wHour > 23 || st->wMinute > 59 || st->wSecond > 59 ||
      st->wMilliseconds > 999)
    return Fail(ERROR_INVALID_PARAMETER);
  Int64 secs = DaysFromCivil(st->wYear, st->wMonth, st->wDay) * 86400 + st->wHour * 3600 + st->wMinute * 60 + st->wSecond;
  *ft = Int64ToFileTime((secs + kUnixEpochSeconds) * 10000000LL + static_cast<Int64>(st->wMilliseconds) * 10000);
  return true;
}

BOOL FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st) {
  if (!ft || !st) return Fail(ERROR_INVALID_PARAMETER);
  Int64 ticks = FileTimeToInt64(*ft);
  if (ticks < 0) return Fail(ERROR_INVALID_PARAMETER);
  Int64 secs = ticks / 10000000LL - kUnixEpochSeconds;
  Int64 days = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
  Int64 rem = secs - days * 86400;
  Int64 y;
  unsigned m, d;
  CivilFromDays(days, y, m, d);
  st->wYear = static_cast<WORD>(y);
  st->wMonth = static_cast<WORD>(m);
  st->wDay = static_cast<WORD>(d);
  st->wDayOfWeek = static_cast<WORD>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  st->wHour = static_cast<WORD>(rem / 3600);
  st->wMinute = static_cast<WORD>(rem % 3600 / 60);
  st->wSecond = static_cast<WORD>(rem % 60);
  st->wMilliseconds = static_cast<WORD>(ticks % 10000000LL / 10000);
  return true;
}

// ---- Default operations of a handle -----------------------------------------------------------
std::unique_ptr<TInternetHandle> TInternetHandle::Connect(const String&, INTERNET_PORT, const Char*, const Char*,
                                                          DWORD, DWORD) {
  Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  return nullptr;
}
std::unique_ptr<TInternetHandle> TInternetHandle::OpenUrl(const String&, const String&, DWORD) {
  Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  return nullptr;
}
std::unique_ptr<TInternetHandle> TInternetHandle::OpenRequest(const String&, const String&, const String&, DWORD) {
  Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  return nullptr;
}
std::unique_ptr<TInternetHandle> TInternetHandle::FindFirstFile(const String&, WIN32_FIND_DATAW&, DWORD) {
  Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  return nullptr;
}
std::unique_ptr<TInternetHandle> TInternetHandle::OpenFile(const String&, DWORD, DWORD) {
  Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  return nullptr;
}
bool TInternetHandle::SetOption(DWORD, const String&, DWORD) { return Fail(ERROR_INTERNET_INVALID_OPTION); }
bool TInternetHandle::AddRequestHeaders(const String&, DWORD) { return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE); }
bool TInternetHandle::SendRequest(const String&, const void*, DWORD) {
  return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
}
bool TInternetHandle::QueryInfo(DWORD, const String&, DWORD&, String&) {
  return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
}
bool TInternetHandle::SetFilePointer(Int64) { return Fail(ERROR_INTERNET_INVALID_OPERATION); }
bool TInternetHandle::ReadFile(void*, DWORD, DWORD&) { return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE); }
bool TInternetHandle::FindNextFile(WIN32_FIND_DATAW&) { return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE); }
bool TInternetHandle::GetCurrentDirectory(String&) { return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE); }
bool TInternetHandle::SetCurrentDirectory(const String&) { return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE); }
bool TInternetHandle::GetFileSize(Int64&) { return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE); }
bool TInternetHandle::GetFileTime(FILETIME&) { return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE); }

// ---- Handle table -----------------------------------------------------------------------------
namespace {

// Handles are numbers that are never reused, so a stale handle (closed with its parent) is
// recognised instead of reaching freed memory.
struct Node {
  std::unique_ptr<TInternetHandle> object;
  std::uintptr_t parent = 0;
  std::vector<std::uintptr_t> children;
  TInternetBackend* backend = nullptr;
};

std::mutex gTableMutex;
std::unordered_map<std::uintptr_t, Node> gTable;
std::uintptr_t gNextHandle = 0xC000;

std::uintptr_t IdOf(HINTERNET h) { return reinterpret_cast<std::uintptr_t>(h); }

HINTERNET Register(std::unique_ptr<TInternetHandle> object, HINTERNET parent, TInternetBackend* backend) {
  std::lock_guard<std::mutex> lock(gTableMutex);
  std::uintptr_t id = (gNextHandle += 4);
  Node node;
  node.object = std::move(object);
  node.parent = IdOf(parent);
  node.backend = backend;
  if (node.parent != 0) {
    auto it = gTable.find(node.parent);
    if (it != gTable.end()) {
      it->second.children.push_back(id);
      if (!node.backend) node.backend = it->second.backend;
    }
  }
  gTable.emplace(id, std::move(node));
  return reinterpret_cast<HINTERNET>(id);
}

// The handle a thread used last, valid while no handle anywhere has been closed since: the
// block loop's many small reads skip the table.
std::atomic<std::uint64_t> gCloseGeneration{0};
thread_local std::uintptr_t tCachedId = 0;
thread_local TInternetHandle* tCachedObject = nullptr;
thread_local std::uint64_t tCachedGeneration = ~0ull;

TInternetHandle* Resolve(HINTERNET h) {
  const std::uintptr_t id = IdOf(h);
  const std::uint64_t generation = gCloseGeneration.load(std::memory_order_acquire);
  if (id == tCachedId && generation == tCachedGeneration && id != 0) return tCachedObject;
  {
    std::lock_guard<std::mutex> lock(gTableMutex);
    auto it = gTable.find(id);
    if (it != gTable.end()) {
      tCachedId = id;
      tCachedObject = it->second.object.get();
      tCachedGeneration = generation;
      return tCachedObject;
    }
  }
  Fail(ERROR_INVALID_HANDLE);
  return nullptr;
}

String FromZ(const Char* s) { return s ? String(s) : String(); }

// Every text a caller hands in that becomes part of a request line, a header line or an FTP
// command is refused here, for every component at once, when it holds CR, LF or NUL: the
// request is not made and the last error says which kind of text was at fault.
bool Clean(const String& text) { return !HasLineBreakOrNul(text); }
bool Clean(const Char* text) { return !text || Clean(String(text)); }
// A block of header lines may be split at CR LF, but a zero byte has no place in it.
bool CleanBlock(const String& block) { return block.find(Char(0)) == String::npos; }

String FromCounted(const Char* s, DWORD length) {
  if (!s) return String();
  if (length == 0xFFFFFFFF || length == 0) return String(s);
  String out(s, length);
  while (!out.empty() && out.back() == u'\0') out.pop_back();
  return out;
}

std::mutex gBackendMutex;
TInternetBackend* gBackend = nullptr;

std::mutex gCaMutex;
String gCaFile;
// Process-wide defaults set on a null handle, by option; new sessions start from them.
std::vector<std::pair<DWORD, DWORD>> gNumberDefaults;

}  // namespace

namespace internet_detail {

String GlobalCaFile() {
  std::lock_guard<std::mutex> lock(gCaMutex);
  return gCaFile;
}

std::vector<std::pair<DWORD, DWORD>> GlobalNumberDefaults() {
  std::lock_guard<std::mutex> lock(gCaMutex);
  return gNumberDefaults;
}

}  // namespace internet_detail

BOOL InternetCloseHandle(HINTERNET handle) {
  // Children first, each before its own children are gone: the order destructors can rely on.
  std::vector<std::unique_ptr<TInternetHandle>> doomed;
  std::vector<TInternetHandle*> notify;
  {
    std::lock_guard<std::mutex> lock(gTableMutex);
    auto it = gTable.find(IdOf(handle));
    if (it == gTable.end()) return Fail(ERROR_INVALID_HANDLE);
    gCloseGeneration.fetch_add(1, std::memory_order_acq_rel);
    if (it->second.parent != 0) {
      auto p = gTable.find(it->second.parent);
      if (p != gTable.end()) {
        auto& c = p->second.children;
        c.erase(std::remove(c.begin(), c.end(), IdOf(handle)), c.end());
      }
    }
    // Post-order walk: deepest handles end up first in `doomed`.
    std::vector<std::pair<std::uintptr_t, bool>> stack{{IdOf(handle), false}};
    while (!stack.empty()) {
      auto [id, expanded] = stack.back();
      stack.pop_back();
      auto n = gTable.find(id);
      if (n == gTable.end()) continue;
      if (!expanded) {
        notify.push_back(n->second.object.get());
        stack.push_back({id, true});
        for (std::uintptr_t child : n->second.children) stack.push_back({child, false});
      } else {
        doomed.push_back(std::move(n->second.object));
        gTable.erase(n);
      }
    }
  }
  for (TInternetHandle* h : notify) h->BeforeClose();
  for (auto& h : doomed) h.reset();
  return true;
}

TInternetBackend* SetInternetBackend(TInternetBackend* backend) {
  std::lock_guard<std::mutex> lock(gBackendMutex);
  TInternetBackend* previous = gBackend ? gBackend : &LibcurlInternetBackend();
  gBackend = backend;
  return previous;
}

namespace {
TInternetBackend& CurrentBackend() {
  std::lock_guard<std::mutex> lock(gBackendMutex);
  return gBackend ? *gBackend : LibcurlInternetBackend();
}
}  // namespace

// ---- The functions ----------------------------------------------------------------------------
HINTERNET InternetOpenW(const Char* agent, DWORD accessType, const Char* proxy, const Char* proxyBypass,
                        DWORD flags) {
  if (accessType != INTERNET_OPEN_TYPE_PRECONFIG && accessType != INTERNET_OPEN_TYPE_DIRECT &&
      accessType != INTERNET_OPEN_TYPE_PROXY && accessType != INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY) {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!Clean(agent) || !Clean(proxy) || !Clean(proxyBypass)) {
    Fail(ERROR_HTTP_INVALID_HEADER);
    return nullptr;
  }
  TInternetBackend& backend = CurrentBackend();
  std::unique_ptr<TInternetHandle> session = backend.Open(FromZ(agent), accessType, FromZ(proxy), FromZ(proxyBypass), flags);
  if (!session) return nullptr;
  InternetSetLastError(ERROR_SUCCESS);
  return Register(std::move(session), nullptr, &backend);
}

HINTERNET InternetConnectW(HINTERNET session, const Char* serverName, INTERNET_PORT serverPort, const Char* userName,
                           const Char* password, DWORD service, DWORD flags, DWORD_PTR) {
  TInternetHandle* s = Resolve(session);
  if (!s) return nullptr;
  if (!serverName || !*serverName) {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!Clean(serverName) || !Clean(userName) || !Clean(password)) {
    Fail(!Clean(serverName) ? ERROR_INTERNET_INVALID_URL
                            : !Clean(userName) ? ERROR_INTERNET_INCORRECT_USER_NAME : ERROR_INTERNET_INCORRECT_PASSWORD);
    return nullptr;
  }
  auto child = s->Connect(String(serverName), serverPort, userName, password, service, flags);
  if (!child) return nullptr;
  InternetSetLastError(ERROR_SUCCESS);
  return Register(std::move(child), session, nullptr);
}

BOOL InternetSetOptionW(HINTERNET handle, DWORD option, const void* buffer, DWORD bufferLength) {
  String text;
  DWORD number = 0;
  switch (option) {
    case INTERNET_OPTION_USERNAME:
    case INTERNET_OPTION_PASSWORD:
    case INTERNET_OPTION_PROXY_USERNAME:
    case INTERNET_OPTION_PROXY_PASSWORD:
    case INTERNET_OPTION_USER_AGENT:
    case KTINET_OPTION_CA_FILE:
      text = FromCounted(static_cast<const Char*>(buffer), bufferLength);
      break;
    case INTERNET_OPTION_CONNECT_TIMEOUT:
    case INTERNET_OPTION_SEND_TIMEOUT:
    case INTERNET_OPTION_RECEIVE_TIMEOUT:
    case INTERNET_OPTION_DATA_SEND_TIMEOUT:
    case INTERNET_OPTION_DATA_RECEIVE_TIMEOUT:
    case INTERNET_OPTION_SECURITY_FLAGS:
    case KTINET_OPTION_MAX_TIME:
      if (!buffer || bufferLength < sizeof(DWORD)) return Fail(ERROR_INTERNET_BAD_OPTION_LENGTH);
      std::memcpy(&number, buffer, sizeof number);
      break;
    default:
      return Fail(ERROR_INTERNET_INVALID_OPTION);
  }
  if (option != KTINET_OPTION_CA_FILE && !Clean(text)) {
    switch (option) {
      case INTERNET_OPTION_USERNAME:
      case INTERNET_OPTION_PROXY_USERNAME: return Fail(ERROR_INTERNET_INCORRECT_USER_NAME);
      case INTERNET_OPTION_PASSWORD:
      case INTERNET_OPTION_PROXY_PASSWORD: return Fail(ERROR_INTERNET_INCORRECT_PASSWORD);
      default: return Fail(ERROR_HTTP_INVALID_HEADER);
    }
  }
  if (!handle) {
    std::lock_guard<std::mutex> lock(gCaMutex);
    switch (option) {
      case KTINET_OPTION_CA_FILE: gCaFile = text; return true;
      case INTERNET_OPTION_CONNECT_TIMEOUT:
      case INTERNET_OPTION_RECEIVE_TIMEOUT:
      case INTERNET_OPTION_DATA_RECEIVE_TIMEOUT:
      case INTERNET_OPTION_SECURITY_FLAGS:
      case KTINET_OPTION_MAX_TIME:
        std::erase_if(gNumberDefaults, [&](const auto& d) { return d.first == option; });
        gNumberDefaults.emplace_back(option, number);
        return true;
      default: return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    }
  }
  TInternetHandle* h = Resolve(handle);
  if (!h) return false;
  if (!h->SetOption(option, text, number)) return false;
  InternetSetLastError(ERROR_SUCCESS);
  return true;
}

HINTERNET InternetOpenUrlW(HINTERNET session, const Char* url, const Char* headers, DWORD headersLength, DWORD flags,
                           DWORD_PTR) {
  TInternetHandle* s = Resolve(session);
  if (!s) return nullptr;
  if (!url || !*url || !Clean(url)) {
    Fail(ERROR_INTERNET_INVALID_URL);
    return nullptr;
  }
  if (!CleanBlock(FromCounted(headers, headersLength))) {
    Fail(ERROR_HTTP_INVALID_HEADER);
    return nullptr;
  }
  auto child = s->OpenUrl(String(url), FromCounted(headers, headersLength), flags);
  if (!child) return nullptr;
  InternetSetLastError(ERROR_SUCCESS);
  return Register(std::move(child), session, nullptr);
}

BOOL InternetReadFile(HINTERNET file, void* buffer, DWORD bytesToRead, DWORD* bytesRead) {
  if (!bytesRead || (!buffer && bytesToRead > 0)) return Fail(ERROR_INVALID_PARAMETER);
  *bytesRead = 0;
  TInternetHandle* h = Resolve(file);
  if (!h) return false;
  DWORD got = 0;
  if (!h->ReadFile(buffer, bytesToRead, got)) return false;
  *bytesRead = got;
  tLastError = ERROR_SUCCESS;
  return true;
}

DWORD InternetSetFilePointer(HINTERNET file, LONG distanceToMove, LONG* distanceToMoveHigh, DWORD moveMethod,
                             DWORD_PTR) {
  if (moveMethod != FILE_BEGIN) {
    Fail(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  Int64 position;
  if (distanceToMoveHigh) {
    position = (static_cast<Int64>(*distanceToMoveHigh) << 32) | static_cast<std::uint32_t>(distanceToMove);
    if (position < 0) {
      Fail(ERROR_NEGATIVE_SEEK);
      return INVALID_SET_FILE_POINTER;
    }
  } else {
    position = static_cast<std::uint32_t>(distanceToMove);
  }
  TInternetHandle* h = Resolve(file);
  if (!h) return INVALID_SET_FILE_POINTER;
  if (!h->SetFilePointer(position)) return INVALID_SET_FILE_POINTER;
  InternetSetLastError(ERROR_SUCCESS);
  if (distanceToMoveHigh) *distanceToMoveHigh = static_cast<LONG>(position >> 32);
  return static_cast<DWORD>(position & 0xFFFFFFFF);
}

DWORD InternetErrorDlg(void*, HINTERNET request, DWORD error, DWORD flags, void**) {
  TInternetBackend* backend = nullptr;
  TInternetHandle* h = nullptr;
  if (request) {
    std::lock_guard<std::mutex> lock(gTableMutex);
    auto it = gTable.find(IdOf(request));
    if (it != gTable.end()) {
      h = it->second.object.get();
      backend = it->second.backend;
    }
  }
  if (!backend) backend = &CurrentBackend();
  return backend->ErrorDlg(h, error, flags);
}

HINTERNET HttpOpenRequestW(HINTERNET connect, const Char* verb, const Char* objectName, const Char* version,
                           const Char*, const Char* const*, DWORD flags, DWORD_PTR) {
  TInternetHandle* c = Resolve(connect);
  if (!c) return nullptr;
  String v = verb && *verb ? String(verb) : u"GET";
  String o = objectName && *objectName ? String(objectName) : u"/";
  String ver = version && *version ? String(version) : u"HTTP/1.1";
  if (!Clean(v) || !Clean(o) || !Clean(ver)) {
    Fail(ERROR_INTERNET_INVALID_URL);
    return nullptr;
  }
  auto child = c->OpenRequest(v, o, ver, flags);
  if (!child) return nullptr;
  InternetSetLastError(ERROR_SUCCESS);
  return Register(std::move(child), connect, nullptr);
}

BOOL HttpAddRequestHeadersW(HINTERNET request, const Char* headers, DWORD headersLength, DWORD modifiers) {
  if (!headers) return Fail(ERROR_INVALID_PARAMETER);
  if (!CleanBlock(FromCounted(headers, headersLength))) return Fail(ERROR_HTTP_INVALID_HEADER);
  TInternetHandle* h = Resolve(request);
  if (!h) return false;
  if (!h->AddRequestHeaders(FromCounted(headers, headersLength), modifiers)) return false;
  InternetSetLastError(ERROR_SUCCESS);
  return true;
}

BOOL HttpSendRequestW(HINTERNET request, const Char* headers, DWORD headersLength, const void* optional,
                      DWORD optionalLength) {
  if (!CleanBlock(FromCounted(headers, headersLength))) return Fail(ERROR_HTTP_INVALID_HEADER);
  TInternetHandle* h = Resolve(request);
  if (!h) return false;
  if (!h->SendRequest(FromCounted(headers, headersLength), optional, optional ? optionalLength : 0)) return false;
  InternetSetLastError(ERROR_SUCCESS);
  return true;
}

BOOL HttpQueryInfoW(HINTERNET request, DWORD infoLevel, void* buffer, DWORD* bufferLength, DWORD* index) {
  if (!bufferLength) return Fail(ERROR_INVALID_PARAMETER);
  TInternetHandle* h = Resolve(request);
  if (!h) return false;
  const DWORD attribute = infoLevel & HTTP_QUERY_HEADER_MASK;
  const bool asNumber = (infoLevel & HTTP_QUERY_FLAG_NUMBER) != 0;
  const bool asTime = (infoLevel & HTTP_QUERY_FLAG_SYSTEMTIME) != 0;
  if (asNumber && asTime) return Fail(ERROR_HTTP_INVALID_QUERY_REQUEST);
  String custom;
  if (attribute == HTTP_QUERY_CUSTOM) {
    if (!buffer) return Fail(ERROR_INVALID_PARAMETER);
    const Char* name = static_cast<const Char*>(buffer);
    size_t n = 0, limit = *bufferLength / sizeof(Char);
    while (n < limit && name[n]) ++n;
    custom.assign(name, n);
  }
  DWORD idx = index ? *index : 0;
  String value;
  if (!h->QueryInfo(infoLevel & ~(HTTP_QUERY_FLAG_NUMBER | HTTP_QUERY_FLAG_SYSTEMTIME | HTTP_QUERY_FLAG_COALESCE),
                    custom, idx, value))
    return false;
  if (asNumber) {
    if (!buffer || *bufferLength < sizeof(DWORD)) {
      *bufferLength = sizeof(DWORD);
      return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    size_t i = 0;
    while (i < value.size() && (value[i] == u' ' || value[i] == u'\t')) ++i;
    if (i == value.size() || value[i] < u'0' || value[i] > u'9') return Fail(ERROR_HTTP_INVALID_HEADER);
    std::uint64_t v = 0;
    for (; i < value.size() && value[i] >= u'0' && value[i] <= u'9'; ++i) {
      v = v * 10 + (value[i] - u'0');
      if (v > 0xFFFFFFFFull) return Fail(ERROR_HTTP_INVALID_HEADER);
    }
    // "1e3" or "0x10" is no number whose first digits could stand for it.
    while (i < value.size() && (value[i] == u' ' || value[i] == u'\t')) ++i;
    if (i != value.size()) return Fail(ERROR_HTTP_INVALID_HEADER);
    DWORD d = static_cast<DWORD>(v);
    std::memcpy(buffer, &d, sizeof d);
    *bufferLength = sizeof(DWORD);
  } else if (asTime) {
    if (!buffer || *bufferLength < sizeof(SYSTEMTIME)) {
      *bufferLength = sizeof(SYSTEMTIME);
      return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    SYSTEMTIME st;
    if (!ParseHttpDate(StringToBytes(value), st)) return Fail(ERROR_HTTP_INVALID_HEADER);
    std::memcpy(buffer, &st, sizeof st);
    *bufferLength = sizeof(SYSTEMTIME);
  } else {
    DWORD needed = static_cast<DWORD>((value.size() + 1) * sizeof(Char));
    if (!buffer || *bufferLength < needed) {
      *bufferLength = needed;
      return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    Char* out = static_cast<Char*>(buffer);
    std::copy(value.begin(), value.end(), out);
    out[value.size()] = u'\0';
    *bufferLength = static_cast<DWORD>(value.size() * sizeof(Char));
  }
  if (index) *index = idx;
  InternetSetLastError(ERROR_SUCCESS);
  return true;
}

HINTERNET FtpFindFirstFileW(HINTERNET connect, const Char* searchFile, WIN32_FIND_DATAW* findData, DWORD flags,
                            DWORD_PTR) {
  TInternetHandle* c = Resolve(connect);
  if (!c) return nullptr;
  if (!Clean(searchFile)) {
    Fail(ERROR_INTERNET_INVALID_URL);
    return nullptr;
  }
  WIN32_FIND_DATAW scratch;
  auto child = c->FindFirstFile(FromZ(searchFile), findData ? *findData : scratch, flags);
  if (!child) return nullptr;
  InternetSetLastError(ERROR_SUCCESS);
  return Register(std::move(child), connect, nullptr);
}

BOOL InternetFindNextFileW(HINTERNET find, void* findData) {
  if (!findData) return Fail(ERROR_INVALID_PARAMETER);
  TInternetHandle* h = Resolve(find);
  if (!h) return false;
  if (!h->FindNextFile(*static_cast<WIN32_FIND_DATAW*>(findData))) return false;
  InternetSetLastError(ERROR_SUCCESS);
  return true;
}

BOOL FtpGetCurrentDirectoryW(HINTERNET connect, Char* currentDirectory, DWORD* length) {
  if (!length) return Fail(ERROR_INVALID_PARAMETER);
  TInternetHandle* h = Resolve(connect);
  if (!h) return false;
  String dir;
  if (!h->GetCurrentDirectory(dir)) return false;
  if (!currentDirectory || *length < dir.size() + 1) {
    *length = static_cast<DWORD>(dir.size() + 1);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::copy(dir.begin(), dir.end(), currentDirectory);
  currentDirectory[dir.size()] = u'\0';
  *length = static_cast<DWORD>(dir.size());
  InternetSetLastError(ERROR_SUCCESS);
  return true;
}

BOOL FtpSetCurrentDirectoryW(HINTERNET connect, const Char* directory) {
  if (!directory || !*directory) return Fail(ERROR_INVALID_PARAMETER);
  if (!Clean(directory)) return Fail(ERROR_INTERNET_INVALID_URL);
  TInternetHandle* h = Resolve(connect);
  if (!h) return false;
  if (!h->SetCurrentDirectory(String(directory))) return false;
  InternetSetLastError(ERROR_SUCCESS);
  return true;
}

HINTERNET FtpOpenFileW(HINTERNET connect, const Char* fileName, DWORD access, DWORD flags, DWORD_PTR) {
  TInternetHandle* c = Resolve(connect);
  if (!c) return nullptr;
  if (!fileName || !*fileName) {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!Clean(fileName)) {
    Fail(ERROR_INTERNET_INVALID_URL);
    return nullptr;
  }
  auto child = c->OpenFile(String(fileName), access, flags);
  if (!child) return nullptr;
  InternetSetLastError(ERROR_SUCCESS);
  return Register(std::move(child), connect, nullptr);
}

DWORD FtpGetFileSize(HINTERNET file, DWORD* fileSizeHigh) {
  TInternetHandle* h = Resolve(file);
  Int64 size = 0;
  if (!h || !h->GetFileSize(size)) return INVALID_FILE_SIZE;
  if (fileSizeHigh) *fileSizeHigh = static_cast<DWORD>(static_cast<std::uint64_t>(size) >> 32);
  InternetSetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size & 0xFFFFFFFF);
}

BOOL FtpGetFileTime(HINTERNET file, FILETIME* lastWriteTime) {
  if (!lastWriteTime) return Fail(ERROR_INVALID_PARAMETER);
  TInternetHandle* h = Resolve(file);
  if (!h || !h->GetFileTime(*lastWriteTime)) return false;
  InternetSetLastError(ERROR_SUCCESS);
  return true;
}

}  // namespace ktinet
