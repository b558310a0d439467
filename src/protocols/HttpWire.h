// What the socket components that speak HTTP/1.0 (the HTTP client and the weather query) share:
// the Host line's authority, and a scanner that follows an answer as it arrives, so that reading
// stops where the answer ends, header lines and blocks stay within bounds, and a body shorter
// than its Content-Length is told apart from a whole one.
#pragma once

#include <cstddef>
#include <string>

#include "rtl/System.h"

namespace ktinet {

// A host and port as a Host line and an absolute URL write them: an IPv6 address in brackets,
// and ":port" unless the port is HTTP's own 80.
String HttpAuthority(const String& Host, int Port);

// Follows one HTTP answer, byte by byte as the reads bring it. An answer that does not begin
// with "HTTP/" is not HTTP/1.x: it is left alone and ends when the server closes.
class THttpAnswerScanner {
 public:
  // The longest header line, and the most bytes of status line and header lines together.
  static constexpr size_t MaxHeaderLine = 64 * 1024;
  static constexpr size_t MaxHeaderBlock = 256 * 1024;

  // Starts a new answer; the answer to a HEAD request carries no body whatever it announces.
  void Reset(bool HeadRequest);
  // Takes the next bytes of the answer. Returns how many of them belong to it (all of them until
  // it is complete) and sets Complete once the whole answer is in. Raises Exception when a header
  // line or the header block passes its limit.
  size_t Feed(const char* Data, size_t Count, bool& Complete);
  // The server closed the connection (or reading stopped) here: raises Exception naming what is
  // missing when the body is shorter than its Content-Length.
  void Finish() const;

  // The answer began with "HTTP/".
  bool IsHttp() const { return FMode != kUndecided && FMode != kRaw; }
  // The empty line after the header lines has come.
  bool HeadersDone() const { return FMode == kBody || FMode == kDone; }
  // Bytes of the status line, header lines and the empty line after them.
  Int64 HeaderBytes() const { return FHeaderBytes; }
  // The status of the status line (0 before it is whole).
  int Status() const { return FStatus; }
  // The body's length from a well-formed Content-Length line, -1 when there is none (or the
  // answer carries a Transfer-Encoding, which overrides it).
  Int64 ContentLength() const;
  // Body bytes taken so far.
  Int64 BodyBytes() const { return FBodyBytes; }

 private:
  enum TMode { kUndecided, kRaw, kHeaders, kBody, kDone };
  void EndLine();
  void StartBody();

  TMode FMode = kUndecided;
  bool FHead = false;
  std::string FLine;          // the header line under way
  bool FFirstLine = true;
  bool FAfterCR = false;      // the last byte ended a line with CR: an LF right after belongs to it
  Int64 FHeaderBytes = 0;
  int FStatus = 0;
  Int64 FLength = -1;         // from Content-Length
  bool FLengthBad = false;    // malformed or contradicting Content-Length lines
  bool FTransferEncoding = false;
  Int64 FBodyExpected = -1;   // -1: until the server closes
  Int64 FBodyBytes = 0;
};

}  // namespace ktinet
