// TKtISMTP: sends one mail message per Execute over SMTP, with LOGIN authentication, TLS
// (implicit or STARTTLS), recipients, copies and blind copies, a priority and a multipart MIME
// message carrying the attachments' files.
//
// Every reply of the server is read and checked; a refusal ends Execute with the server's reply
// text as its result and in LastError ("550 5.1.1 <x@y>: Recipient address rejected"). Input
// that would let data write its own commands or headers (CR, LF or NUL in an address, the
// subject, a name or type), text the charset cannot carry and unreadable attachment files are
// refused with an exception before anything is sent.
#pragma once

#include <memory>
#include <string>

#include "core/KtInBase.h"
#include "mail/KtIMailAddr.h"
#include "rtl/DateTime.h"
#include "rtl/TypInfo.h"

namespace ktinet {

// X-Priority carries the ordinal plus one: spHighest "1" ... spLowest "5".
enum TKtISMTPPriority { spHighest, spHigh, spNormal, spLow, spLowest };
KTINET_ENUM_TYPE(TKtISMTPPriority, u"spHighest", u"spHigh", u"spNormal", u"spLow", u"spLowest")

// utImplicit: TLS from the first byte (SMTPS, port 465); utStartTLS: the dialogue upgrades with
// STARTTLS and fails when the server does not offer it (never clear text instead).
enum TKtIUseTLS { utNone, utImplicit, utStartTLS };
KTINET_ENUM_TYPE(TKtIUseTLS, u"utNone", u"utImplicit", u"utStartTLS")

class TKtISMTP : public TKtInetBase {
  KTINET_PUBLISHED(TKtISMTP)
 public:
  explicit TKtISMTP(TComponent* AOwner);
  ~TKtISMTP() override;

  // Opens the connection unless it is open (TLS first for utImplicit), reads the greeting, and
  // greets: "HELO host", or "EHLO host" when logging in or upgrading (HELO again if EHLO is
  // refused and no upgrade is wanted). utStartTLS upgrades here. A failure closes the connection
  // and reaches the caller.
  void Connect() override;
  // "QUIT" when connected (its reply is read but cannot fail a message already accepted), then
  // closes.
  void Disconnect() override;
  // The dialogue and the message on the open connection: RSET, login, envelope, DATA.
  void Send();
  // The server's reply to the end of the last message sent ("250 2.0.0 Ok: queued as ..."),
  // all lines joined with CR LF; empty until a message has been accepted.
  const String& LastReply() const { return FLastReply; }
  // Bytes of the last message as the server received it between DATA and the final dot
  // (headers, body and attachments, line ends included, dot-stuffing not counted).
  Int64 MessageSize() const { return FMessageSize; }

  const String& Subject() const { return FSubject; }
  void SetSubject(const String& Value) { FSubject = Value; }
  TStringList* Body() const { return FBody.get(); }
  void SetBody(const TStrings* Value) { FBody->Assign(Value); }
  TKtIEMailAddress* From() const { return FFrom.get(); }
  void SetFrom(const TKtIEMailAddress* Value) { FFrom->Assign(Value); }
  TKtIEMailAddresses* Recipients() const { return FRecipients.get(); }
  void SetRecipients(const TKtIEMailAddresses* Value) { FRecipients->Assign(Value); }
  TKtIEMailAddresses* CC() const { return FCC.get(); }
  void SetCC(const TKtIEMailAddresses* Value) { FCC->Assign(Value); }
  TKtIEMailAddresses* BCC() const { return FBCC.get(); }
  void SetBCC(const TKtIEMailAddresses* Value) { FBCC->Assign(Value); }
  TKtIEMailAddresses* ReplyTo() const { return FReplyTo.get(); }
  void SetReplyTo(const TKtIEMailAddresses* Value) { FReplyTo->Assign(Value); }
  // The text part's charset: us-ascii (default), iso-8859-1, windows-1252 and utf-8 are encoded;
  // any other name is written as given and takes ASCII text only.
  const String& CharSet() const { return FCharSet; }
  void SetCharSet(const String& Value) { FCharSet = Value; }
  // The text part's transfer encoding ("7bit" by default); "quoted-printable" and "base64"
  // encode the text accordingly.
  const String& Encoding() const { return FEncoding; }
  void SetEncoding(const String& Value) { FEncoding = Value; }
  TKtISMTPPriority Priority() const { return FPriority; }
  void SetPriority(TKtISMTPPriority Value) { FPriority = Value; }
  // The "Date:" header; set when the component is created, not refreshed by sending.
  TDateTime Date() const { return FDate; }
  void SetDate(TDateTime Value) { FDate = Value; }
  TKtILogin* Login() const { return FLogin.get(); }
  void SetLogin(const TKtILogin* Value) { FLogin->Assign(Value); }
  TKtIEMailAttachments* Attachments() const { return FAttachments.get(); }
  void SetAttachments(const TKtIEMailAttachments* Value) { FAttachments->Assign(Value); }
  TKtIUseTLS UseTLS() const { return FUseTLS; }
  void SetUseTLS(TKtIUseTLS Value) { FUseTLS = Value; }
  // A CA certificate file (PEM) trusted beside the system's store for the server's certificate.
  const String& CACertFile() const { return FCACertFile; }
  void SetCACertFile(const String& Value) { FCACertFile = Value; }
  // Accepts any certificate: only for private set-ups that knowingly give up the check.
  bool IgnoreCertificateErrors() const { return FIgnoreCertificateErrors; }
  void SetIgnoreCertificateErrors(bool Value) { FIgnoreCertificateErrors = Value; }

