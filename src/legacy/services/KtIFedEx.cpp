#include "services/KtIFedEx.h"

#include "core/ktiutil.h"
#include "rtl/SysUtils.h"
#include "services/KtITrackXml.h"

namespace ktinet {

TKtFedExTracker::TKtFedExTracker(TComponent* AOwner)
    : TKtInetBase(AOwner), FShipmentInfo(std::make_unique<TStringList>()), FActivity(std::make_unique<TStringList>()) {
  SetPort(80);
  SetHost(DefaultHost);
}

TKtFedExTracker::~TKtFedExTracker() = default;

void TKtFedExTracker::Connect() {
  if (FConnected && !FKeepConnection) Disconnect();
  TKtInetBase::Connect();
}

String TKtFedExTracker::GetQuery() {
  FShipmentInfo->Clear();
  FActivity->Clear();
  FHttpStatus = 0;
  FServiceError.clear();
  // Only blanks are encoded: the numbers the site issues carry nothing else that needs it.
  String path = TrackingPath + StringReplace(FTrackingNumber, u" ", u"%20", rfReplaceAll);
  // A proxy is asked for the page by its absolute address.
  if (FProxy->UseProxy() && !FProxy->Server().empty()) path = SiteAddress + path;
  return u"GET " + path + u"   HTTP/1.0\r\nHost: " + DefaultHost + u"\r\n";
}

namespace {

// The stretch of Page between the end of the marker Begin and the start of End; empty when one of
// them is missing or they stand in the wrong order (the page then has no such section).
String Section(const String& Page, const String& Begin, const String& End) {
  const size_t from = Page.find(Begin);
  if (from == String::npos) return String();
  const size_t to = Page.find(End);
  if (to == String::npos || to < from + Begin.size()) return String();
  return Page.substr(from + Begin.size(), to - from - Begin.size());
}

bool IsLineEnd(Char c) { return c == u'\r' || c == u'\n'; }

}  // namespace

String TKtFedExTracker::PageToText(const String& Html) {
  String out;
  bool inTag = false;
  const size_t n = Html.size();
  for (size_t i = 0; i < n; ++i) {
    const Char c = Html[i];
    if (IsLineEnd(c)) continue;
    if (c == u'<') {
      inTag = true;
      // The end of a table cell separates it from the next one.
      if (!out.empty() && i + 3 < n && Html[i + 1] == u'/' && Html[i + 2] == u't' && Html[i + 3] == u'd' &&
          !IsLineEnd(out.back()) && out.back() != u'=')
        out += u'=';
      continue;
    }
    if (c == u'>') {
      inTag = false;
      // A row tag, start or end, ends the line (without the separator of its last cell).
      if (!out.empty() && i >= 2 && Html[i - 2] == u't' && Html[i - 1] == u'r' && !IsLineEnd(out.back())) {
        if (out.back() == u'=') out.pop_back();
        out += u"\r\n";
      }
      continue;
    }
    if (inTag) continue;
    if ((c == u'\t' || c == u' ') && i + 1 < n) {
      const Char next = Html[i + 1];
      if (next == u'\t' || next == u' ' || IsLineEnd(next) || next == u'<') continue;
    }
    out += c;
  }
  ReplaceHTMLChars(out);
  String reduced;
  reduced.reserve(out.size());
  for (Char c : out)
    if (c != u'=' || reduced.empty() || reduced.back() != u'=') reduced += c;
  return reduced;
}

void TKtFedExTracker::AfterExecute(String& strReceived) {
  // "HTTP/1.1 503 Service Unavailable": the status and its text after the first blank.
  if (strReceived.compare(0, 5, u"HTTP/") == 0) {
    String line = strReceived.substr(0, strReceived.find_first_of(u"\r\n"));
    FHttpStatus = static_cast<DWORD>(StatusOfFirstLine(StringToBytes(line)));
    const size_t blank = line.find(u' ');
    FServiceError = TrackServiceError(FHttpStatus, blank == String::npos ? String() : Trim(line.substr(blank + 1)), String());
  }
  FShipmentInfo->SetText(PageToText(Section(strReceived, ShipmentMarker, ActivityBeginMarker)));
  FActivity->SetText(PageToText(Section(strReceived, ActivityBeginMarker, ActivityEndMarker)));
}

const TClassInfo* TKtFedExTracker::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtFedExTracker>(u"TKtFedExTracker", TKtInetBase::StaticClassInfo())
      .Component()
      .Property(u"TrackingNumber", &TKtFedExTracker::TrackingNumber, &TKtFedExTracker::SetTrackingNumber)
      .Build();
  return info;
}

}  // namespace ktinet
