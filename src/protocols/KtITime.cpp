#include "protocols/KtITime.h"

#include "rtl/Exceptions.h"

namespace ktinet {

namespace {

// A part as the date encoders take it. The encoders hold 16-bit values: a larger number would
// silently wrap into a valid-looking date, so it is refused like any other bad part.
Word PartValue(const String& part) {
  int value = StrToInt(part);
  if (value < 0 || value > 0xFFFF)
    throw EConvertError(u"'" + part + u"' is not a valid date or time component");
  return static_cast<Word>(value);
}

}  // namespace

TKtInetDateTime::TKtInetDateTime(TComponent* AOwner) : TKtInetBase(AOwner) {
  SetPort(13);
  SetHost(u"time.nist.gov");
}

TDateTime TKtInetDateTime::GetDateTime() {
  String text = Execute();
  // An error text is no answer: the digits of "longer than 4096 bytes" must not be read as a
  // date, nor make the date encoder raise in place of the error LastError names.
  if (!LastError().empty()) text.clear();
  return NISTDaytimeToDateTime(text);
}

size_t TKtInetDateTime::AnswerReceived(const char*, size_t Count, bool&) {
  FAnswerBytes += Count;
  if (FAnswerBytes > MaxAnswer)
    throw Exception(u"The daytime answer is longer than " + IntToStr(static_cast<long long>(MaxAnswer)) +
                    u" bytes: no daytime server sends that much; reading stopped");
  return Count;
}

TDateTime NISTDaytimeToDateTime(const String& Text) {
  // year, month, day, hour, minute, second
  String parts[6];
  int separators = 0;
  // The final character (the closing line feed of a NIST line) is left out of the walk.
  for (size_t i = 0; i + 1 < Text.size() && separators < 7; ++i) {
    Char c = Text[i];
    if (c == u' ' || c == u'-' || c == u':')
      ++separators;
    else if (c >= u'0' && c <= u'9' && separators >= 1 && separators <= 6)
      parts[separators - 1] += c;
  }
  for (String& part : parts)
    if (part.empty()) part = u"1";
  String& year = parts[0];
  while (year.size() < 3) year.insert(year.begin(), u'0');
  if (year.size() < 4) year.insert(year.begin(), u'2');

  return EncodeDate(PartValue(parts[0]), PartValue(parts[1]), PartValue(parts[2])) +
         EncodeTime(PartValue(parts[3]), PartValue(parts[4]), PartValue(parts[5]), 0);
}

const TClassInfo* TKtInetDateTime::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtInetDateTime>(u"TKtInetDateTime", TKtInetBase::StaticClassInfo())
      .Component()
      .Property(u"DateTime", &TKtInetDateTime::DateTime)
      .Build();
  return info;
}

}  // namespace ktinet
