#include "core/KtInBase.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <new>
#include <vector>

#include "core/KtInCnst.h"
#include "core/ktiutil.h"
#include "platform/SystemSettings.h"
#include "rtl/SysUtils.h"
#include "vcl/KtILogOn.h"

namespace ktinet {

namespace {

// Bytes asked of the socket per read of the answer.
constexpr int kReadChunk = 16386;
constexpr std::uintptr_t kHugePage = 2 * 1024 * 1024;

// Asks for huge pages over the whole 2 MiB pages inside [p, p + bytes); only advice, so any
// memory may be given, heap memory included.
void PreferHugePages(void* p, size_t bytes) {
  auto from = (reinterpret_cast<std::uintptr_t>(p) + kHugePage - 1) & ~(kHugePage - 1);
  auto to = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(kHugePage - 1);
  if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}

// The answer as it arrives, in blocks of growing size, so reading stays linear and nothing is
// copied until the text is built. The blocks are mapped directly (not taken from the heap) so
// that each one goes back to the system as soon as it has been widened into the text: a large
// answer then needs little more than the final text itself at its peak.
class TAnswerBuffer {
 public:
  TAnswerBuffer() = default;
  TAnswerBuffer(const TAnswerBuffer&) = delete;
  TAnswerBuffer& operator=(const TAnswerBuffer&) = delete;
  ~TAnswerBuffer() {
    for (Block& b : FBlocks) Release(b);
  }

  // Room for at least `need` bytes at the end of the answer.
  char* Room(size_t need) {
    if (FBlocks.empty() || FBlocks.back().capacity - FBlocks.back().used < need) {
      size_t size = FBlocks.empty() ? kFirstBlock : std::min(FBlocks.back().capacity * 2, kMaxBlock);
      size = std::max(size, need);
      FBlocks.push_back(Block{static_cast<unsigned char*>(MapBlock(size)), size, 0});
    }
    return reinterpret_cast<char*>(FBlocks.back().data + FBlocks.back().used);
  }
  void Commit(size_t n) {
    FBlocks.back().used += n;
    FSize += n;
  }
  size_t Size() const { return FSize; }

  // The answer as text, one character per byte; the buffer is empty afterwards.
  String Take() {
    String text;
    text.reserve(FSize);
    PreferHugePages(text.data(), (text.capacity() + 1) * sizeof(Char));
    for (Block& b : FBlocks) {
      const size_t at = text.size();
#if defined(__cpp_lib_string_resize_and_overwrite)
      // Grows without filling the new characters first: the widening writes each one once.
      text.resize_and_overwrite(at + b.used, [&](Char* out, size_t n) {
        WidenBytes(b.data, b.used, out + at);
        return n;
      });
#else
      text.resize(at + b.used);
      WidenBytes(b.data, b.used, text.data() + at);
#endif
      Release(b);
    }
    FBlocks.clear();
    FSize = 0;
    return text;
  }

 private:
  struct Block {
    unsigned char* data;
    size_t capacity;
    size_t used;
  };
  static constexpr size_t kFirstBlock = 64 * 1024;
  static constexpr size_t kMaxBlock = 16 * 1024 * 1024;

