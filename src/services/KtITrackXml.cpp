#include "services/KtITrackXml.h"

#include <string_view>
#include <vector>

#include "core/ktiutil.h"
#include "rtl/SysUtils.h"

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

namespace track_detail {
namespace {

// The first element at or below Root whose name, without a namespace prefix, is Local (ignoring
// case); searched without recursion, as the answer's depth is the server's choice.
TKtXMLItem* FindLocal(TKtXMLItem* Root, std::u16string_view Local) {
  std::vector<TKtXMLItem*> stack;
  if (Root) stack.push_back(Root);
  while (!stack.empty()) {
    TKtXMLItem* item = stack.back();
    stack.pop_back();
    std::u16string_view name = item->TagNameView();
    if (size_t colon = name.rfind(u':'); colon != std::u16string_view::npos) name.remove_prefix(colon + 1);
    if (SameText(String(name), String(Local))) return item;
    TKtXMLItems* children = item->Items();
    for (int i = children->Count() - 1; i >= 0; --i) stack.push_back(children->Items(i));
  }
  return nullptr;
}

String TextUnder(TKtXMLItem* Root, std::u16string_view Local) {
  TKtXMLItem* item = FindLocal(Root, Local);
  return item ? Trim(item->GetTagValue()) : String();
}

}  // namespace
}  // namespace track_detail

String XMLServiceError(const String& Answer) {
  using track_detail::FindLocal;
  using track_detail::TextUnder;
  if (Answer.empty()) return String();
  TKtXMLEngine engine(nullptr);
  engine.ParseXMLFromString(Answer, static_cast<Integer>(Answer.size()));
  TKtXMLItem* root = engine.RootItem();
  if (TKtXMLItem* fault = FindLocal(root, u"Fault")) {
    String text = TextUnder(fault, u"faultstring");
    if (text.empty()) text = TextUnder(FindLocal(fault, u"Reason"), u"Text");
    return text.empty() ? String(u"SOAP fault") : text;
  }
  // A warning rides along with a good answer.
  if (TKtXMLItem* error = FindLocal(root, u"Error"); error && !SameText(TextUnder(error, u"ErrorSeverity"), u"Warning")) {
    String text = TextUnder(error, u"ErrorDescription");
    String code = TextUnder(error, u"ErrorCode");
    if (text.empty() && code.empty()) text = Trim(error->GetTagValue());
    if (!code.empty()) text += (text.empty() ? u"error " : u" (error ") + code + (text.empty() ? u"" : u")");
    return text.empty() ? String(u"error") : text;
  }
  return String();
}

String TrackServiceError(std::uint32_t HttpStatus, const String& StatusLine, const String& Answer) {
  String text = XMLServiceError(Answer);
  if (text.empty() && HttpStatus >= 400)
    text = u"the service answered " + (StatusLine.empty() ? IntToStr(static_cast<long long>(HttpStatus)) : StatusLine);
  return text;
}

}  // namespace ktinet
