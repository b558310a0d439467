#include "services/KtITrackXml.h"

#include "core/ktiutil.h"

namespace ktinet {

namespace track_detail {

String ValueUnder(const TKtXMLEngine& Engine, TKtXMLItem* X, const String& Tag) {
  TKtXMLItem* item = Engine.GetItemByTag(X, Tag);
  return item ? item->GetTagValue() : String();
}

namespace {

// Reads fixed-width decimal fields from the start of S; false when a character is not a digit.
template <int N>
bool ReadFields(const String& S, const int (&widths)[N], int (&parts)[N]) {
  std::size_t at = 0;
  for (int p = 0; p < N; ++p) {
    parts[p] = 0;
    for (int k = 0; k < widths[p]; ++k, ++at) {
      if (at >= S.size()) return false;
      Char c = S[at];
      if (c < u'0' || c > u'9') return false;
      parts[p] = parts[p] * 10 + (c - u'0');
    }
  }
  return true;
}

}  // namespace

bool ReadYYYYMMDD(const String& S, TDateTime& Out) {
  int parts[3];
  if (!ReadFields(S, {4, 2, 2}, parts)) return false;
  return TryEncodeDate(static_cast<Word>(parts[0]), static_cast<Word>(parts[1]), static_cast<Word>(parts[2]), Out);
}

bool ReadHHMMSS(const String& S, TDateTime& Out) {
  int parts[3];
  if (!ReadFields(S, {2, 2, 2}, parts)) return false;
  return TryEncodeTime(static_cast<Word>(parts[0]), static_cast<Word>(parts[1]), static_cast<Word>(parts[2]), 0, Out);
}

}  // namespace track_detail

namespace ups_detail {

String TrackRequestBody(const String& AccessLicenseNumber, const String& Agent, const String& TrackingNumber) {
  return u"<?xml version=\"1.0\"?><AccessRequest xml:lang=\"en-US\"><AccessLicenseNumber>" + XmlEscapeText(AccessLicenseNumber) +
         u"</AccessLicenseNumber>\r\n"
         u"<UserId>qzq</UserId><Password>qzq</Password></AccessRequest>\r\n"
         u"<?xml version=\"1.0\"?><TrackRequest xml:lang=\"en-US\"><Request><TransactionReference>\r\n"
         u"<CustomerContext>" + XmlEscapeText(Agent) + u"</CustomerContext><XpciVersion>1.0</XpciVersion></TransactionReference>\r\n"
         u"<RequestAction>Track</RequestAction><RequestOption>activity</RequestOption></Request>\r\n"
         u"<TrackingNumber>#" + XmlEscapeText(TrackingNumber) + u"</TrackingNumber></TrackRequest>";
}

}  // namespace ups_detail

}  // namespace ktinet
