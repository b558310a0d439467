#include "mail/KtISMTP.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>

#include "core/ktiutil.h"
#include "platform/Tls.h"
#include "rtl/Exceptions.h"
#include "rtl/SysUtils.h"

namespace ktinet {

namespace {

// The boundary and its delimiter lines keep the layout mail readers of the suite's messages know.
const char16_t* const kBoundary = u"----------ArdenfoldSMTP";
const char16_t* const kDelimiter = u"------------ArdenfoldSMTP";
const char16_t* const kMailer = u"X-Mailer: Ardenfold mailer (https://github.com/ktinet/ktinet)";

// Queued output goes to the server in blocks of about this size, so that a large attachment
// costs a few system calls (and TLS records) per block rather than per line.
constexpr size_t kFlushAt = 64 * 1024;
// A reply line beyond this, or more continuation lines than this, is not a server talking SMTP.
constexpr size_t kMaxReplyLine = 4096;
constexpr int kMaxContinuations = 100;
// How long a goodbye may take when no read time-out is set.
constexpr int kQuitWaitMs = 10000;
// Base64 lines of 76 characters carry 57 bytes; files are read in whole numbers of lines.
constexpr size_t kBase64LineBytes = 57;
constexpr size_t kReadChunk = kBase64LineBytes * 1024;

enum class TCharsetKind { Ascii, Latin1, Windows1252, Utf8, Other };

TCharsetKind CharsetKind(const String& cs) {
  String c = LowerCase(Trim(cs));
  if (c == u"us-ascii" || c == u"ascii") return TCharsetKind::Ascii;
  if (c == u"iso-8859-1" || c == u"iso8859-1" || c == u"latin1" || c == u"latin-1") return TCharsetKind::Latin1;
  if (c == u"windows-1252" || c == u"cp1252") return TCharsetKind::Windows1252;
  if (c == u"utf-8" || c == u"utf8") return TCharsetKind::Utf8;
  return TCharsetKind::Other;
}

bool IsHighSurrogate(Char c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(Char c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Encodes text in the charset; false with the offending character's position when one does not
// fit (an unknown charset takes ASCII only, which nearly every charset shares).
bool EncodeInCharset(const String& s, TCharsetKind kind, std::string& out, size_t& bad) {
  out.clear();
  for (size_t i = 0; i < s.size(); ++i) {
    Char c = s[i];
    switch (kind) {
      case TCharsetKind::Ascii:
      case TCharsetKind::Other:
        if (c > 0x7F) return bad = i, false;
        out += static_cast<char>(c);
        break;
      case TCharsetKind::Latin1:
        if (c > 0xFF) return bad = i, false;
        out += static_cast<char>(c);
        break;
      case TCharsetKind::Windows1252: {
        unsigned char b;
        if (!CharToAnsi(c, b)) return bad = i, false;
        out += static_cast<char>(b);
        break;
      }
      case TCharsetKind::Utf8:
        // An unpaired surrogate would silently become U+FFFD.
        if (IsHighSurrogate(c)) {
          if (i + 1 >= s.size() || !IsLowSurrogate(s[i + 1])) return bad = i, false;
          out += UTF8Encode(s.substr(i, 2));
          ++i;
        } else if (IsLowSurrogate(c)) {
          return bad = i, false;
        } else {
          out += UTF8Encode(String(1, c));
        }
        break;
    }
  }
  return true;
}

bool HasBreak(const String& s) {
  for (Char c : s)
    if (c == u'\r' || c == u'\n' || c == 0) return true;
  return false;
}

// CR, LF and NUL would let a caller's data end a command or a header line and write its own.
void RefuseBreaks(const String& value, const String& what) {
  if (HasBreak(value))
    throw Exception(what + u" contains a CR, LF or NUL character; the message is refused, since such characters "
                           u"could write SMTP commands or header lines of their own");
}

bool IsAscii(const String& s) {
  for (Char c : s)
    if (c > 0x7F) return false;
  return true;
}

void RefuseNonAscii(const String& value, const String& what) {
  if (!IsAscii(value)) throw Exception(what + u" \"" + value + u"\" holds characters beyond ASCII, which it cannot carry");
}

// A mail line may hold 998 characters before its CR LF (RFC 5321 4.5.3.1.6).
constexpr size_t kMaxMailLine = 998;

bool IsAtext(Char c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
         (c < 0x80 && std::strchr("!#$%&'*+-/=?^_`{|}~", static_cast<char>(c)) && c != 0);
}

// local@domain as RFC 5321 has it in MAIL FROM and RCPT TO: a dot-atom before the '@' and, after
// it, dot-separated labels of letters, digits and hyphens or an address literal in brackets.
bool IsEnvelopeAddress(const String& a) {
  size_t at = a.rfind(u'@');
  if (at == String::npos || at == 0 || at + 1 >= a.size()) return false;
  const String local = a.substr(0, at), domain = a.substr(at + 1);
  bool afterDot = true;
  for (Char c : local) {
    if (c == u'.') {
      if (afterDot) return false;
      afterDot = true;
    } else if (IsAtext(c)) {
      afterDot = false;
    } else {
      return false;
    }
  }
  if (afterDot) return false;
  if (domain.front() == u'[')
    return domain.size() > 2 && domain.back() == u']' &&
           domain.find_first_not_of(u"0123456789abcdefABCDEFIPv6:.", 1) == domain.size() - 1;
  size_t label = 0;
  for (Char c : domain) {
    if (c == u'.') {
      if (label == 0 || label > 63) return false;
      label = 0;
    } else if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-') {
      ++label;
    } else {
      return false;
    }
  }
  return label > 0 && label <= 63 && domain.size() <= 253;
}

// Envelope addresses are written between angle brackets on a command line of their own. An
// empty one would ask for the null path ("RCPT TO:<>"), and blanks or parentheses are the rest
// of a display form that was not taken apart; the server would refuse them, or worse, take them.
void CheckEnvelopeAddress(const String& address, const String& what) {
  RefuseBreaks(address, what);
  RefuseNonAscii(address, what);
  if (address.find_first_of(u"<>") != String::npos)
    throw Exception(what + u" \"" + address + u"\" contains an angle bracket, which would end the address early");
  if (address.empty()) throw Exception(what + u" is empty");
  if (!IsEnvelopeAddress(address))
    throw Exception(what + u" \"" + address + u"\" is not a mail address of the form name@domain");
}

// Splits at CR LF, CR or LF; "a\r\nb" gives a and b.
std::vector<String> SplitLines(const String& s) {
  std::vector<String> lines;
  String line;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == u'\r' || s[i] == u'\n') {
      lines.push_back(line);
      line.clear();
      if (s[i] == u'\r' && i + 1 < s.size() && s[i + 1] == u'\n') ++i;
    } else {
      line += s[i];
    }
  }
  lines.push_back(line);
  return lines;
}

// The characters of s (surrogate pairs whole) as UTF-8 pieces, so encoded words can be cut
// between characters only.
std::vector<std::string> Utf8Characters(const String& s) {
  std::vector<std::string> out;
  for (size_t i = 0; i < s.size(); ++i) {
    size_t n = IsHighSurrogate(s[i]) && i + 1 < s.size() && IsLowSurrogate(s[i + 1]) ? 2 : 1;
    out.push_back(UTF8Encode(s.substr(i, n)));
    i += n - 1;
  }
  return out;
}

// RFC 2047 "B" words in UTF-8, each at most 75 characters (45 bytes of text) and whole characters.
std::vector<String> EncodedWords(const String& text) {
  constexpr size_t kMaxBytes = 45;
  std::vector<String> words;
  std::string chunk;
  auto flush = [&] {
    if (!chunk.empty()) words.push_back(u"=?UTF-8?B?" + UTF8ToString(Encode64(std::string_view(chunk))) + u"?=");
    chunk.clear();
  };
  for (const std::string& ch : Utf8Characters(text)) {
    if (chunk.size() + ch.size() > kMaxBytes) flush();
    chunk += ch;
  }
  flush();
  return words;
}

// A mailbox for a From/To/Cc header: the display text, with a name that would otherwise be
// misread (a comma splits a list, non-ASCII needs encoding) quoted or encoded.
String HeaderMailbox(const TKtIEMailAddress& a) {
  const String& name = a.Name();
  if (name.empty() || SameText(name, a.Address())) return a.Address();
  String shown;
  if (!IsAscii(name)) {
    for (const String& w : EncodedWords(name)) shown += (shown.empty() ? u"" : u" ") + w;
  } else if (name.find_first_of(u"()<>[]:;@\\,.\"") != String::npos) {
    shown = u"\"";
    for (Char c : name) {
      if (c == u'"' || c == u'\\') shown += u'\\';
      shown += c;
    }
    shown += u"\"";
  } else {
    shown = name;
  }
  return shown + u" <" + a.Address() + u">";
}

// A parameter value between double quotes; quotes and backslashes inside are escaped.
String QuotedParam(const String& s) {
  String out = u"\"";
  for (Char c : s) {
    if (c == u'"' || c == u'\\') out += u'\\';
    out += c;
  }
  return out + u"\"";
}

// name="value", or RFC 2231's name*=UTF-8''... for names beyond ASCII.
String NameParam(const String& param, const String& value) {
  if (IsAscii(value)) return param + u"=" + QuotedParam(value);
  static const char* hex = "0123456789ABCDEF";
  String out = param + u"*=UTF-8''";
  for (unsigned char b : UTF8Encode(value)) {
    if (std::isalnum(b) || std::strchr("!#$&+-.^_`|~", b)) {
      out += static_cast<Char>(b);
    } else {
      out += u'%';
      out += static_cast<Char>(hex[b >> 4]);
      out += static_cast<Char>(hex[b & 15]);
    }
  }
  return out;
}

enum class TPartEncoding { Base64, QuotedPrintable, Lines };

TPartEncoding PartEncoding(const String& encoding, bool emptyIsBase64) {
  String e = LowerCase(Trim(encoding));
  if (e == u"base64" || (e.empty() && emptyIsBase64)) return TPartEncoding::Base64;
  if (e == u"quoted-printable") return TPartEncoding::QuotedPrintable;
  return TPartEncoding::Lines;
}

// Quoted-printable, line by line: hard breaks come from the caller, soft breaks keep every line
// within 76 characters.
class TQPEncoder {
 public:
  explicit TQPEncoder(std::function<void(const std::string&)> emit) : FEmit(std::move(emit)) {}
  void Put(unsigned char c) {
    std::string token;
    if ((c >= 33 && c <= 126 && c != '=') || c == ' ' || c == '\t') {
      token = std::string(1, static_cast<char>(c));
    } else {
      token = Hex(c);
    }
    if (FLine.size() + token.size() > 75) {
      FEmit(FLine + "=");
      FLine.clear();
    }
    FLine += token;
  }
  // Ends the current line; a blank at its end would be lost in transit, so it is encoded.
  void HardBreak() {
    if (!FLine.empty() && (FLine.back() == ' ' || FLine.back() == '\t')) {
      std::string token = Hex(static_cast<unsigned char>(FLine.back()));
      FLine.pop_back();
      if (FLine.size() + token.size() > 76) {
        FEmit(FLine + "=");
        FLine.clear();
      }
      FLine += token;
    }
    FEmit(FLine);
    FLine.clear();
  }

