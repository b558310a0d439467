// TKtInetDateTime: the date and time from a daytime server (TCP port 13) in the NIST format.
//
// The server speaks first: nothing is sent, the answer is read until the server closes and its
// date and time fields are taken as they stand (UTC for NIST servers; no zone conversion).
#pragma once

#include "core/KtInBase.h"
#include "rtl/DateTime.h"
#include "rtl/TypInfo.h"

namespace ktinet {

class TKtInetDateTime : public TKtInetBase {
  KTINET_PUBLISHED(TKtInetDateTime)
 public:
  explicit TKtInetDateTime(TComponent* AOwner);

  // Every read performs a whole exchange with the server. An answer without a date, and an
  // Execute that ended in an error text (LastError), give 2001-01-01 01:01:01; a field that is
  // no valid date or time part raises EConvertError.
  TDateTime DateTime() { return GetDateTime(); }

  // The longest answer taken: a daytime answer is one short line, so anything longer is no
  // daytime server's and ends Execute with an error text.
  static constexpr size_t MaxAnswer = 4096;

 protected:
  virtual TDateTime GetDateTime();
  void AnswerStarted() override { FAnswerBytes = 0; }
  size_t AnswerReceived(const char* Data, size_t Count, bool& Complete) override;

 private:
  size_t FAnswerBytes = 0;
};

// The date and time of a NIST daytime answer ("\n61000 20-12-06 13:34:51 00 0 0  0.0 UTC(NIST) *\n"):
// the digits between the separators (space, '-', ':') after the day number, up to the seventh
// separator. The last character of the text is never examined, empty parts count as 1, and a
// year of one to three digits is widened (20 -> 2020, 7 -> 2007). Raises EConvertError for a
// part that is not a valid date or time component.
TDateTime NISTDaytimeToDateTime(const String& Text);

}  // namespace ktinet
