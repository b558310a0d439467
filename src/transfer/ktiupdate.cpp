#include "transfer/ktiupdate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/KtInCnst.h"
#include "rtl/DateTime.h"
#include "rtl/SysUtils.h"
#include "transfer/KtInStat.h"
#include "vcl/Dialogs.h"
#include "vcl/Forms.h"
#include "vcl/KtILogOn.h"

namespace ktinet {

namespace {

constexpr Cardinal kUnknownSize = 0xFFFFFFFFu;  // what a Content-Length that is no number gives

std::string Path8(const String& s) { return UTF8Encode(s); }

bool HasWildcard(const String& name) { return name.find_first_of(u"*?") != String::npos; }

struct LocalFileInfo {
  bool found = false;
  bool directory = false;
  Int64 size = 0;
  FILETIME lastWrite;
};

// The file a name stands for. A plain name is looked up as it is (a mask match would be
// case-insensitive and might find a neighbour); a name with wildcards takes the first match, as a
// file search does.
LocalFileInfo LookUpFile(const String& name) {
  LocalFileInfo info;
  if (name.empty()) return info;
  if (!HasWildcard(name)) {
    struct stat st {};
    if (::stat(Path8(name).c_str(), &st) != 0) return info;
    info.found = true;
    info.directory = S_ISDIR(st.st_mode);
    info.size = info.directory ? 0 : static_cast<Int64>(st.st_size);
    info.lastWrite = UnixToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    return info;
  }
  TSearchRec rec;
  if (FindFirst(name, faAnyFile, rec) == 0) {
    info.found = true;
    info.directory = (rec.Attr & faDirectory) != 0;
    info.size = rec.Size;
    info.lastWrite = rec.LastWriteTime;
    FindClose(rec);
  }
  return info;
}

int CompareFileTime(const FILETIME& a, const FILETIME& b) {
  Int64 x = FileTimeToInt64(a), y = FileTimeToInt64(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

bool IsZero(const FILETIME& t) { return t.dwLowDateTime == 0 && t.dwHighDateTime == 0; }

struct timespec FileTimeToTimespec(const FILETIME& ft) {
  constexpr Int64 kUnixEpoch = 116444736000000000LL;
  Int64 v = FileTimeToInt64(ft) - kUnixEpoch;
  Int64 sec = v / 10000000, rest = v % 10000000;
  if (rest < 0) {
    rest += 10000000;
    --sec;
  }
  struct timespec ts {};
  ts.tv_sec = static_cast<time_t>(sec);
  ts.tv_nsec = static_cast<long>(rest * 100);
  return ts;
}

// A new, empty file beside `target` (same directory, so that renaming it over the target is
// atomic) whose name nobody else uses. It takes the target's permissions when the target exists,
// else those a new file gets.
String CreateSiblingTempFile(const String& target) {
  const String dir = ExtractFilePath(target);
  const String base = ExtractFileName(target);
  struct stat st {};
  const bool targetExists = ::stat(Path8(target).c_str(), &st) == 0 && S_ISREG(st.st_mode);
  std::random_device rd;
  std::mt19937_64 gen((static_cast<std::uint64_t>(rd()) << 32) ^ rd() ^ static_cast<std::uint64_t>(::getpid()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    String name = dir + u"." + base + u"." + IntToHex(gen() & 0xFFFFFFFFFFull, 10) + u".part";
    int fd = ::open(Path8(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      if (targetExists) (void)::fchmod(fd, st.st_mode & 07777);
      ::close(fd);
      return name;
    }
    if (errno != EEXIST) break;
  }
  throw EFCreateError(u"Cannot create file \"" + dir + u"." + base + u".*.part\". " + SysErrorMessage(errno));
}

// Collects the 2050-byte blocks and hands the file large pieces: one system call per block would
// cap the download rate far below what the network gives. Blocks are read straight into its
// buffer, so the data is copied once on its way through.
class TBlockWriter {
 public:
  explicit TBlockWriter(TStream* dest) : FDest(dest), FBuffer(kCapacity) {}
  // Room for the next block of `count` bytes, zeroed.
  char* Next(size_t count) {
    if (FUsed + count > FBuffer.size()) Flush();
    std::memset(FBuffer.data() + FUsed, 0, count);
    return FBuffer.data() + FUsed;
  }
  // The block given by Next holds `count` bytes.
  void Commit(size_t count) { FUsed += count; }
  void Flush() {
    if (FUsed == 0) return;
    try {
      FDest->WriteBuffer(FBuffer.data(), static_cast<long>(FUsed));
    } catch (...) {
      FErrno = errno;  // the cause (a full disk), before anything else can change it
      FUsed = 0;
      throw;
    }
    FUsed = 0;
  }
  int Errno() const { return FErrno; }

 private:
  static constexpr size_t kCapacity = 1024 * 1024;
  TStream* FDest;
  std::vector<char> FBuffer;
  size_t FUsed = 0;
  int FErrno = 0;
};

// Moves the start of a remote read (an HTTP range, an FTP restart) to `offset`.
bool SeekRemote(HINTERNET handle, Int64 offset) {
  LONG high = static_cast<LONG>(offset >> 32);
  return InternetSetFilePointer(handle, static_cast<LONG>(offset & 0xFFFFFFFF), &high, FILE_BEGIN, 0) !=
         INVALID_SET_FILE_POINTER;
}

// The status code of a request's answer (0 when there is none).
DWORD StatusOf(HINTERNET request) {
  DWORD code = 0;
  DWORD length = sizeof(code);
  return request && HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &length, nullptr)
             ? code
             : 0;
}

long long SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The files of downloads under way, for a program's signal handler: fixed slots, so that the
// handler neither allocates nor locks. A temporary file is removed; a resumable partial file is
// stamped with the remote time, the mark by which the next run knows it may continue it.
struct InFlight {
  std::atomic<int> state{0};  // 0 free, 1 being filled in, 2 active
  char path[4096] = {};
  int fd = -1;
  bool stamp = false;
  struct timespec times[2] = {};
};
InFlight gInFlight[16];

class TInFlightGuard {
 public:
  TInFlightGuard() = default;
  ~TInFlightGuard() { Release(); }
  TInFlightGuard(const TInFlightGuard&) = delete;
  TInFlightGuard& operator=(const TInFlightGuard&) = delete;
  void Temporary(const String& name) {
    Release();
    const std::string path = UTF8Encode(name);
    if (path.size() >= sizeof(InFlight::path)) return;
    if (InFlight* slot = Take()) {
      std::memcpy(slot->path, path.c_str(), path.size() + 1);
      slot->fd = -1;
      slot->stamp = false;
      slot->state.store(2);
    }
  }
  void Partial(int fd, const struct timespec& remoteTime) {
    Release();
    if (InFlight* slot = Take()) {
      slot->path[0] = '\0';
      slot->fd = fd;
      slot->stamp = true;
      slot->times[0].tv_nsec = UTIME_OMIT;
      slot->times[1] = remoteTime;
      slot->state.store(2);
    }
  }
  void Release() {
    if (FSlot) FSlot->state.store(0);
    FSlot = nullptr;
  }

 private:
  InFlight* Take() {
    for (InFlight& slot : gInFlight) {
      int expected = 0;
      if (slot.state.compare_exchange_strong(expected, 1)) return FSlot = &slot;
    }
    return nullptr;
  }
  InFlight* FSlot = nullptr;
};

// A Content-Length as the file query read it: plain decimal digits that fit, nothing else.
bool ParseLength(const String& text, std::uint64_t& out) {
  const String value = Trim(text);
  if (value.empty() || value.size() > 18) return false;
  std::uint64_t n = 0;
  for (Char c : value) {
    if (c < u'0' || c > u'9') return false;
    n = n * 10 + static_cast<std::uint64_t>(c - u'0');
  }
  out = n;
  return true;
}

// The total of a 206 answer's "Content-Range: bytes FIRST-LAST/TOTAL" (-1 when unknown or unreadable).
long long RangeTotal(HINTERNET request) {
  Char text[201] = {};
  DWORD length = sizeof(text) - sizeof(Char);
  std::memcpy(text, u"Content-Range", sizeof(u"Content-Range"));
  if (!HttpQueryInfoW(request, HTTP_QUERY_CUSTOM, text, &length, nullptr)) return -1;
  const String value(text, std::find(text, text + 200, u'\0'));
  const size_t slash = value.rfind(u'/');
  std::uint64_t total = 0;
  if (slash == String::npos || !ParseLength(value.substr(slash + 1), total)) return -1;
  return static_cast<long long>(total);
}

String HttpDate(const FILETIME& ft) {
  SYSTEMTIME st{};
  if (!FileTimeToSystemTime(&ft, &st)) return String();
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s, %02u %s %04u %02u:%02u:%02u GMT", kDays[st.wDayOfWeek % 7], st.wDay,
                kMonths[(st.wMonth + 11) % 12], st.wYear, st.wHour, st.wMinute, st.wSecond);
  return UTF8ToString(buffer);
}

String ProxyText(const TKtInetProxy& proxy) {
  String server = proxy.Server();
  if (proxy.Port() <= 0) return server;
  // A text that already carries a port or lists proxies per protocol is passed as it is.
  if (server.find_first_of(u"=;") != String::npos) return server;
  size_t close = server.rfind(u']');
  size_t colon = server.rfind(u':');
  if (colon != String::npos && (close == String::npos || colon > close)) return server;
  return server + u":" + IntToStr(proxy.Port());
}

}  // namespace

void KtIAbandonDownloads() noexcept {
  for (InFlight& slot : gInFlight) {
    if (slot.state.load() != 2) continue;
    if (slot.stamp) {
      if (slot.fd >= 0) ::futimens(slot.fd, slot.times);
    } else if (slot.path[0]) {
      ::unlink(slot.path);
    }
  }
}

struct TKtIReplacingFile::TGuard {
  TInFlightGuard inFlight;
};

TKtIReplacingFile::TKtIReplacingFile(const String& Target)
    : FTarget(Target), FTempName(CreateSiblingTempFile(Target)), FGuard(std::make_unique<TGuard>()) {
  FGuard->inFlight.Temporary(FTempName);
}

TKtIReplacingFile::~TKtIReplacingFile() {
  FGuard->inFlight.Release();
  if (!FTempName.empty()) DeleteFile(FTempName);
}

bool TKtIReplacingFile::Commit() {
  if (FTempName.empty()) return true;
  FGuard->inFlight.Release();
  if (!RenameFile(FTempName, FTarget)) {
    const int error = errno;
    FGuard->inFlight.Temporary(FTempName);
    errno = error;
    return false;
  }
  FTempName.clear();
  return true;
}

// ---- TKtCustomWebComponent -----------------------------------------------------------------

TKtCustomWebComponent::TKtCustomWebComponent(TComponent* AOwner)
    : TComponent(AOwner), FProxy(std::make_unique<TKtInetProxy>()), FStatusDialog(std::make_unique<TKtInetStatusDialog>()) {
  FProxy->SetPort(0);
  FLoginPrompt = true;
  FResumeDownload = false;
  FWEBAgent = u"Ardenfold WebUpdater";
  FWEBPort = 80;
}

TKtCustomWebComponent::~TKtCustomWebComponent() {
  // A descendant that raised before disconnecting must not leak its handles.
  if (hFindFile) InternetCloseHandle(hFindFile);
  if (hURL) InternetCloseHandle(hURL);
  if (hInet) InternetCloseHandle(hInet);
  delete dlgStatus;
}

void TKtCustomWebComponent::SetService(TKtIService Value) {
  if (Value == FService) return;
  FService = Value;
  // A form file stores Port before Service: the stored port stands.
  if (ComponentState() & csLoading) return;
  switch (Value) {
    case isHTTP: FWEBPort = 80; break;
    case isHTTPS: FWEBPort = 443; break;
    case isFTP: FWEBPort = 21; break;
    case isNetwork: break;
  }
}

void TKtCustomWebComponent::SetStatus(TKtIStatus Value) {
  if (Value == FStatus) return;
  FStatus = Value;
  if (FOnStatusChange) FOnStatusChange(this);
}

void TKtCustomWebComponent::SetAction(TKtIAction Value) {
  if (Value == FAction) return;
  FAction = Value;
  if (dlgStatus && FStatusDialog->Enabled()) {
    const String* text = nullptr;
    TImage* step = nullptr;
    int image = -1;
    switch (Value) {
      case iaIdle: break;
      case iaConnecting: text = &strKtInConnecting, step = dlgStatus->imgStep1, image = siStepUnderWay; break;
      case iaConnected: text = &strKtInConnected, step = dlgStatus->imgStep1, image = siConnected; break;
      case iaFileSearch: text = &strKtInFileSearch, step = dlgStatus->imgStep2, image = siStepUnderWay; break;
      case iaFileFound: text = &strKtInFileFound, step = dlgStatus->imgStep2, image = siStepUnderWay; break;
      case iaComparing: text = &strKtInFileComparing, step = dlgStatus->imgStep2, image = siStepUnderWay; break;
      case iaCompared: text = &strKtInFileCompared, step = dlgStatus->imgStep2, image = siCompared; break;
      case iaDownloading: text = &strKtInDownloading, step = dlgStatus->imgStep3, image = siStepUnderWay; break;
      case iaDownloaded: text = &strKtInDownloaded, step = dlgStatus->imgStep3, image = siDownloaded; break;
      case iaDisconnecting: text = &strKtInDisconnecting, step = dlgStatus->imgStep4, image = siStepUnderWay; break;
      case iaDisconnected: text = &strKtInDisconnected, step = dlgStatus->imgStep4, image = siDisconnected; break;
    }
    if (text) dlgStatus->lblStatus->SetCaption(*text);
    if (step) {
      step->Picture()->Assign(nullptr);
      dlgStatus->imgStatus->GetBitmap(image, step->Picture()->Bitmap());
    }
    Application->ProcessMessages();
  }
  if (FOnActionChange) FOnActionChange(this);
}

void TKtCustomWebComponent::PrepareStatusWindow() {
  if (!dlgStatus) dlgStatus = new TfrmKtInetUpdate(nullptr);
  if (auto* updater = dynamic_cast<TKtCustomWebUpdater*>(this)) {
    dlgStatus->lblRemoteFileName->SetVisible(true);
    const String& remote = updater->FRemoteFileName;
    dlgStatus->lblRemoteFileName->SetCaption(!remote.empty() && remote[0] == u'/' ? FWEBHost + remote
                                                                                   : FWEBHost + u"/" + remote);
    dlgStatus->lblLocalFileName->SetVisible(true);
    dlgStatus->lblLocalFileName->SetCaption(updater->FLocalFileName);
  } else {
    dlgStatus->lblRemoteFileName->SetVisible(false);
    dlgStatus->lblLocalFileName->SetVisible(false);
  }
  dlgStatus->lblCaption->SetCaption(!FStatusDialog->Title().empty() ? FStatusDialog->Title() : Application->Title());
  if (!FStatusDialog->Description().empty()) dlgStatus->lblDescription->SetCaption(FStatusDialog->Description());
  if (!FStatusDialog->Icon()->Empty()) dlgStatus->SetIcon(FStatusDialog->Icon());
  if (!FStatusDialog->Picture()->Empty()) dlgStatus->imgLogo->SetPicture(FStatusDialog->Picture());
  dlgStatus->IsCanceled = false;
  dlgStatus->Show();
}

void TKtCustomWebComponent::FreeStatusWindow() {
  if (!dlgStatus) return;
  TfrmKtInetUpdate* window = dlgStatus;
  dlgStatus = nullptr;
  delete window;
}

void TKtCustomWebComponent::Failed(const String& Reason) {
  if (FErrorText.empty()) FErrorText = Reason;
  SetStatus(isFailed);
}

String TKtCustomWebComponent::InternetFailure() {
  const DWORD error = InternetGetLastError();
  DWORD code = 0;
  DWORD length = 0;
  String reply;
  if (!InternetGetLastResponseInfoW(&code, nullptr, &length) && length > 1) {
    std::vector<Char> buffer(length);
    if (InternetGetLastResponseInfoW(&code, buffer.data(), &length)) reply.assign(buffer.data(), length);
  }
  InternetSetLastError(error);  // the query above must not hide the error it explains
  // One line: a reply of several lines is joined.
  for (Char& c : reply)
    if (c == u'\r' || c == u'\n') c = u' ';
  if (reply.size() > 300) reply.resize(300);
  const bool serverSaid = error == ERROR_INTERNET_EXTENDED_ERROR || error == ERROR_INTERNET_LOGIN_FAILURE ||
                          error == ERROR_INTERNET_ITEM_NOT_FOUND;
  if (serverSaid && !reply.empty()) return u"the server replied: " + Trim(reply);
  String text = InternetErrorMessage(error);
  if (text.empty()) text = u"error " + IntToStr(static_cast<long long>(error));
  if ((error == ERROR_HTTP_INVALID_HEADER || error == KTINET_ERROR_ANSWER_TOO_LARGE) && !reply.empty())
    text += u" (" + Trim(reply) + u")";
  return text;
}

long long TKtCustomWebComponent::TimeLeft() const {
  if (FDeadline == 0) return -1;
  return std::max(0LL, FDeadline - SteadyMs());
}

bool TKtCustomWebComponent::ApplyDeadline() {
  const long long left = TimeLeft();
  if (left == 0) return false;
  if (left > 0 && hInet) {
    const DWORD ms = static_cast<DWORD>(std::min<long long>(left, 0x7FFFFFFF));
    InternetSetOptionW(hInet, KTINET_OPTION_MAX_TIME, &ms, sizeof ms);
  }
  return true;
}

bool TKtCustomWebComponent::Execute() {
  if (FOnBeforeExecute) FOnBeforeExecute(this);
  FErrorText.clear();
  FCancelled = false;
  FDeadline = FMaxTime > 0 ? SteadyMs() + FMaxTime : 0;
  bool result;
  struct Running {
    bool& flag;
    ~Running() { flag = false; }
  } running{FExecuting = true};
  try {
    if (FStatusDialog->Enabled()) PrepareStatusWindow();
    SetStatus(isInProgress);
    InternalExecute();
    if (FStatus == isInProgress) SetStatus(isFinished);
    result = FStatus != isFailed;
  } catch (...) {
    // Nothing of this run may outlive it: a later run would find a stale request or window.
    if (hFindFile) InternetCloseHandle(hFindFile);
    if (hURL) InternetCloseHandle(hURL);
    if (hInet) InternetCloseHandle(hInet);
    hFindFile = hURL = hInet = nullptr;
    FreeStatusWindow();
    throw;
  }
  FreeStatusWindow();
  if (FOnAfterExecute) FOnAfterExecute(this);
  return result;
}

DWORD TKtCustomWebComponent::RequestFlags() const {
  return FService == isHTTPS ? INTERNET_FLAG_SECURE : INTERNET_FLAG_RELOAD;
}

HINTERNET TKtCustomWebComponent::OpenSession() {
  HINTERNET session;
  if (FProxy->UseProxy() && !FProxy->Server().empty()) {
    const String proxy = ProxyText(*FProxy);
    // The hosts that no_proxy names go direct, as they do with the system's own configuration.
    const String& bypass = FProxy->NoProxy();
    session = InternetOpenW(FWEBAgent.c_str(), INTERNET_OPEN_TYPE_PROXY, proxy.c_str(),
                            bypass.empty() ? nullptr : bypass.c_str(), 0);
  } else {
    session = InternetOpenW(FWEBAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  }
  if (session) {
    ApplyTimeouts(session);
    // The proxy's user and password reach every request of the session, not only the ones that
    // answer a 407 themselves: a single URL fetch has no other way to carry them.
    const String& user = FProxy->User();
    if (!user.empty()) {
      const String& password = FProxy->Password();
      InternetSetOptionW(session, INTERNET_OPTION_PROXY_USERNAME, user.data(), static_cast<DWORD>(user.size()));
      InternetSetOptionW(session, INTERNET_OPTION_PROXY_PASSWORD, password.data(), static_cast<DWORD>(password.size()));
    }
  }
  return session;
}

void TKtCustomWebComponent::ApplyTimeouts(HINTERNET Session) const {
  const DWORD connect = static_cast<DWORD>(FConnectTimeout), receive = static_cast<DWORD>(FReadTimeout);
  InternetSetOptionW(Session, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
  InternetSetOptionW(Session, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
  // Outside Execute (ReadHTTPGetResponse, a descendant's own request) MaxTime bounds the session.
  const long long left = FDeadline != 0 ? TimeLeft() : FMaxTime > 0 ? FMaxTime : -1;
  if (left >= 0) {
    const DWORD ms = static_cast<DWORD>(std::clamp<long long>(left, 1, 0x7FFFFFFF));
    InternetSetOptionW(Session, KTINET_OPTION_MAX_TIME, &ms, sizeof ms);
  }
}

void TKtCustomWebComponent::ConnectToInet(bool RefreshProxy) {
  SetAction(iaConnecting);
  try {
    if (FService != isNetwork) {
      if (RefreshProxy) FProxy->FillProxyInfo();
      hInet = OpenSession();
      hURL = nullptr;
      if (hInet) {
        const DWORD service = FService == isFTP ? INTERNET_SERVICE_FTP : INTERNET_SERVICE_HTTP;
        hURL = InternetConnectW(hInet, FWEBHost.c_str(), FWEBPort, FWEBUser.c_str(), FWEBPassword.c_str(), service, 0,
                                reinterpret_cast<DWORD_PTR>(this));
      }
      if (!hURL && FErrorText.empty()) FErrorText = FWEBHost + u": " + InternetFailure();
    }
    SetAction(iaConnected);
  } catch (...) {
    SetStatus(isFailed);
  }
}

void TKtCustomWebComponent::DisconnectFromInet() {
  SetAction(iaDisconnecting);
  if (hFindFile) {
    InternetCloseHandle(hFindFile);
    hFindFile = nullptr;
  }
  if (hURL) {
    InternetCloseHandle(hURL);
    hURL = nullptr;
  }
  if (hInet) {
    InternetCloseHandle(hInet);
    hInet = nullptr;
  }
  SetAction(iaDisconnected);
}

bool TKtCustomWebComponent::GetFileInfoFromInet(const String& AFileName, Cardinal& ASize, FILETIME& ATime) {
  ASize = 0;
  if (!hURL && FService != isNetwork) return false;
  SetAction(iaFileSearch);
  bool networkFound = false;
  try {
    switch (FService) {
      case isHTTP:
      case isHTTPS: {
        FLastHTTPStatus = 0;
        if (hFindFile) {  // a request of an earlier query of this connection
          InternetCloseHandle(hFindFile);
          hFindFile = nullptr;
        }
        hFindFile = HttpOpenRequestW(hURL, u"GET", AFileName.c_str(), u"HTTP/1.0", nullptr, nullptr, RequestFlags(), 0);
        int counter = 0;
        int unreadable = 0;
        while (hFindFile) {
          ++counter;
          const bool sent = ApplyDeadline() && HttpSendRequestW(hFindFile, nullptr, 0, nullptr, 0);
          // The cause is taken before anything else is asked of the handle: a status query of a
          // request without an answer would replace it.
          const String cause = sent ? String() : TimeLeft() == 0 ? InternetErrorMessage(ERROR_INTERNET_TIMEOUT)
                                                                 : InternetFailure();
          DWORD code = 0;
          DWORD length = sizeof(code);
          if (!sent || !HttpQueryInfoW(hFindFile, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &length,
                                       nullptr)) {
            // No answer to read. A connection that broke off is worth a few more tries; a refusal,
            // a certificate that is not trusted, a time-out or an unreadable answer is not.
            const DWORD error = InternetGetLastError();
            const bool transient = sent || error == ERROR_INTERNET_CONNECTION_RESET ||
                                   error == ERROR_INTERNET_CONNECTION_ABORTED || error == ERROR_HTTP_INVALID_SERVER_RESPONSE;
            if (++unreadable > 3 || !transient || TimeLeft() == 0) {
              InternetCloseHandle(hFindFile);
              hFindFile = nullptr;
              Failed(FWEBHost + AFileName + u": " + (cause.empty() ? InternetFailure() : cause));
            }
            continue;
          }
          FLastHTTPStatus = code;
          const bool server = code == HTTP_STATUS_DENIED;
          if (!server && code != HTTP_STATUS_PROXY_AUTH_REQ) break;
          String user = server ? FWEBUser : FProxy->User();
          String password = server ? FWEBPassword : FProxy->Password();
          if (FLoginPrompt) {
            if (KtInAskLogon(server ? strKtInLogon : strKtInProxyLogon, user, password)) {
              if (server) {
                FWEBUser = user;
                FWEBPassword = password;
              } else {
                FProxy->SetUser(user);
                FProxy->SetPassword(password);
              }
              counter = 0;
            } else {
              counter = 2;
            }
          }
          if (counter > 1) throw Exception(server ? strKtInEAuthRequired : strKtInEProxyAuth);
          InternetSetOptionW(hFindFile, server ? INTERNET_OPTION_USERNAME : INTERNET_OPTION_PROXY_USERNAME,
                             user.data(), static_cast<DWORD>(user.size()));
          InternetSetOptionW(hFindFile, server ? INTERNET_OPTION_PASSWORD : INTERNET_OPTION_PROXY_PASSWORD,
                             password.data(), static_cast<DWORD>(password.size()));
        }
        if (hFindFile) {
          Char text[201] = {};
          DWORD length = sizeof(text);
          if (HttpQueryInfoW(hFindFile, HTTP_QUERY_CONTENT_LENGTH, text, &length, nullptr)) {
            String value(text, std::find(text, text + 201, u'\0'));
            std::uint64_t n = 0;
            // Only the low 32 bits are kept, so a file above 4 GiB compares by those, like its
            // local copy; text that is no size becomes 4294967295.
            ASize = ParseLength(value, n) ? static_cast<Cardinal>(n) : kUnknownSize;
          }

          SYSTEMTIME st{};
          length = sizeof(st);
          if (HttpQueryInfoW(hFindFile, HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, &st, &length, nullptr)) {
            FILETIME ft;
            if (SystemTimeToFileTime(&st, &ft)) ATime = ft;
          }
        }
        break;
      }
      case isFTP: {
        if (hFindFile) {
          InternetCloseHandle(hFindFile);
          hFindFile = nullptr;
        }
        WIN32_FIND_DATAW data{};
        hFindFile = FtpFindFirstFileW(hURL, AFileName.c_str(), &data, 0, reinterpret_cast<DWORD_PTR>(this));
        if (hFindFile) {
          ASize = data.nFileSizeLow;
          ATime = data.ftLastWriteTime;
        }
        break;
      }
      case isNetwork: {
        LocalFileInfo info = LookUpFile(AFileName);
        if (info.found) {
          networkFound = true;
          ASize = static_cast<Cardinal>(static_cast<std::uint64_t>(info.size));
          ATime = info.lastWrite;
        }
        break;
      }
    }
  } catch (...) {
  }
  if (hFindFile || networkFound) {
    SetAction(iaFileFound);
    return true;
  }
  return false;
}

bool TKtCustomWebComponent::ReadDirFromInet(const String& ADirectory, const String& AMask, bool AIncludeSubFolders,
                                            TStrings* AList) {
  if (!hURL && FService != isNetwork) return false;
  SetAction(iaFileSearch);
  if (FService == isFTP)
    ReadDirFtp(ADirectory, AMask, AIncludeSubFolders, AList);
  else if (FService == isNetwork)
    ReadDirNetwork(ADirectory, AMask, AIncludeSubFolders, AList);
  const bool result = AList->Count() > 0;
  SetAction(iaFileFound);
  return result;
}

void TKtCustomWebComponent::ReadDirFtp(const String& ADirectory, const String& AMask, bool AIncludeSubFolders,
                                       TStrings* AList) {
  // The folders wait on a stack of their own instead of the call stack, so that no tree a server
  // shows can exhaust it. A folder is entered once: a server's "unique" fact tells the same folder
  // behind two names (a link to ".", a folder "up" that is ".."); without it, a folder whose
  // listing equals that of a folder on its way down is that folder again.
  struct Chain {
    std::uint64_t fingerprint;
    std::shared_ptr<const Chain> parent;
  };
  struct Pending {
    String path;
    int depth;
    std::shared_ptr<const Chain> ancestors;
  };
  auto trimmed = [](String dir) {
    while (dir.size() > 1 && dir.back() == u'/') dir.pop_back();
    return dir.empty() ? String(u"/") : dir;
  };
  String previous;
  {
    Char buffer[2049] = {};
    DWORD length = 2048;
    if (FtpGetCurrentDirectoryW(hURL, buffer, &length)) previous.assign(buffer, std::find(buffer, buffer + 2048, u'\0'));
  }
  std::vector<Pending> stack{{trimmed(ADirectory), 0, nullptr}};
  std::unordered_set<std::uint64_t> entered;
  while (!stack.empty()) {
    Pending folder = std::move(stack.back());
    stack.pop_back();
    const String& current = folder.path;
    const bool same = current == previous;
    if (!same && !FtpSetCurrentDirectoryW(hURL, current.c_str())) {
      String text = InternetErrorMessage(InternetGetLastError());
      if (text.size() > 201) text.resize(201);
      ShowMessage(text);
    }
    const String pattern = same ? AMask : (current == u"/" ? u"/" : current + u"/") + AMask;
    std::vector<WIN32_FIND_DATAW> entries;
    WIN32_FIND_DATAW data{};
    HINTERNET find = FtpFindFirstFileW(hURL, pattern.c_str(), &data, 0, reinterpret_cast<DWORD_PTR>(this));
    if (find) {
      do {
        entries.push_back(data);
        data = WIN32_FIND_DATAW{};
      } while (InternetFindNextFileW(find, &data));
      InternetCloseHandle(find);
    } else if (InternetGetLastError() == KTINET_ERROR_ANSWER_TOO_LARGE) {
      // A listing beyond its limits is no listing: the run says so instead of listing less.
      Failed(current + u": " + InternetFailure());
    }
    std::uint64_t fingerprint = 14695981039346656037ull;  // FNV-1a over what the listing shows
    auto mix = [&fingerprint](const void* p, size_t n) {
      for (size_t i = 0; i < n; ++i) fingerprint = (fingerprint ^ static_cast<const unsigned char*>(p)[i]) * 1099511628211ull;
    };
    for (const WIN32_FIND_DATAW& e : entries) {
      mix(e.cFileName, sizeof e.cFileName);
      mix(&e.dwFileAttributes, sizeof e.dwFileAttributes);
      mix(&e.nFileSizeLow, sizeof e.nFileSizeLow);
      mix(&e.nFileSizeHigh, sizeof e.nFileSizeHigh);
      mix(&e.ftLastWriteTime, sizeof e.ftLastWriteTime);
      mix(&e.dwReserved0, sizeof e.dwReserved0);
      mix(&e.dwReserved1, sizeof e.dwReserved1);
    }
    bool repeated = false;
    if (!entries.empty())
      for (const Chain* c = folder.ancestors.get(); c && !repeated; c = c->parent.get())
        repeated = c->fingerprint == fingerprint;
    if (repeated) continue;  // the same folder again, already listed above
    auto chain = std::make_shared<const Chain>(Chain{fingerprint, folder.ancestors});
    std::vector<Pending> children;
    for (const WIN32_FIND_DATAW& e : entries) {
      const String name(e.cFileName, std::find(e.cFileName, e.cFileName + MAX_PATH, u'\0'));
      AList->Add(same ? name : (current == u"/" ? u"/" : current + u"/") + name);
      if (FListDetails) {
        TKtIFileDetail d;
        d.Directory = (e.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        d.HasSize = !d.Directory;
        d.Size = static_cast<Int64>((static_cast<std::uint64_t>(e.nFileSizeHigh) << 32) | e.nFileSizeLow);
        d.HasTime = FileTimeToInt64(e.ftLastWriteTime) != 0;
        d.LastWriteTime = e.ftLastWriteTime;
        FListDetails->push_back(d);
      }
      if (!AIncludeSubFolders || !(e.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name == u"." || name == u"..")
        continue;
      const std::uint64_t unique = (static_cast<std::uint64_t>(e.dwReserved0) << 32) | e.dwReserved1;
      if (unique != 0 && !entered.insert(unique).second) continue;
      children.push_back({current == u"/" ? u"/" + name : current + u"/" + name, folder.depth + 1, chain});
    }
    if (!children.empty() && folder.depth + 1 > kMaxFolderDepth) {
      Failed(Format(u"the folder tree is deeper than %d levels; %s was not listed",
                    {static_cast<long long>(kMaxFolderDepth), children.front().path}));
      continue;
    }
    // Listed in the order found, each folder's tree before the next folder's.
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back(std::move(*it));
  }
  if (!previous.empty()) FtpSetCurrentDirectoryW(hURL, previous.c_str());
}

void TKtCustomWebComponent::ReadDirNetwork(const String& ADirectory, const String& AMask, bool AIncludeSubFolders,
                                           TStrings* AList) {
  // The directories on the way down: a link back to one of them would never end.
  String dir = ADirectory;
  while (dir.size() > 1 && dir.back() == u'/') dir.pop_back();
  const String prefix = dir.empty() ? String() : dir == u"/" ? dir : dir + u"/";
  struct stat self {};
  const bool known = ::stat(Path8(ADirectory.empty() ? String(u".") : ADirectory).c_str(), &self) == 0;
  const std::pair<std::uint64_t, std::uint64_t> key{self.st_dev, self.st_ino};
  if (known && std::find(FDirChain.begin(), FDirChain.end(), key) != FDirChain.end()) return;
  // The call stack holds one frame set per level: a tree deeper than the limit is cut, and said so.
  if (FNetworkDepth >= kMaxFolderDepth) {
    Failed(Format(u"the folder tree is deeper than %d levels; %s was not listed",
                  {static_cast<long long>(kMaxFolderDepth), ADirectory}));
    return;
  }
  if (known) FDirChain.push_back(key);
  struct Leave {
    std::vector<std::pair<std::uint64_t, std::uint64_t>>* chain;
    bool active;
    int* depth;
    ~Leave() {
      if (active) chain->pop_back();
      --*depth;
    }
  } leave{&FDirChain, known, &FNetworkDepth};
  ++FNetworkDepth;
  TSearchRec rec;
  if (FindFirst(prefix + AMask, faAnyFile, rec) == 0) {
    struct Close {
      TSearchRec& r;
      ~Close() { FindClose(r); }
    } close{rec};
    do {
      AList->Add(prefix + rec.Name);
      if (FListDetails) {
        TKtIFileDetail d;
        d.Directory = (rec.Attr & faDirectory) != 0;
        d.HasSize = !d.Directory;
        d.Size = rec.Size;
        d.HasTime = true;
        d.LastWriteTime = rec.LastWriteTime;
        FListDetails->push_back(d);
      }
      if (AIncludeSubFolders && (rec.Attr & faDirectory) && rec.Name != u"." && rec.Name != u"..")
        ReadDirFromInet(prefix + rec.Name, AMask, AIncludeSubFolders, AList);
    } while (FindNext(rec) == 0);
  }
}

void TKtCustomWebComponent::UpdateProgress(Cardinal ACurrent, Cardinal AMaximum, bool& Abort) {
  if (dlgStatus && FStatusDialog->Enabled()) {
    Abort = dlgStatus->IsCanceled;
    if (AMaximum == 0) {
      // Nothing to measure against: the bytes so far, no percentage, an empty bar.
      dlgStatus->pbStatus->SetRange(0, 0);
      dlgStatus->pbStatus->SetPosition(0);
      dlgStatus->lblStatus->SetCaption(Format(u"Downloaded %d bytes", {static_cast<long long>(ACurrent)}));
    } else {
      dlgStatus->pbStatus->SetRange(0, AMaximum);
      dlgStatus->pbStatus->SetPosition(ACurrent);
      const std::uint64_t percent = static_cast<std::uint64_t>(ACurrent) * 100 / AMaximum;
      dlgStatus->lblStatus->SetCaption(Format(strKtInProgress, {static_cast<long long>(ACurrent),
                                                                static_cast<long long>(AMaximum),
                                                                static_cast<long long>(percent)}));
    }
    Application->ProcessMessages();
  }
  if (FOnProgress) FOnProgress(this, static_cast<Integer>(ACurrent), static_cast<Integer>(AMaximum), Abort);
}

bool TKtCustomWebComponent::ReadFileFromInet(const String& ARemoteFileName, const String& ALocalFileName,
                                             Cardinal ASize) {
  if (!hURL && FService != isNetwork) return false;
  SetAction(iaDownloading);
  bool result = false;
  FPartialKept = false;
  const bool sizeKnown = ASize != 0 && ASize != kUnknownSize;

  // A local file continues only as the part of the remote file it was cut from: shorter than the
  // remote one, and stamped with the remote time (a cut copy gets the time of the version it
  // came from), which is the same as the remote file's time now. Anything else is replaced.
  FILETIME remoteTime{};
  if (auto* updater = dynamic_cast<TKtCustomWebUpdater*>(this)) remoteTime = updater->FRemoteFileCreated;
  const LocalFileInfo local = LookUpFile(ALocalFileName);
  const bool resuming = FResumeDownload && local.found && !local.directory && local.size > 0 && sizeKnown &&
                        local.size < static_cast<Int64>(ASize) && !IsZero(remoteTime) &&
                        CompareFileTime(local.lastWrite, remoteTime) == 0;
  const Int64 offset = resuming ? local.size : 0;

  std::unique_ptr<TFileStream> source;
  bool whole = !resuming;  // the copy starts at byte 0
  switch (FService) {
    case isFTP:
      // One transfer per FTP session: the find handle of the file query goes first.
      if (hFindFile) {
        InternetCloseHandle(hFindFile);
        hFindFile = nullptr;
      }
      if (ApplyDeadline())
        hFindFile = FtpOpenFileW(hURL, ARemoteFileName.c_str(), GENERIC_READ,
                                 FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_RELOAD, 0);
      if (!hFindFile) Failed(ARemoteFileName + u": " + InternetFailure());
      // The server cannot restart: the copy starts over rather than repeat what is on disk.
      if (hFindFile && offset > 0 && !SeekRemote(hFindFile, offset)) whole = true;
      break;
    case isNetwork:
      source = std::make_unique<TFileStream>(ARemoteFileName, fmOpenRead | fmShareDenyWrite);
      source->SetPosition(0);
      if (offset > 0 && offset <= source->Size()) source->SetPosition(offset);
      else whole = true;
      break;
    case isHTTP:
    case isHTTPS:
      break;
  }

  if (hFindFile || source) {
    result = true;
    bool failed = false;
    if (resuming && (FService == isHTTP || FService == isHTTPS)) {
      // The request of the file query asked for all of it; moving its start asks again with a
      // range, valid only for the version the local part came from. Only a part that starts at
      // the local size and belongs to a file of the remote size continues the local file.
      const String ifRange = u"If-Range: " + HttpDate(remoteTime);
      HttpAddRequestHeadersW(hFindFile, ifRange.c_str(), static_cast<DWORD>(ifRange.size()), HTTP_ADDREQ_FLAG_REPLACE);
      const bool moved = ApplyDeadline() && SeekRemote(hFindFile, offset);
      if (moved && RangeTotal(hFindFile) == static_cast<long long>(ASize)) {
        whole = false;
      } else {
        whole = true;
        // A server that ignores the range sends the whole file (200): it replaces what is on
        // disk. Any other answer (416, a part of something else) means a fresh request for all.
        if (moved || StatusOf(hFindFile) != HTTP_STATUS_OK) {
          InternetCloseHandle(hFindFile);
          hFindFile = HttpOpenRequestW(hURL, u"GET", ARemoteFileName.c_str(), u"HTTP/1.0", nullptr, nullptr,
                                       RequestFlags(), 0);
          const bool sent = hFindFile && ApplyDeadline() && HttpSendRequestW(hFindFile, nullptr, 0, nullptr, 0);
          if (!sent) Failed(FWEBHost + ARemoteFileName + u": " + InternetFailure());
          const DWORD code = sent ? StatusOf(hFindFile) : 0;
          if (sent && (code < 200 || code > 299)) Failed(Format(u"%s: the server answered %d", {FWEBHost + ARemoteFileName, static_cast<long long>(code)}));
          if (code < 200 || code > 299) failed = true;
        }
      }
    }

    std::unique_ptr<TFileStream> dest;
    String tempName;
    TInFlightGuard inFlight;
    struct TempGuard {
      String* name;
      std::unique_ptr<TFileStream>* stream;
      ~TempGuard() {
        if (!name->empty()) {
          stream->reset();
          DeleteFile(*name);
        }
      }
    } tempGuard{&tempName, &dest};

    if (!failed) {
      if (FResumeDownload) {
        // The part stays where the next run looks for it.
        dest = std::make_unique<TFileStream>(ALocalFileName, local.found && !whole ? fmOpenWrite : fmCreate);
        if (!IsZero(remoteTime)) inFlight.Partial(dest->Handle(), FileTimeToTimespec(remoteTime));
      } else {
        tempName = CreateSiblingTempFile(ALocalFileName);
        inFlight.Temporary(tempName);
        dest = std::make_unique<TFileStream>(tempName, fmCreate);
      }
      // A whole copy got a new, empty destination above.
      if (whole && source) source->SetPosition(0);
      dest->Seek(0, soEnd);
    }
    const Int64 startSize = dest ? dest->Position() : 0;
    // Never more than the remote file: a longer answer is not that file.
    const Int64 room = sizeKnown ? static_cast<Int64>(ASize) - startSize : -1;

    TBlockWriter writer(dest.get());
    Int64 total = 0;
    bool abort = false;
    bool more = !failed;
    const String& written = tempName.empty() ? ALocalFileName : tempName;
    try {
      while (more) {
        char* block = writer.Next(kBlockSize);
        DWORD got = 0;
        if (source) {
          long n = source->Read(block, kBlockSize);
          if (n < 0) {
            Failed(ARemoteFileName + u": " + SysErrorMessage(errno));
            failed = true;
          } else {
            got = static_cast<DWORD>(n);
          }
        } else if (!InternetReadFile(hFindFile, block, kBlockSize, &got)) {
          // A reset or a time-out is no end of the data.
          Failed((FService == isNetwork ? String() : FWEBHost) + ARemoteFileName + u": " +
                 (TimeLeft() == 0 ? InternetErrorMessage(ERROR_INTERNET_TIMEOUT) : InternetFailure()));
          failed = true;
          got = 0;
        }
        if (room >= 0 && total + got > room) {
          Failed(Format(u"%s: the server sent more than the %d bytes it announced",
                        {ARemoteFileName, static_cast<long long>(ASize)}));
          failed = true;
          got = 0;
        }
        writer.Commit(got);
        total += got;
        UpdateProgress(static_cast<Cardinal>(total), ASize, abort);
        if (!failed && TimeLeft() == 0 && got > 0) {
          Failed(ARemoteFileName + u": " + InternetErrorMessage(ERROR_INTERNET_TIMEOUT));
          failed = true;
        }
        more = got > 0 && !abort && !failed;
      }
      writer.Flush();
    } catch (const EStreamError&) {
      const int error = writer.Errno() ? writer.Errno() : errno;
      Failed(written + u": " + SysErrorMessage(error));
      failed = true;
    }

    // A copy that stops short of the size the server announced is a failure, not the end.
    const std::uint64_t finalSize = static_cast<std::uint64_t>(startSize + total);
    if (!failed && !abort && sizeKnown && finalSize < ASize) {
      Failed(Format(u"%s: the copy ended after %d of %d bytes",
                    {ARemoteFileName, static_cast<long long>(finalSize), static_cast<long long>(ASize)}));
      failed = true;
    }
    if (abort) {
      FCancelled = true;
      Failed(u"cancelled");
    }
    if (failed) SetStatus(isFailed);
    FPartialKept = FResumeDownload && dest != nullptr;

    if (!tempName.empty() && !abort && !failed) {
      dest.reset();
      inFlight.Release();
      if (RenameFile(tempName, ALocalFileName)) tempName.clear();
      else Failed(ALocalFileName + u": " + SysErrorMessage(errno));
    }
    inFlight.Release();
  }
  SetAction(iaDownloaded);
  return result;
}

void TKtCustomWebComponent::ReadHTTPGetResponse(const String& AURL, TStream* AStream) {
  // On its own it is a run of its own; inside Execute it is part of that run.
  if (!FExecuting) FErrorText.clear();
  HINTERNET session = OpenSession();
  if (!session) {
    if (FErrorText.empty()) FErrorText = AURL + u": " + InternetFailure();
    return;
  }
  struct Close {
    HINTERNET h;
    ~Close() {
      if (h) InternetCloseHandle(h);
    }
  } closeSession{session};
  AStream->SetPosition(0);
  constexpr DWORD kBuffer = 1048576;
  std::vector<char> buffer(kBuffer);
  SetLastHTTPStatus(0);
  HINTERNET url = InternetOpenUrlW(session, AURL.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0);
  if (url) {
    Close closeUrl{url};
    // The status tells an error page from the file asked for (FTP answers have none).
    DWORD status = 0, statusSize = sizeof status;
    if (HttpQueryInfoW(url, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize, nullptr))
      SetLastHTTPStatus(status);
    DWORD got = 0;
    // An answer cut short is read as far as it came; LastErrorText tells that it is not all.
    while (InternetReadFile(url, buffer.data(), kBuffer, &got) && got > 0) AStream->WriteBuffer(buffer.data(), got);
    if (got == 0 && InternetGetLastError() != ERROR_SUCCESS && FErrorText.empty())
      FErrorText = AURL + u": " + InternetFailure();
  } else if (FErrorText.empty()) {
    FErrorText = AURL + u": " + InternetFailure();
  }
  AStream->SetPosition(0);
}

String TKtCustomWebComponent::ReadHTTPGetResponseString(const String& AURL) {
  TStringStream stream;
  ReadHTTPGetResponse(AURL, &stream);
  if (stream.Size() == 0) return String();
  return stream.DataString();
}

// ---- TKtCustomWebUpdater -------------------------------------------------------------------

TKtCustomWebUpdater::TKtCustomWebUpdater(TComponent* AOwner) : TKtCustomWebComponent(AOwner) {}

void TKtCustomWebUpdater::SetRemoteFileName(const String& Value) { FRemoteFileName = Value; }

void TKtCustomWebUpdater::InternalExecute() {
  ConnectToInet(true);
  if (Service() == isNetwork || (hInet && hURL)) {
    const bool web = Service() == isHTTP || Service() == isHTTPS;
    if (!GetFileInfoFromInet(FRemoteFileName, FRemoteFileSize, FRemoteFileCreated)) {
      if (Status() != isFailed) SetStatus(isNotFound);
    } else if (web && LastHTTPStatus() >= 400) {
      // An error page is not the file: the local copy stays as it is.
      const DWORD code = LastHTTPStatus();
      if (code == HTTP_STATUS_NOT_FOUND || code == HTTP_STATUS_GONE) SetStatus(isNotFound);
      else Failed(Format(u"%s%s: the server answered %d", {Host(), FRemoteFileName, static_cast<long long>(code)}));
    } else {
      SetAction(iaComparing);
      bool download = false;
      if (FRemoteFileSize > 0) {
        download = true;
        const LocalFileInfo local = LookUpFile(FLocalFileName);
        if (local.found)
          download = FRemoteFileSize != static_cast<Cardinal>(static_cast<std::uint64_t>(local.size)) ||
                     CompareFileTime(local.lastWrite, FRemoteFileCreated) < 0;
      }
      if (FOnFileCompare) {
        bool equal = !download;
        FOnFileCompare(this, equal);
        download = !equal;
      }
      SetAction(iaCompared);
      if (!download) {
        SetStatus(isSkipped);
      } else if (ReadFileFromInet(FRemoteFileName, FLocalFileName, FRemoteFileSize)) {
        // A failed copy left the previous file in place (unless resuming, which keeps the part):
        // stamping that one would make it look current. No remote time means no stamp either.
        if ((Status() != isFailed || FPartialKept) && !IsZero(FRemoteFileCreated)) {
          try {
            TFileStream file(FLocalFileName, fmOpenWrite | fmShareDenyWrite);
            struct timespec times[2];
            times[0].tv_sec = 0;
            times[0].tv_nsec = UTIME_OMIT;
            times[1] = FileTimeToTimespec(FRemoteFileCreated);
            ::futimens(file.Handle(), times);
          } catch (const EFileStreamError&) {
          }
        }
      } else {
        Failed(FRemoteFileName + u": " + InternetFailure());
      }
    }
  } else {
    Failed(Host() + u": " + InternetFailure());
  }
  DisconnectFromInet();
}

const TClassInfo* TKtCustomWebComponent::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtCustomWebComponent>(u"TKtCustomWebComponent", nullptr)
      .Property(u"Agent", &TKtCustomWebComponent::Agent, &TKtCustomWebComponent::SetAgent)
      .Property(u"Port", &TKtCustomWebComponent::Port, &TKtCustomWebComponent::SetPort)
      .Property(u"Service", &TKtCustomWebComponent::Service, &TKtCustomWebComponent::SetService).Default(isHTTP)
      .Property(u"Host", &TKtCustomWebComponent::Host, &TKtCustomWebComponent::SetHost)
      .Property(u"User", &TKtCustomWebComponent::User, &TKtCustomWebComponent::SetUser)
      .Property(u"Password", &TKtCustomWebComponent::Password, &TKtCustomWebComponent::SetPassword)
      .Property(u"Proxy", &TKtCustomWebComponent::Proxy)
      .Property(u"StatusDialog", &TKtCustomWebComponent::StatusDialog)
      .Property(u"LoginPrompt", &TKtCustomWebComponent::LoginPrompt, &TKtCustomWebComponent::SetLoginPrompt).Default(true)
      .Property(u"ConnectTimeout", &TKtCustomWebComponent::ConnectTimeout, &TKtCustomWebComponent::SetConnectTimeout).Default(60000)
      .Property(u"ReadTimeout", &TKtCustomWebComponent::ReadTimeout, &TKtCustomWebComponent::SetReadTimeout).Default(60000)
      .Property(u"MaxTime", &TKtCustomWebComponent::MaxTime, &TKtCustomWebComponent::SetMaxTime).Default(0)
      .Event(u"OnProgress", u"TKtIProgress")
      .Event(u"OnBeforeExecute", u"TNotifyEvent")
      .Event(u"OnAfterExecute", u"TNotifyEvent")
      .Event(u"OnActionChange", u"TNotifyEvent")
      .Event(u"OnStatusChange", u"TNotifyEvent")
      .Build();
  return info;
}

const TClassInfo* TKtCustomWebUpdater::StaticClassInfo() {
  static const TClassInfo* info =
      TClassBuilder<TKtCustomWebUpdater>(u"TKtCustomWebUpdater", TKtCustomWebComponent::StaticClassInfo())
          .Property(u"RemoteFileName", &TKtCustomWebUpdater::RemoteFileName, &TKtCustomWebUpdater::SetRemoteFileName)
          .Event(u"OnFileCompare", u"TKtIFileCompare")
          .Build();
  return info;
}

const TClassInfo* TKtWebUpdater::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtWebUpdater>(u"TKtWebUpdater", TKtCustomWebUpdater::StaticClassInfo())
      .Component()
      .Property(u"LocalFileName", &TKtWebUpdater::LocalFileName, &TKtWebUpdater::SetLocalFileName)
      .Build();
  return info;
}

}  // namespace ktinet
