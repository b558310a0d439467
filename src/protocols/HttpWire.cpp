#include "protocols/HttpWire.h"

#include <algorithm>
#include <cctype>

#include "rtl/Exceptions.h"
#include "rtl/SysUtils.h"

namespace ktinet {

namespace {

constexpr char kHttpPrefix[] = "HTTP/";
constexpr size_t kHttpPrefixSize = sizeof kHttpPrefix - 1;

bool StartsNoCase(const std::string& line, const char* name) {
  size_t n = std::char_traits<char>::length(name);
  if (line.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(line[i])) != name[i]) return false;
  return true;
}

std::string TrimBlanks(const std::string& s) {
  size_t from = s.find_first_not_of(" \t");
  if (from == std::string::npos) return std::string();
  size_t to = s.find_last_not_of(" \t");
  return s.substr(from, to - from + 1);
}

}  // namespace

String HttpAuthority(const String& Host, int Port) {
  String host = Host.find(u':') != String::npos ? u"[" + Host + u"]" : Host;
  if (Port != 80) host += u":" + IntToStr(Port);
  return host;
}

void THttpAnswerScanner::Reset(bool HeadRequest) {
  *this = THttpAnswerScanner();
  FHead = HeadRequest;
}

Int64 THttpAnswerScanner::ContentLength() const { return FTransferEncoding || FLengthBad ? -1 : FLength; }

size_t THttpAnswerScanner::Feed(const char* Data, size_t Count, bool& Complete) {
  size_t i = 0;
  for (; i < Count && (FMode == kUndecided || FMode == kHeaders); ++i) {
    const char c = Data[i];
    if (FAfterCR) {
      FAfterCR = false;
      if (c == '\n') {
        ++FHeaderBytes;
        continue;
      }
    }
    if (++FHeaderBytes > static_cast<Int64>(MaxHeaderBlock))
      throw Exception(u"The answer's header lines are longer than " + IntToStr(static_cast<Int64>(MaxHeaderBlock)) +
                      u" bytes together; reading stopped");
    if (c == '\r' || c == '\n') {
      // A first line that ends before "HTTP/" is whole is no status line.
      if (FMode == kUndecided) {
        FMode = kRaw;
        return Count;
      }
      FAfterCR = c == '\r';
      EndLine();
      continue;
    }
    FLine.push_back(c);
    if (FLine.size() > MaxHeaderLine)
      throw Exception(u"A header line of the answer is longer than " + IntToStr(static_cast<Int64>(MaxHeaderLine)) +
                      u" bytes; reading stopped");
    if (FMode == kUndecided) {
      if (c != kHttpPrefix[FLine.size() - 1]) {
        FMode = kRaw;
        return Count;
      }
      if (FLine.size() == kHttpPrefixSize) FMode = kHeaders;
    }
  }
  if (FMode == kRaw) return Count;
  if (FMode == kBody) {
    if (FAfterCR) {
      // The empty line ended with CR at the end of a read: its LF may be the next byte.
      if (i == Count) return Count;
      FAfterCR = false;
      if (Data[i] == '\n') {
        ++i;
        ++FHeaderBytes;
      }
    }
    const size_t avail = Count - i;
    if (FBodyExpected < 0) {
      FBodyBytes += static_cast<Int64>(avail);
      return Count;
    }
    const size_t take = static_cast<size_t>(std::min<Int64>(static_cast<Int64>(avail), FBodyExpected - FBodyBytes));
    FBodyBytes += static_cast<Int64>(take);
    i += take;
    if (FBodyBytes == FBodyExpected) FMode = kDone;
  }
  if (FMode == kDone) {
    Complete = true;
    return i;
  }
  return Count;
}

void THttpAnswerScanner::EndLine() {
  if (FFirstLine) {
    FFirstLine = false;
    // "HTTP/1.1 200 OK": exactly three digits after the first space.
    size_t space = FLine.find(' ');
    if (space != std::string::npos && FLine.size() >= space + 4) {
      int status = 0;
      for (size_t k = space + 1; k < space + 4 && status >= 0; ++k)
        status = std::isdigit(static_cast<unsigned char>(FLine[k])) ? status * 10 + (FLine[k] - '0') : -1;
      if (status > 0 && (FLine.size() == space + 4 || FLine[space + 4] == ' ')) FStatus = status;
    }
  } else if (FLine.empty()) {
    StartBody();
  } else if (StartsNoCase(FLine, "content-length:")) {
    std::string value = TrimBlanks(FLine.substr(15));
    // At most 18 digits fit the count; anything else (signs, exponents, hexadecimal) is no length.
    if (value.empty() || value.size() > 18 || value.find_first_not_of("0123456789") != std::string::npos) {
      FLengthBad = true;
    } else {
      Int64 length = std::stoll(value);
      if (FLength >= 0 && FLength != length) FLengthBad = true;
      FLength = length;
    }
  } else if (StartsNoCase(FLine, "transfer-encoding:")) {
    FTransferEncoding = true;
  }
  FLine.clear();
}

void THttpAnswerScanner::StartBody() {
  FMode = kBody;
  if (FHead || FStatus == 204 || FStatus == 304) FBodyExpected = 0;
  // An interim answer (1xx) is followed by the real one: the end is the server's close.
  else if (FStatus >= 100 && FStatus < 200) FBodyExpected = -1;
  else FBodyExpected = ContentLength();
  if (FBodyExpected == 0 && !FAfterCR) FMode = kDone;
}

void THttpAnswerScanner::Finish() const {
  if (FMode == kBody && FBodyExpected >= 0 && FBodyBytes < FBodyExpected)
    throw Exception(u"The answer was cut short: " + IntToStr(FBodyBytes) + u" of the " + IntToStr(FBodyExpected) +
                    u" body bytes its Content-Length announces arrived");
}

}  // namespace ktinet