  // The "Date:" text: "Sun, 6 Dec 2026 09:05:03 +0200" (English names, zone of the local clock).
  static String EMailFormatDate(TDateTime Value);
  // The zone text of a bias (minutes that added to local time give UTC): 0 "GMT", -330 "+0530",
  // 300 "-0500".
  static String TimeZoneText(int Bias);
  // The zone text of the local clock now.
  static String GetTimeZoneString();
  // "<yyyymmddhhnn" + eight letters a..t + "@" + HostName + ">".
  static String UniqueMessageID(const String& HostName);
  // The digits of Value with "0" in front up to Width characters.
  static String LeadZero(int Value, int Width);
  // The subject header's value: unchanged when it is ASCII and its header line fits the 998
  // characters a mail line may have; otherwise RFC 2047 encoded words in UTF-8 (each whole
  // characters), one per element, which go on lines of their own and read back as the same text.
  static std::vector<String> EncodeSubject(const String& Subject);

 protected:
  // The work step: Send, with an empty received text.
  String InternalExecute() override;
  // OnBeforeExecute, then the checks of the message, so that bad input is refused before the
  // connection is even made.
  void BeforeExecute() override;
  // Queues one line (and CR LF) for the server; returns true.
  bool SendData(const String& Line);

 private:
  struct TReply {
    int Code = 0;
    String Text;  // all lines, joined with CR LF
  };
  void CheckMessage() const;
  void Flush();
  TReply ReadReply();
  TReply Command(const String& Line, std::initializer_list<int> Expected);
  void Greet();
  void SendHeaders();
  void SendBodyText(const std::vector<std::string>& Lines, const String& Encoding);
  // The body's lines in the charset, split at CR LF, CR or LF.
  std::vector<std::string> BodyLines() const;
  // The body's transfer encoding: Encoding, or quoted-printable when Encoding sends lines as
  // they are and one of them is longer than a mail line may be.
  String BodyEncoding(const std::vector<std::string>& Lines) const;
  void SendAttachment(const TKtIEMailAttachment& A);
  void SendDataLine(const std::string& Bytes);
  void StartTlsHere();

  String FSubject;
  std::unique_ptr<TStringList> FBody;
  std::unique_ptr<TKtIEMailAddress> FFrom;
  std::unique_ptr<TKtIEMailAddresses> FRecipients, FCC, FBCC, FReplyTo;
  String FCharSet = u"us-ascii";
  String FEncoding = u"7bit";
  TKtISMTPPriority FPriority = spNormal;
  TDateTime FDate = 0;
  std::unique_ptr<TKtILogin> FLogin;
  std::unique_ptr<TKtIEMailAttachments> FAttachments;
  TKtIUseTLS FUseTLS = utNone;
  String FCACertFile;
  bool FIgnoreCertificateErrors = false;

  // Session state of the open connection.
  std::string FOut;      // bytes queued for the server
  std::string FIn;       // bytes received but not yet taken as reply lines
  bool FInData = false;  // lines are dot-stuffed between DATA's 354 and the final dot
  bool FLoggedIn = false;
  String FServerName;    // the name the connection was made for (TLS checks it)
  String FLastReply;
  Int64 FMessageSize = 0;
};

namespace smtp_detail {
// One line of a server's reply (without its CR LF) added to Code and Text (lines joined with
// CR LF; Code from the first line); true when it was the reply's last line. Raises Exception for
// a line that is not a reply line, one longer than 4 KiB, or more than 100 continuation lines
// (counted in Continuations, 0 at the start of a reply).
bool AddReplyLine(const std::string& Line, int& Code, String& Text, int& Continuations);
}  // namespace smtp_detail

}  // namespace ktinet
