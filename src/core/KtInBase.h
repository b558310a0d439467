// TKtInetBase, the base of every socket component, and TKtInetProxy, the proxy settings.
//
// A socket component connects (directly or through a proxy), sends the query its subclass builds
// followed by the header block, reads until the server closes (or until the subclass finds the
// answer complete) and hands the text back. Texts on the wire are Strings with one character per
// byte (0..255), zero bytes included.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "platform/Sockets.h"
#include "rtl/Classes.h"
#include "rtl/TypInfo.h"

namespace ktinet {

// Proxy settings owned by every component with a Proxy property; copied in with Assign.
class TKtInetProxy : public TPersistent {
  KTINET_PUBLISHED(TKtInetProxy)
 public:
  // Copies every setting from another TKtInetProxy; any other source raises EConvertError.
  void Assign(const TPersistent* Source) override;
  // Takes the current user's system proxy (ReadProxyInfo), with the user name, password and
  // no_proxy list the environment gives; only what is found is replaced.
  void FillProxyInfo();

  const String& Server() const { return FProxyServer; }
  void SetServer(const String& Value) { FProxyServer = Value; }
  const String& User() const { return FProxyUser; }
  void SetUser(const String& Value) { FProxyUser = Value; }
  const String& Password() const { return FProxyPassword; }
  void SetPassword(const String& Value) { FProxyPassword = Value; }
  bool UseProxy() const { return FUseProxyServer; }
  void SetUseProxy(bool Value) { FUseProxyServer = Value; }
  int Port() const { return FProxyPort; }
  void SetPort(int Value) { FProxyPort = Value; }
  // Hosts reached directly even when a proxy is set, in no_proxy's form ("localhost,.example.com";
  // see NoProxyMatches). FillProxyInfo takes it from the environment; empty by default.
  const String& NoProxy() const { return FNoProxy; }
  void SetNoProxy(const String& Value) { FNoProxy = Value; }
  // True when a connection to Host goes through the proxy: UseProxy, a Server, and Host not on
  // the NoProxy list.
  bool AppliesTo(const String& Host) const;

 private:
  bool FUseProxyServer = false;
  String FProxyServer;
  String FProxyUser;
  String FProxyPassword;
  int FProxyPort = 0;
  String FNoProxy;
};

// OnAfterExecute: the handler may replace the text before it joins the result of Execute.
using TKtIReceivedEvent = std::function<void(TObject* Sender, String& Text)>;

class TKtInetBase : public TComponent {
  KTINET_PUBLISHED(TKtInetBase)
 public:
  explicit TKtInetBase(TComponent* AOwner);
  ~TKtInetBase() override;

  // Runs the query/answer steps and returns their texts joined. Errors before the connection is
  // made (OnBeforeExecute, no host, a failed connect) reach the caller; an Exception (or
  // descendant) raised later is caught, its message becomes the result and LastError, and the
  // connection is left as it was until the next Execute, which starts on a fresh connection
  // unless the failed answer had been read whole and KeepConnection holds.
  String Execute();

  // The status an answer's first line carries after its first space (the three characters there
  // as a number), 200 when there is no space or they are no number.
  static int StatusOfFirstLine(std::string_view Line);
  // Raises the message of status 401, 404 or 407; any other status passes.
  static void CheckAnswerStatus(int Status);

  // True when S is exactly four dot-separated decimal numbers, each 0..255.
  static bool AddrIsIP(const String& S);

  // Writes the text one byte per character; returns what the socket's SendBuf returns.
  // A character above 255 cannot be sent as one byte: raises EConvertError, nothing is sent.
  int SendToSocket(const String& Text);
  // One read of at most Count bytes on the connection.
  int ReceiveFromSocket(void* Buffer, int Count);
  String GetLocalHost();

  // The block appended to every non-empty query: "Proxy-Connection: Keep-Alive" without a proxy;
  // the proxy credentials (after the logon prompt, when LoginPrompt) when the connection goes
  // through a proxy; then an empty line.
  virtual String GetRawHeaders();
  // Opens the connection (to the proxy when one is set); returns at once when connected.
  virtual void Connect();
  virtual void Disconnect();

  // Always empty; writing clears it (the design-time About editor writes it).
  const String& About() const { return FAbout; }
  void SetAbout(const String&) { FAbout.clear(); }
  // Host, Address and Port read the socket's own values: after a connect through a proxy they
  // name the proxy's endpoint until the application writes them again.
  int Port() const;
  void SetPort(int Value);
  String Host() const;
  void SetHost(const String& Value);
  String Address() const;
  void SetAddress(const String& Value);
  bool KeepConnection() const { return FKeepConnection; }
  void SetKeepConnection(bool Value) { FKeepConnection = Value; }
  TKtInetProxy* Proxy() const { return FProxy.get(); }
  void SetProxy(const TKtInetProxy* Value) { FProxy->Assign(Value); }
  bool LoginPrompt() const { return FLoginPrompt; }
  void SetLoginPrompt(bool Value) { FLoginPrompt = Value; }
  TClientType ClientType() const;
  void SetClientType(TClientType Value);
  bool Connected() const { return FConnected; }
  // Milliseconds; 0 waits forever (the default). A read that times out ends Execute with the
  // socket error's message.
  int ConnectTimeout() const;
  void SetConnectTimeout(int Value);
  int ReadTimeout() const;
  void SetReadTimeout(int Value);
  // The most bytes one answer may have; 0 (the default) sets no limit. A longer answer ends
  // Execute with an error text naming the limit, before more than that is held in memory.
  Int64 MaxSize() const { return FMaxSize; }
  void SetMaxSize(Int64 Value) { FMaxSize = Value < 0 ? 0 : Value; }
  // Milliseconds one Execute may take in all, connecting included; 0 (the default) sets no limit.
  // It bounds every wait, so a server that trickles its answer cannot hold a job beyond it.
  int MaxTime() const { return FMaxTime; }
  void SetMaxTime(int Value) { FMaxTime = Value < 0 ? 0 : Value; }
  // Empty after a clean Execute; the caught message when Execute returned from its guard.
  const String& LastError() const { return FLastError; }

