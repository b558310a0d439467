// TKtIHTTPClient: one HTTP/1.0 request (HEAD, GET or POST) over the socket core, returning the
// answer (by default without its header block), with the answer's header lines in
// ResponseHeaders and redirects offered through OnRedirect.
#pragma once

#include <functional>
#include <memory>

#include "core/KtInBase.h"
#include "protocols/HttpWire.h"
#include "rtl/TypInfo.h"

namespace ktinet {

enum TKtIHTTPAction : unsigned char { haHead, haGet, haPost };
KTINET_ENUM_TYPE(TKtIHTTPAction, u"haHead", u"haGet", u"haPost")

// URL starts as the whole Location line; Abort starts true. A handler that sets Abort to false has
// the redirect followed (to URL, or to the Location line's target when URL still is that line).
using TKtIHTTPRedirectEvent = std::function<void(TObject* Sender, String& URL, bool& Abort)>;

class TKtIHTTPClient : public TKtInetBase {
  KTINET_PUBLISHED(TKtIHTTPClient)
 public:
  explicit TKtIHTTPClient(TComponent* AOwner);
  ~TKtIHTTPClient() override;

  TKtIHTTPAction Action() const { return FAction; }
  void SetAction(TKtIHTTPAction Value) { FAction = Value; }
  // The request target as written in the request line, normally a path beginning with '/'.
  const String& Request() const { return FRequest; }
  void SetRequest(const String& Value) { FRequest = Value; }
  // Extra request header lines, sent in order after the Host line.
  TStrings* Headers() const { return FHeaders.get(); }
  void SetHeaders(const TStrings* Value) { FHeaders->Assign(Value); }
  bool RemoveHeaders() const { return FRemoveHeaders; }
  void SetRemoveHeaders(bool Value) { FRemoveHeaders = Value; }
  // Sent after the empty line with a "Content-Length" header; one byte per character, like every
  // socket text. Empty (the default) sends no body and no Content-Length.
  const String& Body() const { return FBody; }
  void SetBody(const String& Value) { FBody = Value; }
  const TKtIHTTPRedirectEvent& OnRedirect() const { return FOnRedirect; }
  void SetOnRedirect(TKtIHTTPRedirectEvent Value) { FOnRedirect = std::move(Value); }

  // The status line and header lines of the last answer.
  TStrings* ResponseHeaders() const { return FResponseHeaders.get(); }
  // The first line of ResponseHeaders that begins with Value (without regard to case), whole.
  String GetResponse(const String& Value) const;

  // The most redirects one Execute follows.
  static constexpr int MaxRedirects = 5;

  // Also notes the destination, which the request names when the socket goes to a proxy.
  void Connect() override;

 protected:
  String GetQuery() override;
  void AfterExecute(String& strReceived) override;
  // The answer ends after the body its Content-Length announces (at once after the header lines
  // for HEAD, 204 and 304), or when the server closes; a body cut short fails the request.
  void AnswerStarted() override;
  size_t AnswerReceived(const char* Data, size_t Count, bool& Complete) override;
  void AnswerEnded() override;

 private:
  // Fires OnAfterExecute, fills ResponseHeaders and strips the header block when asked.
  void TakeAnswer(String& strReceived);

  TKtIHTTPAction FAction = haHead;
  String FRequest;
  std::unique_ptr<TStringList> FHeaders;
  bool FRemoveHeaders = true;
  std::unique_ptr<TStringList> FResponseHeaders;
  TKtIHTTPRedirectEvent FOnRedirect;
  String FBody;
  // The destination as the application set it, kept when Connect points the socket at a proxy.
  String FTargetHost;
  int FTargetPort = 80;
  THttpAnswerScanner FScanner;
  // While a redirect chain is followed: the request goes out as GET without its body (after a
  // 303, or a 301/302 answering a POST), and without the Authorization and Cookie lines (once it
  // leaves the host and port the application addressed).
  bool FAsGet = false;
  bool FWithoutCredentials = false;
};

// Splits an answer as the component does: the status line and header lines (up to the first
// empty line; without one, all lines but the last) into Headers, and, when Body is given, the
// lines after them into *Body, each ended with CR LF. False when the answer holds no line.
bool SplitHTTPAnswer(const String& Answer, TStrings& Headers, String* Body);

}  // namespace ktinet