 private:
  static std::string Hex(unsigned char c) {
    static const char* hex = "0123456789ABCDEF";
    return std::string{'=', hex[c >> 4], hex[c & 15]};
  }
  std::function<void(const std::string&)> FEmit;
  std::string FLine;
};

// Splits a byte stream into lines at CR LF, CR or LF, across chunks.
class TLineSplitter {
 public:
  explicit TLineSplitter(std::function<void(const std::string&)> emit) : FEmit(std::move(emit)) {}
  void Feed(const char* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      char c = p[i];
      if (c == '\n' && FAfterCR) {
        FAfterCR = false;
        continue;
      }
      FAfterCR = c == '\r';
      if (c == '\r' || c == '\n') {
        FEmit(FLine);
        FLine.clear();
      } else {
        FLine += c;
      }
    }
  }
  // A last line without a line end is still a line.
  void Finish() {
    if (!FLine.empty()) FEmit(FLine);
    FLine.clear();
  }

 private:
  std::function<void(const std::string&)> FEmit;
  std::string FLine;
  bool FAfterCR = false;
};

// An open attachment file, closed on every way out.
class TAttachmentFile {
 public:
  explicit TAttachmentFile(const String& fileName) : FName(fileName) {
    std::string path = UTF8Encode(fileName);
    do FHandle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (FHandle < 0 && errno == EINTR);
    if (FHandle < 0) Fail(u"Cannot open the attachment file ");
    struct stat st;
    if (::fstat(FHandle, &st) == 0 && S_ISDIR(st.st_mode)) {
      errno = EISDIR;
      Fail(u"Cannot open the attachment file ");
    }
  }
  ~TAttachmentFile() {
    if (FHandle >= 0) ::close(FHandle);
  }
  TAttachmentFile(const TAttachmentFile&) = delete;
  TAttachmentFile& operator=(const TAttachmentFile&) = delete;