  // Large blocks start on a huge-page boundary and ask for huge pages: touching fresh memory
  // page by page costs more than the network read itself on a fast loopback.
  static void* MapBlock(size_t size) {
    const int prot = PROT_READ | PROT_WRITE, flags = MAP_PRIVATE | MAP_ANONYMOUS;
    if (size < kHugePage) {
      void* p = mmap(nullptr, size, prot, flags, -1, 0);
      if (p == MAP_FAILED) throw std::bad_alloc();
      return p;
    }
    size_t span = size + kHugePage;
    void* raw = mmap(nullptr, span, prot, flags, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    auto rawStart = reinterpret_cast<std::uintptr_t>(raw);
    std::uintptr_t start = (rawStart + kHugePage - 1) & ~(kHugePage - 1);
    if (start > rawStart) munmap(raw, start - rawStart);
    std::uintptr_t end = start + size, rawEnd = rawStart + span;
    if (rawEnd > end) munmap(reinterpret_cast<void*>(end), rawEnd - end);
    madvise(reinterpret_cast<void*>(start), size, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(start);
  }

  static void Release(Block& b) {
    if (b.data) munmap(b.data, b.capacity);
    b.data = nullptr;
  }

  std::vector<Block> FBlocks;
  size_t FSize = 0;
};

// How far the first line of an answer is looked at for its status: a status line is short, and
// an answer whose first line goes on longer is judged on what has come.
constexpr size_t kStatusLineLimit = 8192;

// A decimal number, or -1 when the text is not one. Too many digits still count as a number
// (an out-of-range one), so that an overlong fifth part cannot pass for "no fifth part".
int DecimalOrMinusOne(const String& s) {
  if (s.empty()) return -1;
  long long v = 0;
  for (Char c : s) {
    if (c < u'0' || c > u'9') return -1;
    v = std::min<long long>(v * 10 + (c - u'0'), INT_MAX);
  }
  return static_cast<int>(v);
}

}  // namespace

// ---- TKtInetProxy -------------------------------------------------------------------------

void TKtInetProxy::Assign(const TPersistent* Source) {
  if (auto* other = dynamic_cast<const TKtInetProxy*>(Source)) {
    FUseProxyServer = other->FUseProxyServer;
    FProxyServer = other->FProxyServer;
    FProxyUser = other->FProxyUser;
    FProxyPassword = other->FProxyPassword;
    FProxyPort = other->FProxyPort;
    FNoProxy = other->FNoProxy;
    return;
  }
  TPersistent::Assign(Source);
}

void TKtInetProxy::FillProxyInfo() {
  ReadProxyInfo(FProxyServer, FUseProxyServer, FProxyPort, FProxyUser, FProxyPassword, FNoProxy);
}

bool TKtInetProxy::AppliesTo(const String& Host) const {
  return FUseProxyServer && !FProxyServer.empty() && !NoProxyMatches(FNoProxy, Host);
}

// ---- TKtInetBase --------------------------------------------------------------------------

TKtInetBase::TKtInetBase(TComponent* AOwner) : TComponent(AOwner), FProxy(std::make_unique<TKtInetProxy>()) {
  StepCount = 1;
  FProxy->SetPort(0);
  FLoginPrompt = true;
  FClientSocket = new TClientSocket(this);
  FClientSocket->SetOnLookup([this](TObject* s, TCustomWinSocket* sock) { DoLookup(s, sock); });
  FClientSocket->SetOnConnecting([this](TObject* s, TCustomWinSocket* sock) { DoConnecting(s, sock); });
  FClientSocket->SetOnConnect([this](TObject* s, TCustomWinSocket* sock) { DoConnect(s, sock); });
  FClientSocket->SetOnDisconnect([this](TObject* s, TCustomWinSocket* sock) { DoDisconnect(s, sock); });
  FClientSocket->SetOnError(
      [this](TObject* s, TCustomWinSocket* sock, TErrorEvent kind, int& code) { DoError(s, sock, kind, code); });
  FClientSocket->SetClientType(ctBlocking);
  FKeepConnection = false;
}

// The socket goes with the inherited destructor, as an owned component; it closes without
// notifications, so none reaches this half-destroyed object.
TKtInetBase::~TKtInetBase() = default;

int TKtInetBase::Port() const { return FClientSocket->Port(); }

void TKtInetBase::SetPort(int Value) {
  FPort = Value;
  FClientSocket->SetPort(Value);
}

String TKtInetBase::Host() const { return FClientSocket->Host(); }
String TKtInetBase::Address() const { return FClientSocket->Address(); }
void TKtInetBase::SetHost(const String& Value) { SetEndpoint(Value); }
void TKtInetBase::SetAddress(const String& Value) { SetEndpoint(Value); }

// Host and Address share one writer: a dotted address always lands in Address and a name in
// Host, whichever property was written.
void TKtInetBase::SetEndpoint(const String& Value) {
  if (AddrIsIP(Value)) {
    FHost.clear();
    FAddress = Value;
    FClientSocket->SetHost(String());
    FClientSocket->SetAddress(Value);
  } else {
    FHost = Value;
    FAddress.clear();
    FClientSocket->SetHost(Value);
    FClientSocket->SetAddress(String());
  }
}

TClientType TKtInetBase::ClientType() const { return FClientSocket->ClientType(); }
void TKtInetBase::SetClientType(TClientType Value) { FClientSocket->SetClientType(Value); }
int TKtInetBase::ConnectTimeout() const { return FClientSocket->ConnectTimeout(); }
void TKtInetBase::SetConnectTimeout(int Value) { FClientSocket->SetConnectTimeout(Value); }
int TKtInetBase::ReadTimeout() const { return FClientSocket->ReadTimeout(); }
void TKtInetBase::SetReadTimeout(int Value) { FClientSocket->SetReadTimeout(Value); }

void TKtInetBase::SetOnSendTextToSocket(TSocketNotifyEvent Value) {
  FOnSendTextToSocket = Value;
  FClientSocket->SetOnWrite(std::move(Value));
}

void TKtInetBase::SetOnReceiveTextFromSocket(TSocketNotifyEvent Value) {
  FOnReceiveTextFromSocket = Value;
  FClientSocket->SetOnRead(std::move(Value));
}

bool TKtInetBase::AddrIsIP(const String& S) {
  int slots[5] = {-1, -1, -1, -1, -1};
  String part;
  size_t slot = 0;
  for (size_t i = 0; i < S.size(); ++i) {
    bool last = i + 1 == S.size();
    if (S[i] != u'.' && !last) {
      part += S[i];
      continue;
    }
    // The last character joins its part even when it is a dot, so "1.2.3.4." ends in "4.".
    if (last) part += S[i];
    slots[slot++] = DecimalOrMinusOne(part);
    if (slot >= 5) break;
    part.clear();
  }
  if (slots[4] != -1) return false;
  for (int i = 0; i < 4; ++i)
    if (slots[i] < 0 || slots[i] > 255) return false;
  return true;
}

String TKtInetBase::Execute() {
  FLastError.clear();
  // The limit counts from here and ends with this Execute, however it ends.
  struct DeadlineScope {
    TClientSocket* socket;
    ~DeadlineScope() { socket->StartDeadline(0); }
  } deadline{FClientSocket};
  FClientSocket->StartDeadline(FMaxTime);
  BeforeExecute();
  if (FClientSocket->Host().empty() && FClientSocket->Address().empty()) throw Exception(strKtInEHost);
  // What an earlier failed answer left unread would be taken for the start of this one.
  if (FStale) {
    FStale = false;
    Disconnect();
  }
  Connect();
  String result;
  try {
    CurrentStep = 0;
    while (CurrentStep < StepCount) {
      FAnswerComplete = true;
      String text = InternalExecute();
      AfterExecute(text);
      // A one-step answer may be hundreds of megabytes: hand it over instead of copying it.
      if (result.empty()) result = std::move(text);
      else result += text;
      ++CurrentStep;
    }
    if (!FKeepConnection) Disconnect();
  } catch (const Exception& e) {
    // The connection stays as it is until the next Execute, so a handler can still look at it.
    FStale = !(FKeepConnection && FAnswerComplete);
    result = e.Message();
    FLastError = e.Message().empty() ? String(u"Error without a message") : e.Message();
  }
  return result;
}

int TKtInetBase::StatusOfFirstLine(std::string_view Line) {
  size_t space = Line.find(' ');
  if (space == std::string_view::npos) return 200;
  std::string_view digits = Line.substr(space + 1, 3);
  return StrToIntDef(BytesToString(digits), 200);
}

void TKtInetBase::CheckAnswerStatus(int Status) {
  switch (Status) {
    case 401: throw Exception(strKtInEAuthRequired);
    case 404: throw Exception(strKtInEFileNotFound);
    case 407: throw Exception(strKtInEProxyAuth);
    default: break;
  }
}

bool TKtInetBase::StatusCheckApplies(std::string_view) const { return true; }

size_t TKtInetBase::AnswerReceived(const char*, size_t Count, bool&) { return Count; }

void TKtInetBase::CheckAnswerSize(Int64 Size) const {
  if (FMaxSize > 0 && Size > FMaxSize)
    throw Exception(u"The answer is larger than MaxSize (" + IntToStr(FMaxSize) + u" bytes); reading stopped");
}

String TKtInetBase::InternalExecute() {
  String query = GetQuery();
  if (!query.empty()) query += GetRawHeaders();
  int sent = query.empty() ? 1 : SendToSocket(query);
  if (sent <= 0) return u"No answer from server";

  FAnswerComplete = false;
  AnswerStarted();
  TAnswerBuffer answer;
  // The first line as far as it has come, until its status has been looked at.
  std::string firstLine;
  bool statusChecked = false;
  auto checkStatus = [&] {
    statusChecked = true;
    if (StatusCheckApplies(firstLine)) CheckAnswerStatus(StatusOfFirstLine(firstLine));
    firstLine = std::string();
  };
  bool complete = false;
  while (!complete) {
    char* chunk = answer.Room(kReadChunk);
    int n = ReceiveFromSocket(chunk, kReadChunk);
    if (n <= 0) break;
    CheckAnswerSize(static_cast<Int64>(answer.Size()) + n);
    size_t used = std::min(AnswerReceived(chunk, static_cast<size_t>(n), complete), static_cast<size_t>(n));
    // An error status of an answer read to its end leaves a connection that can go on.
    FAnswerComplete = complete && used == static_cast<size_t>(n);
    if (!statusChecked) {
      const char* end = chunk + used;
      const char* lineEnd =
          std::find_if(static_cast<const char*>(chunk), end, [](char c) { return c == '\r' || c == '\n'; });
      firstLine.append(chunk, std::min<size_t>(static_cast<size_t>(lineEnd - chunk), kStatusLineLimit - firstLine.size()));
      if (lineEnd != end || firstLine.size() >= kStatusLineLimit || complete) checkStatus();
    }
    answer.Commit(used);
    // Bytes after the end of the answer belong to nothing that was asked: the connection that
    // carries them cannot serve another request.
    if (complete && used < static_cast<size_t>(n)) Disconnect();
  }
  if (!statusChecked && !firstLine.empty()) checkStatus();
  if (!complete) AnswerEnded();
  // Nothing of the answer waits on the connection when it ended where it said, or the server
  // closed it.
  FAnswerComplete = complete || !FConnected;
  return answer.Take();
}

void TKtInetBase::BeforeExecute() {
  if (FOnBeforeExecute) FOnBeforeExecute(this);
}

void TKtInetBase::AfterExecute(String& strReceived) {
  if (FOnAfterExecute) FOnAfterExecute(this, strReceived);
}

String TKtInetBase::GetQuery() { return String(); }

bool TKtInetBase::ThroughProxy() const { return FProxy->AppliesTo(FHost.empty() ? FAddress : FHost); }

String TKtInetBase::GetRawHeaders() {
  String result;
  if (FProxy->UseProxy()) {
    // Without a proxy server the connection goes straight to the destination, which must not
    // see the proxy's credentials, nor should anyone be asked for them.
    if (ThroughProxy()) {
      if (FLoginPrompt) {
        String user = FProxy->User();
        String password = FProxy->Password();
        if (KtInAskLogon(strKtInProxyLogon, user, password)) {
          FProxy->SetUser(user);
          FProxy->SetPassword(password);
        }
      }
      CheckRequestText(FProxy->User(), u"The proxy user name");
      CheckRequestText(FProxy->Password(), u"The proxy password");
      if (!FProxy->User().empty()) result += u"Username: " + FProxy->User() + u"\r\n";
      if (!FProxy->Password().empty()) result += u"Password: " + FProxy->Password() + u"\r\n";
    }
  } else {
    result += u"Proxy-Connection: Keep-Alive\r\n";
  }
  result += u"\r\n";
  return result;
}

void TKtInetBase::Connect() {
  if (FConnected) return;
  if (FClientSocket->Host().empty() && FClientSocket->Address().empty()) throw Exception(strKtInEHost);
  if (ThroughProxy()) {
    const String& server = FProxy->Server();
    if (AddrIsIP(server)) {
      FClientSocket->SetAddress(server);
      FClientSocket->SetHost(String());
    } else {
      FClientSocket->SetHost(server);
      FClientSocket->SetAddress(String());
    }
    FClientSocket->SetPort(FProxy->Port());
  }
  FClientSocket->Open();
}

void TKtInetBase::Disconnect() {
  if (FConnected) FClientSocket->Close();
}

int TKtInetBase::SendToSocket(const String& Text) {
  for (size_t i = 0; i < Text.size(); ++i)
    if (Text[i] > 0xFF)
      throw EConvertError(u"Character " + IntToStr(static_cast<long long>(i + 1)) + u" of the query (U+" +
                          IntToHex(Text[i], 4) + u") cannot be sent as one byte");
  std::string bytes = StringToBytes(Text);
  return FClientSocket->Socket()->SendBuf(bytes.data(), static_cast<int>(bytes.size()));
}

int TKtInetBase::ReceiveFromSocket(void* Buffer, int Count) {
  return FClientSocket->Socket()->ReceiveBuf(Buffer, Count);
}

String TKtInetBase::GetLocalHost() { return FClientSocket->Socket()->LocalHost(); }

void TKtInetBase::DoLookup(TObject* Sender, TCustomWinSocket* Socket) {
  if (FOnLookup) FOnLookup(Sender, Socket);
}

void TKtInetBase::DoConnecting(TObject* Sender, TCustomWinSocket* Socket) {
  if (FOnConnecting) FOnConnecting(Sender, Socket);
}

void TKtInetBase::DoConnect(TObject* Sender, TCustomWinSocket* Socket) {
  FConnected = true;
  if (FOnConnect) FOnConnect(Sender, Socket);
}

void TKtInetBase::DoDisconnect(TObject* Sender, TCustomWinSocket* Socket) {
  FConnected = false;
  if (FOnDisconnect) FOnDisconnect(Sender, Socket);
}

void TKtInetBase::DoError(TObject* Sender, TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode) {
  FConnected = false;
  if (FOnError) FOnError(Sender, Socket, ErrorEvent, ErrorCode);
}

const TClassInfo* TKtInetProxy::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtInetProxy>(u"TKtInetProxy", nullptr)
      .Property(u"Server", &TKtInetProxy::Server, &TKtInetProxy::SetServer)
      .Property(u"User", &TKtInetProxy::User, &TKtInetProxy::SetUser)
      .Property(u"Password", &TKtInetProxy::Password, &TKtInetProxy::SetPassword)
      .Property(u"UseProxy", &TKtInetProxy::UseProxy, &TKtInetProxy::SetUseProxy)
      .Property(u"Port", &TKtInetProxy::Port, &TKtInetProxy::SetPort).Default(0)
      .Build();
  return info;
}

const TClassInfo* TKtInetBase::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtInetBase>(u"TKtInetBase", nullptr)
      .Property(u"About", &TKtInetBase::About, &TKtInetBase::SetAbout)
      .Property(u"Port", &TKtInetBase::Port, &TKtInetBase::SetPort)
      .Property(u"Host", &TKtInetBase::Host, &TKtInetBase::SetHost)
      .Property(u"Address", &TKtInetBase::Address, &TKtInetBase::SetAddress)
      .Property(u"KeepConnection", &TKtInetBase::KeepConnection, &TKtInetBase::SetKeepConnection)
      .Property(u"Proxy", &TKtInetBase::Proxy)
      .Property(u"LoginPrompt", &TKtInetBase::LoginPrompt, &TKtInetBase::SetLoginPrompt).Default(true)
      .Property(u"ConnectTimeout", &TKtInetBase::ConnectTimeout, &TKtInetBase::SetConnectTimeout).Default(0)
      .Property(u"ReadTimeout", &TKtInetBase::ReadTimeout, &TKtInetBase::SetReadTimeout).Default(0)
      .Property(u"MaxSize", &TKtInetBase::MaxSize, &TKtInetBase::SetMaxSize).Default(0)
      .Property(u"MaxTime", &TKtInetBase::MaxTime, &TKtInetBase::SetMaxTime).Default(0)
      .Event(u"OnConnect", u"TSocketNotifyEvent")
      .Event(u"OnDisconnect", u"TSocketNotifyEvent")
      .Event(u"OnError", u"TSocketErrorEvent")
      .Event(u"OnLookup", u"TSocketNotifyEvent")
      .Event(u"OnConnecting", u"TSocketNotifyEvent")
      .Event(u"OnSendTextToSocket", u"TSocketNotifyEvent")
      .Event(u"OnReceiveTextFromSocket", u"TSocketNotifyEvent")
      .Event(u"OnBeforeExecute", u"TNotifyEvent")
      .Event(u"OnAfterExecute", u"TKtIReceivedEvent")
      .Build();
  return info;
}

}  // namespace ktinet
