// TKtInetBase, the base of every socket component, and TKtInetProxy, the proxy settings.
//
// A socket component connects (directly or through a proxy), sends the query its subclass builds
// followed by the header block, reads until the server closes and hands the text back. Texts on
// the wire are Strings with one character per byte (0..255), zero bytes included.
#pragma once

#include <functional>
#include <memory>

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
  // Takes the current user's system proxy (ReadProxyInfo); only what is found is replaced.
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

 private:
  bool FUseProxyServer = false;
  String FProxyServer;
  String FProxyUser;
  String FProxyPassword;
  int FProxyPort = 0;
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
  // connection is left as it was.
  String Execute();

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
  // closes. A status 401, 404 or 407 after the first space of the first chunk raises the
  // matching message.
  virtual String InternalExecute();
  virtual void BeforeExecute();
  virtual void AfterExecute(String& strReceived);
  // The text to send; empty sends nothing and lets the server speak first.
  virtual String GetQuery();

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
  int FMaxTime = 0;

 private:
  void SetEndpoint(const String& Value);
};

}  // namespace ktinet