  // Up to count bytes; 0 at the end.
  size_t Read(char* buf, size_t count) {
    for (;;) {
      ssize_t n = ::read(FHandle, buf, count);
      if (n >= 0) return static_cast<size_t>(n);
      if (errno != EINTR) Fail(u"Cannot read the attachment file ");
    }
  }

 private:
  [[noreturn]] void Fail(const String& what) {
    int code = errno;
    throw EFOpenError(what + FName + u": " + SysErrorMessage(code));
  }
  String FName;
  int FHandle = -1;
};

}  // namespace

// ---- construction ------------------------------------------------------------------------------

TKtISMTP::TKtISMTP(TComponent* AOwner)
    : TKtInetBase(AOwner),
      FBody(std::make_unique<TStringList>()),
      FFrom(std::make_unique<TKtIEMailAddress>()),
      FRecipients(std::make_unique<TKtIEMailAddresses>(this)),
      FCC(std::make_unique<TKtIEMailAddresses>(this)),
      FBCC(std::make_unique<TKtIEMailAddresses>(this)),
      FReplyTo(std::make_unique<TKtIEMailAddresses>(this)),
      FDate(ktinet::Now()),
      FLogin(std::make_unique<TKtILogin>()),
      FAttachments(std::make_unique<TKtIEMailAttachments>(this)) {
  SetPort(25);
}

