// The socket HTTP client's reading of an answer over arbitrary bytes: the scanner that follows
// the answer read by read (fed in chunks cut where the input says), the status check of the first
// line, and the split into header lines and body. The scanner either raises Exception at a limit
// or takes the bytes; it never claims more than it was given, and a complete answer stays so.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocols/KtIHTTP.h"
#include "rtl/Exceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first byte chooses the request (HEAD or not) and the read size.
  const bool head = data[0] & 1;
  const std::size_t chunk = 1 + (data[0] >> 1);
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  ktinet::THttpAnswerScanner scanner;
  scanner.Reset(head);
  std::size_t taken = 0;
  bool complete = false;
  try {
    for (std::size_t at = 0; at < bytes.size() && !complete; at += chunk) {
      const std::size_t n = std::min(chunk, bytes.size() - at);
      const std::size_t used = scanner.Feed(bytes.data() + at, n, complete);
      if (used > n || (!complete && used != n)) std::abort();
      taken += used;
    }
    if (!complete) scanner.Finish();
    if (scanner.BodyBytes() > static_cast<ktinet::Int64>(taken) || scanner.HeaderBytes() > static_cast<ktinet::Int64>(taken))
      std::abort();
    if (complete && scanner.ContentLength() >= 0 && !head && scanner.BodyBytes() != scanner.ContentLength() &&
        scanner.Status() != 204 && scanner.Status() != 304)
      std::abort();
  } catch (const ktinet::Exception&) {
  }

  // The status check looks at the first line only.
  const std::string firstLine = bytes.substr(0, bytes.find_first_of("\r\n"));
  const int status = ktinet::TKtInetBase::StatusOfFirstLine(firstLine);
  try {
    ktinet::TKtInetBase::CheckAnswerStatus(status);
    if (status == 401 || status == 404 || status == 407) std::abort();
  } catch (const ktinet::Exception&) {
    if (status != 401 && status != 404 && status != 407) std::abort();
  }

  ktinet::TStringList headers;
  ktinet::String body;
  const ktinet::String answer = ktinet::BytesToString(bytes);
  ktinet::SplitHTTPAnswer(answer, headers, &body);
  if (static_cast<std::size_t>(headers.Count()) > answer.size() + 1) std::abort();
  return 0;
}