  // Socket events: Sender is the inner client socket, not this component.
  const TSocketNotifyEvent& OnConnect() const { return FOnConnect; }
  void SetOnConnect(TSocketNotifyEvent Value) { FOnConnect = std::move(Value); }
  const TSocketNotifyEvent& OnDisconnect() const { return FOnDisconnect; }
  void SetOnDisconnect(TSocketNotifyEvent Value) { FOnDisconnect = std::move(Value); }
  const TSocketErrorEvent& OnError() const { return FOnError; }
  void SetOnError(TSocketErrorEvent Value) { FOnError = std::move(Value); }
  const TSocketNotifyEvent& OnLookup() const { return FOnLookup; }
  void SetOnLookup(TSocketNotifyEvent Value) { FOnLookup = std::move(Value); }
  const TSocketNotifyEvent& OnConnecting() const { return FOnConnecting; }
  void SetOnConnecting(TSocketNotifyEvent Value) { FOnConnecting = std::move(Value); }
  // Also the socket's write-ready notification.
  const TSocketNotifyEvent& OnSendTextToSocket() const { return FOnSendTextToSocket; }
  void SetOnSendTextToSocket(TSocketNotifyEvent Value);
  // Also the socket's read-ready notification.
  const TSocketNotifyEvent& OnReceiveTextFromSocket() const { return FOnReceiveTextFromSocket; }
  void SetOnReceiveTextFromSocket(TSocketNotifyEvent Value);
  const TNotifyEvent& OnBeforeExecute() const { return FOnBeforeExecute; }
  void SetOnBeforeExecute(TNotifyEvent Value) { FOnBeforeExecute = std::move(Value); }
  const TKtIReceivedEvent& OnAfterExecute() const { return FOnAfterExecute; }
  void SetOnAfterExecute(TKtIReceivedEvent Value) { FOnAfterExecute = std::move(Value); }

 protected:
  // One query/answer step: sends GetQuery (with the header block) and reads until the server
  // closes or AnswerReceived finds the answer complete. Once the answer's first line is whole
  // (however it was split into reads), a status 401, 404 or 407 after its first space raises the
  // matching message, where StatusCheckApplies agrees. An answer longer than MaxSize raises.
  virtual String InternalExecute();

  // The reading of one answer, for subclasses that know where their answers end:
  // AnswerStarted comes before the first read; AnswerReceived sees every chunk as it arrives and
  // returns how many of its bytes belong to the answer (bytes past the end are dropped, and the
  // connection with them), setting Complete once the answer is whole, which ends the reading
  // without waiting for the server to close; AnswerEnded comes when the server closed (or a
  // failed read was let pass) before that, and raises for an answer that was cut short.
  virtual void AnswerStarted() {}
  virtual size_t AnswerReceived(const char* Data, size_t Count, bool& Complete);
  virtual void AnswerEnded() {}
  // Whether the 401/404/407 check looks at an answer with this first line (every answer here).
  virtual bool StatusCheckApplies(std::string_view FirstLine) const;
  // Raises when an answer of Size bytes would pass MaxSize.
  void CheckAnswerSize(Int64 Size) const;
  virtual void BeforeExecute();
  virtual void AfterExecute(String& strReceived);
  // The text to send; empty sends nothing and lets the server speak first.
  virtual String GetQuery();
  // True when this connection goes through the proxy (see TKtInetProxy::AppliesTo), judged by the
  // destination the application set.
  bool ThroughProxy() const;

  void DoLookup(TObject* Sender, TCustomWinSocket* Socket);
  void DoConnecting(TObject* Sender, TCustomWinSocket* Socket);
  void DoConnect(TObject* Sender, TCustomWinSocket* Socket);
  void DoDisconnect(TObject* Sender, TCustomWinSocket* Socket);
  void DoError(TObject* Sender, TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode);

  TClientSocket* FClientSocket;  // owned as a component: freed with this one
  String FAbout;
  bool FConnected = false;
  int FPort = 0;
  String FHost;
  String FAddress;
  bool FKeepConnection = false;
  std::unique_ptr<TKtInetProxy> FProxy;
  bool FLoginPrompt = true;
  TSocketNotifyEvent FOnConnect, FOnDisconnect;
  TSocketErrorEvent FOnError;
  TSocketNotifyEvent FOnLookup, FOnConnecting, FOnSendTextToSocket, FOnReceiveTextFromSocket;
  TNotifyEvent FOnBeforeExecute;
  TKtIReceivedEvent FOnAfterExecute;
  int CurrentStep = 0;  // the step Execute is running, from 0
  int StepCount = 1;    // query/answer steps of one Execute
  String FLastError;
  Int64 FMaxSize = 0;
  // The answer of the step that ran last was read to its end: nothing of it waits on the
  // connection. Steps that read in a way of their own leave it true.
  bool FAnswerComplete = true;
  // The last Execute ended in an error that may have left part of an answer on the connection.
  bool FStale = false;
  int FMaxTime = 0;

 private:
  void SetEndpoint(const String& Value);
};

}  // namespace ktinet