TKtISMTP::~TKtISMTP() = default;

// ---- texts of the header block ---------------------------------------------------------------------

String TKtISMTP::LeadZero(int Value, int Width) {
  String s = IntToStr(Value);
  while (static_cast<int>(s.size()) < Width) s = u"0" + s;
  return s;
}

String TKtISMTP::TimeZoneText(int Bias) {
  if (Bias == 0) return u"GMT";
  int magnitude = Bias < 0 ? -Bias : Bias;
  return String(Bias < 0 ? u"+" : u"-") + LeadZero(magnitude / 60, 2) + LeadZero(magnitude % 60, 2);
}

String TKtISMTP::GetTimeZoneString() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (!::localtime_r(&now, &local)) return TimeZoneText(0);
  // tm_gmtoff already includes the daylight correction while daylight time is in force.
  return TimeZoneText(static_cast<int>(-local.tm_gmtoff / 60));
}

String TKtISMTP::EMailFormatDate(TDateTime Value) {
  static const char16_t* const days[] = {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};
  static const char16_t* const months[] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                           u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
  Word y, m, d, h, n, s, ms;
  DecodeDateTime(Value, y, m, d, h, n, s, ms);
  return String(days[DayOfWeek(Value) - 1]) + u", " + IntToStr(d) + u" " + months[m - 1] + u" " + IntToStr(y) + u" " +
         LeadZero(h, 2) + u":" + LeadZero(n, 2) + u":" + LeadZero(s, 2) + u" " + GetTimeZoneString();
}

String TKtISMTP::UniqueMessageID(const String& HostName) {
  static thread_local std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<int> letter(0, 19);
  String id = u"<" + FormatDateTime(u"yyyymmddhhnn", ktinet::Now());
  for (int i = 0; i < 8; ++i) id += static_cast<Char>(u'a' + letter(random));
  return id + u"@" + HostName + u">";
}

std::vector<String> TKtISMTP::EncodeSubject(const String& Subject) {
  if (IsAscii(Subject) && Subject.size() + 9 <= kMaxMailLine) return {Subject};
  return EncodedWords(Subject);
}

// ---- checks before anything is sent ------------------------------------------------------------

void TKtISMTP::BeforeExecute() {
  TKtInetBase::BeforeExecute();
  CheckMessage();
}

void TKtISMTP::CheckMessage() const {
  CheckEnvelopeAddress(FFrom->Address(), u"The sender's address");
  RefuseBreaks(FFrom->Name(), u"The sender's name");
  const std::pair<const TKtIEMailAddresses*, const char16_t*> lists[] = {
      {FRecipients.get(), u"A recipient's"}, {FCC.get(), u"A copy recipient's"},
      {FBCC.get(), u"A blind copy recipient's"}, {FReplyTo.get(), u"A reply-to"}};
  for (const auto& [list, what] : lists) {
    for (int i = 0; i < list->Count(); ++i) {
      CheckEnvelopeAddress(list->Items(i)->Address(), String(what) + u" address");
      RefuseBreaks(list->Items(i)->Name(), String(what) + u" name");
    }
  }
  RefuseBreaks(FSubject, u"The subject");
  RefuseBreaks(FCharSet, u"The charset");
  RefuseNonAscii(FCharSet, u"The charset");
  RefuseBreaks(FEncoding, u"The encoding");
  RefuseNonAscii(FEncoding, u"The encoding");

  const TCharsetKind kind = CharsetKind(FCharSet);
  std::string bytes;
  for (int i = 0; i < FBody->Count(); ++i) {
    size_t bad = 0;
    String line = FBody->Get(i);
    if (!EncodeInCharset(line, kind, bytes, bad))
      throw EConvertError(u"Line " + IntToStr(i + 1) + u" of the body holds the character U+" + IntToHex(line[bad], 4) +
                          u", which the charset " + FCharSet + u" cannot carry; choose a charset such as utf-8");
  }

  for (int i = 0; i < FAttachments->Count(); ++i) {
    const TKtIEMailAttachment* a = FAttachments->Items(i);
    String what = u"Attachment " + IntToStr(i + 1);
    RefuseBreaks(a->AttachmentName(), what + u"'s name");
    RefuseBreaks(a->FileName(), what + u"'s file name");
    RefuseBreaks(a->ContentType(), what + u"'s content type");
    RefuseNonAscii(a->ContentType(), what + u"'s content type");
    RefuseBreaks(a->Encoding(), what + u"'s encoding");
    RefuseNonAscii(a->Encoding(), what + u"'s encoding");
    // Opened and closed again: a file that cannot be read stops the message before MAIL FROM.
    TAttachmentFile probe(a->FileName());
  }
}

// ---- the line protocol ---------------------------------------------------------------------

bool TKtISMTP::SendData(const String& Line) {
  for (Char c : Line)
    if (c > 0xFF) throw EConvertError(u"The line \"" + Line + u"\" holds a character that cannot be sent as one byte");
  SendDataLine(StringToBytes(Line));
  return true;
}

void TKtISMTP::SendDataLine(const std::string& Bytes) {
  // Between DATA and the final dot a line that begins with a dot gets one more (RFC 5321
  // 4.5.2), so that no line of the message can end it early.
  if (FInData && !Bytes.empty() && Bytes[0] == '.') FOut += '.';
  if (FInData) FMessageSize += static_cast<Int64>(Bytes.size()) + 2;
  FOut += Bytes;
  FOut += "\r\n";
  if (FOut.size() >= kFlushAt) Flush();
}

void TKtISMTP::Flush() {
  if (FOut.empty()) return;
  std::string out;
  out.swap(FOut);
  if (FClientSocket->Socket()->SendBuf(out.data(), static_cast<int>(out.size())) <= 0)
    throw ESocketError(u"The connection to the mail server was lost while sending");
}

TKtISMTP::TReply TKtISMTP::ReadReply() {
  Flush();
  TReply reply;
  int continuations = 0;
  for (;;) {
    size_t lf;
    while ((lf = FIn.find('\n')) == std::string::npos) {
      // Room for the line's CR as well: the LF that ends it may be in the next read.
      if (FIn.size() > kMaxReplyLine + 1) throw Exception(u"The mail server sent a reply line longer than 4 KiB");
      char buf[4096];
      int n = ReceiveFromSocket(buf, sizeof buf);
      if (n <= 0)
        throw Exception(reply.Text.empty() && FIn.empty() ? u"The mail server closed the connection without a reply"
                                                          : u"The mail server closed the connection in the middle of a reply");
      FIn.append(buf, static_cast<size_t>(n));
    }
    std::string line = FIn.substr(0, lf);
    FIn.erase(0, lf + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (smtp_detail::AddReplyLine(line, reply.Code, reply.Text, continuations)) return reply;
  }
}

namespace smtp_detail {

bool AddReplyLine(const std::string& Line, int& Code, String& Text, int& Continuations) {
  if (Line.size() > kMaxReplyLine) throw Exception(u"The mail server sent a reply line longer than 4 KiB");
  bool wellFormed = Line.size() >= 3 && std::isdigit(static_cast<unsigned char>(Line[0])) &&
                    std::isdigit(static_cast<unsigned char>(Line[1])) &&
                    std::isdigit(static_cast<unsigned char>(Line[2])) &&
                    (Line.size() == 3 || Line[3] == ' ' || Line[3] == '-');
  if (!wellFormed) throw Exception(u"The mail server sent a malformed reply: " + BytesToString(Line));
  if (Text.empty()) Code = std::stoi(Line.substr(0, 3));
  else Text += u"\r\n";
  Text += BytesToString(Line);
  if (Line.size() == 3 || Line[3] == ' ') return true;
  if (++Continuations > kMaxContinuations)
    throw Exception(u"The mail server sent a reply of more than 100 continuation lines");
  return false;
}

}  // namespace smtp_detail

TKtISMTP::TReply TKtISMTP::Command(const String& Line, std::initializer_list<int> Expected) {
  SendData(Line);
  TReply reply = ReadReply();
  for (int code : Expected)
    if (reply.Code == code) return reply;
  // The server's own words tell the user what was refused; the lines of a long reply join up.
  String text = reply.Text;
  for (size_t at; (at = text.find(u"\r\n")) != String::npos;) text.replace(at, 2, u" ");
  throw Exception(text);
}

void TKtISMTP::StartTlsHere() {
  TTlsOptions options;
  options.ServerName = FServerName;
  options.CAFile = FCACertFile;
  options.Verify = !FIgnoreCertificateErrors;
  StartTls(*FClientSocket, options);
}

void TKtISMTP::Greet() {
  String host = GetLocalHost();
  // HELO and EHLO need a name; a machine without one greets as localhost.
  if (host.empty()) host = u"localhost";
  const bool upgrade = FUseTLS == utStartTLS && !IsTlsActive(*FClientSocket);
  // AUTH and STARTTLS are extensions: standard servers offer them only after EHLO.
  if (!FLogin->UseLogin() && FUseTLS != utStartTLS) {
    Command(u"HELO " + host, {250});
    return;
  }
  SendData(u"EHLO " + host);
  TReply ehlo = ReadReply();
  if (ehlo.Code != 250) {
    if (upgrade) throw Exception(u"The mail server does not offer STARTTLS (it refused EHLO: " + ehlo.Text + u")");
    Command(u"HELO " + host, {250});
    return;
  }
  if (!upgrade) return;
  bool offered = false;
  for (const String& line : SplitLines(ehlo.Text)) {
    String keyword = UpperCase(Trim(line.size() > 4 ? line.substr(4) : String()));
    if (keyword == u"STARTTLS" || StartsText(u"STARTTLS ", keyword)) offered = true;
  }
  if (!offered) {
    String text = ehlo.Text;
    for (size_t at; (at = text.find(u"\r\n")) != String::npos;) text.replace(at, 2, u" ");
    throw Exception(u"The mail server does not offer STARTTLS; the message is not sent in clear text (" + text + u")");
  }
  Command(u"STARTTLS", {220});
  // Bytes after the 220 came in clear text and could pose as replies from inside TLS.
  if (!FIn.empty()) throw Exception(u"The mail server sent data after its STARTTLS reply; the connection is given up");
  StartTlsHere();
  Command(u"EHLO " + host, {250});
}

void TKtISMTP::Connect() {
  const bool fresh = !FConnected;
  if (fresh) {
    // Taken before the base connect, which may point the socket at a proxy instead.
    FServerName = FHost.empty() ? FAddress : FHost;
    FIn.clear();
    FOut.clear();
    FInData = false;
    FLoggedIn = false;
  }
  TKtInetBase::Connect();
  try {
    if (fresh) {
      if (FUseTLS == utImplicit) StartTlsHere();
      TReply greeting = ReadReply();
      if (greeting.Code != 220) throw Exception(greeting.Text);
    }
    Greet();
  } catch (...) {
    // A session that failed while greeting is in no state to carry a message.
    FIn.clear();
    FOut.clear();
    if (FClientSocket->Socket()->Connected()) FClientSocket->Close();
    FConnected = false;
    throw;
  }
}

void TKtISMTP::Disconnect() {
  if (FConnected) {
    FInData = false;
    FOut.clear();
    const int readTimeout = ReadTimeout();
    try {
      SendData(u"QUIT");
      if (readTimeout == 0) SetReadTimeout(kQuitWaitMs);
      // The message was accepted before this: whatever the goodbye brings cannot undo that.
      ReadReply();
    } catch (const std::exception&) {
    }
    SetReadTimeout(readTimeout);
  }
  FIn.clear();
  FOut.clear();
  FLoggedIn = false;
  TKtInetBase::Disconnect();
}

String TKtISMTP::InternalExecute() {
  Send();
  return String();
}

// ---- the message ---------------------------------------------------------------------------

void TKtISMTP::Send() {
  CheckMessage();
  FLastReply.clear();
  FMessageSize = 0;
  Command(u"RSET", {250});
  if (FLogin->UseLogin() && !FLoggedIn) {
    // A server refuses a second AUTH on the same session: a kept connection logs in once.
    Command(u"auth LOGIN", {334});
    Command(UTF8ToString(Encode64(std::string_view(UTF8Encode(FLogin->UserID())))), {334});
    Command(UTF8ToString(Encode64(std::string_view(UTF8Encode(FLogin->Password())))), {235});
    FLoggedIn = true;
  }
  const std::vector<std::string> body = BodyLines();
  const String bodyEncoding = BodyEncoding(body);
  Command(u"MAIL FROM:<" + FFrom->Address() + u">", {250});
  for (const TKtIEMailAddresses* list : {FRecipients.get(), FCC.get(), FBCC.get()})
    for (int i = 0; i < list->Count(); ++i) Command(u"RCPT TO:<" + list->Items(i)->Address() + u">", {250, 251});
  Command(u"DATA", {354});

  FInData = true;
  try {
    SendHeaders();
    if (FAttachments->Count() == 0) {
      SendData(u"Content-Type: Text/Plain; charset=" + FCharSet);
      SendData(u"Content-Transfer-Encoding: " + bodyEncoding);
      SendData(String());
      SendBodyText(body, bodyEncoding);
    } else {
      SendData(u"Content-Type: multipart/mixed; boundary=\"" + String(kBoundary) + u"\"");
      SendData(String());
      SendData(kDelimiter);
      SendData(u"Content-Type: Text/Plain; charset=" + FCharSet);
      SendData(u"Content-Transfer-Encoding: " + bodyEncoding);
      SendData(String());
      SendBodyText(body, bodyEncoding);
      for (int i = 0; i < FAttachments->Count(); ++i) SendAttachment(*FAttachments->Items(i));
      SendData(String());
      SendData(String(kDelimiter) + u"--");
    }
    SendData(String());
    FInData = false;
    SendData(u".");
  } catch (...) {
    // Without the final dot the server discards what it got; the connection is closed so that
    // nothing later can complete the half-sent message.
    FInData = false;
    FOut.clear();
    FIn.clear();
    if (FClientSocket->Socket()->Connected()) FClientSocket->Close();
    FConnected = false;
    throw;
  }
  TReply end = ReadReply();
  if (end.Code == 250) FLastReply = end.Text;
  if (end.Code != 250) {
    String text = end.Text;
    for (size_t at; (at = text.find(u"\r\n")) != String::npos;) text.replace(at, 2, u" ");
    throw Exception(text);
  }
}

void TKtISMTP::SendHeaders() {
  SendData(u"Message-Id: " + UniqueMessageID(GetLocalHost()));
  // Long lists fold after a comma, keeping lines near the recommended 78 characters.
  auto list = [this](const char16_t* field, const TKtIEMailAddresses& addresses,
                     String (*shown)(const TKtIEMailAddress&)) {
    if (addresses.Count() == 0) return;
    String line = field;
    for (int i = 0; i < addresses.Count(); ++i) {
      String mailbox = shown(*addresses.Items(i));
      if (i == 0) {
        line += mailbox;
      } else if (line.size() + 2 + mailbox.size() > 78) {
        SendData(line + u",");
        line = u" " + mailbox;
      } else {
        line += u", " + mailbox;
      }
    }
    SendData(line);
  };
  // One Reply-To line with every address: readers take only the first of several such lines.
  list(u"Reply-To: ", *FReplyTo, [](const TKtIEMailAddress& a) { return u"<" + a.Address() + u">"; });
  if (!FFrom->Address().empty()) SendData(u"From: " + HeaderMailbox(*FFrom));
  list(u"To: ", *FRecipients, HeaderMailbox);
  list(u"Cc: ", *FCC, HeaderMailbox);
  SendData(u"Date: " + EMailFormatDate(FDate));
  SendData(u"X-Priority: " + IntToStr(static_cast<int>(FPriority) + 1));
  SendData(kMailer);
  if (!FSubject.empty()) {
    std::vector<String> words = EncodeSubject(FSubject);
    SendData(u"Subject: " + words[0]);
    for (size_t i = 1; i < words.size(); ++i) SendData(u" " + words[i]);
  }
  SendData(u"MIME-Version: 1.0");
}

std::vector<std::string> TKtISMTP::BodyLines() const {
  TCharsetKind kind = CharsetKind(FCharSet);
  std::vector<std::string> lines;
  std::string bytes;
  for (int i = 0; i < FBody->Count(); ++i) {
    for (const String& line : SplitLines(FBody->Get(i))) {
      size_t bad = 0;
      if (!EncodeInCharset(line, kind, bytes, bad))
        throw EConvertError(u"The body holds a character the charset " + FCharSet + u" cannot carry");
      lines.push_back(bytes);
    }
  }
  return lines;
}

String TKtISMTP::BodyEncoding(const std::vector<std::string>& Lines) const {
  if (PartEncoding(FEncoding, false) != TPartEncoding::Lines) return FEncoding;
  // A line that begins with a dot grows by one on the wire.
  for (const std::string& line : Lines)
    if (line.size() + (!line.empty() && line[0] == '.') > kMaxMailLine) return u"quoted-printable";
  return FEncoding;
}

void TKtISMTP::SendBodyText(const std::vector<std::string>& lines, const String& encoding) {
  switch (PartEncoding(encoding, false)) {
    case TPartEncoding::Lines:
      for (const std::string& line : lines) SendDataLine(line);
      break;
    case TPartEncoding::QuotedPrintable: {
      TQPEncoder qp([this](const std::string& l) { SendDataLine(l); });
      for (const std::string& line : lines) {
        for (unsigned char c : line) qp.Put(c);
        qp.HardBreak();
      }
      break;
    }
    case TPartEncoding::Base64: {
      std::string all;
      for (size_t i = 0; i < lines.size(); ++i) all += (i ? "\r\n" : "") + lines[i];
      for (size_t at = 0; at < all.size(); at += kBase64LineBytes)
        SendDataLine(Encode64(std::string_view(all).substr(at, kBase64LineBytes)));
      break;
    }
  }
}

void TKtISMTP::SendAttachment(const TKtIEMailAttachment& A) {
  TAttachmentFile file(A.FileName());
  SendData(kDelimiter);
  SendData(u"Content-Type: " + A.ContentType() + u"; " + NameParam(u"name", A.GetAttachmentName()));
  SendData(u"Content-Transfer-Encoding: " + (Trim(A.Encoding()).empty() ? String(u"base64") : A.Encoding()));
  // The name alone: the sender's folders are nobody else's business, and readers drop them anyway.
  SendData(u"Content-Disposition: attachment; " + NameParam(u"filename", A.FileNamePart()));
  SendData(String());

  std::string buf(kReadChunk, '\0');
  auto emit = [this](const std::string& l) { SendDataLine(l); };
  switch (PartEncoding(A.Encoding(), true)) {
    case TPartEncoding::Base64: {
      // The file streams through in whole 57-byte lines; only the last one may be shorter.
      std::string pending;
      for (;;) {
        size_t n = file.Read(buf.data(), buf.size());
        pending.append(buf.data(), n);
        size_t whole = n == 0 ? pending.size() : pending.size() - pending.size() % kBase64LineBytes;
        for (size_t at = 0; at < whole; at += kBase64LineBytes)
          SendDataLine(Encode64(std::string_view(pending).substr(at, std::min(kBase64LineBytes, whole - at))));
        pending.erase(0, whole);
        if (n == 0) break;
      }
      break;
    }
    case TPartEncoding::QuotedPrintable: {
      TQPEncoder qp(emit);
      TLineSplitter lines([&qp](const std::string& l) {
        for (unsigned char c : l) qp.Put(c);
        qp.HardBreak();
      });
      while (size_t n = file.Read(buf.data(), buf.size())) lines.Feed(buf.data(), n);
      lines.Finish();
      break;
    }
    case TPartEncoding::Lines: {
      TLineSplitter lines(emit);
      while (size_t n = file.Read(buf.data(), buf.size())) lines.Feed(buf.data(), n);
      lines.Finish();
      break;
    }
  }
}

const TClassInfo* TKtISMTP::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtISMTP>(u"TKtISMTP", TKtInetBase::StaticClassInfo())
      .Component()
      .Property(u"Subject", &TKtISMTP::Subject, &TKtISMTP::SetSubject)
      .Property(u"Body", &TKtISMTP::Body)
      .Property(u"From", &TKtISMTP::From)
      .Property(u"Recipients", &TKtISMTP::Recipients)
      .Property(u"CC", &TKtISMTP::CC)
      .Property(u"BCC", &TKtISMTP::BCC)
      .Property(u"ReplyTo", &TKtISMTP::ReplyTo)
      .Property(u"CharSet", &TKtISMTP::CharSet, &TKtISMTP::SetCharSet)
      .Property(u"Encoding", &TKtISMTP::Encoding, &TKtISMTP::SetEncoding)
      .Property(u"Priority", &TKtISMTP::Priority, &TKtISMTP::SetPriority).Default(spNormal)
      .Property(u"Date", &TKtISMTP::Date, &TKtISMTP::SetDate)
      .Property(u"Login", &TKtISMTP::Login)
      .Property(u"Attachments", &TKtISMTP::Attachments)
      .Property(u"UseTLS", &TKtISMTP::UseTLS, &TKtISMTP::SetUseTLS).Default(utNone)
      .Property(u"CACertFile", &TKtISMTP::CACertFile, &TKtISMTP::SetCACertFile)
      .Build();
  return info;
}

}  // namespace ktinet
