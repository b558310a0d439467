// TKtFedExTracker of the build for host version 10: a socket component that fetches the FedEx
// tracking page over plain HTTP and turns its shipment section and its scan-activity section into
// lines of text ("label=value" for a table row of a label and a value cell).
#pragma once

#include <memory>

#include "core/KtInBase.h"
#include "platform/WinInet.h"
#include "rtl/Classes.h"
#include "rtl/TypInfo.h"

namespace ktinet {

class TKtFedExTracker : public TKtInetBase {
  KTINET_PUBLISHED(TKtFedExTracker)

 public:
  explicit TKtFedExTracker(TComponent* AOwner);
  ~TKtFedExTracker() override;

  static constexpr const char16_t* DefaultHost = u"www.fedex.com";
  // The site's address as an absolute request target names it (through a proxy).
  static constexpr const char16_t* SiteAddress = u"http://www.fedex.com";
  static constexpr const char16_t* TrackingPath =
      u"/cgi-bin/tracking?template_type=plugin&action=track&language=english&cntry_code=us&tracknumbers=";
  // The comments that frame the two sections of the page.
  static constexpr const char16_t* ShipmentMarker = u"<!-- shipment info -->";
  static constexpr const char16_t* ActivityBeginMarker = u"<!-- BEGIN Scan Activity -->";
  static constexpr const char16_t* ActivityEndMarker = u"<!-- END Scan Activity -->";

  const String& TrackingNumber() const { return FTrackingNumber; }
  // Keeps the lists of the last answer: they are emptied when the next request is built.
  void SetTrackingNumber(const String& Value) { FTrackingNumber = Value; }
  // The lines of the shipment section of the last answer.
  TStrings* ShipmentInfo() const { return FShipmentInfo.get(); }
  // The lines of the scan-activity section of the last answer.
  TStrings* Activity() const { return FActivity.get(); }
  // The HTTP status of the last answer; 0 when none arrived (or it was no HTTP answer).
  DWORD HttpStatus() const { return FHttpStatus; }
  // "the service answered 503 Service Unavailable" when the last answer carried an HTTP status of
  // 400 or more (its page then holds no tracking sections); empty otherwise.
  const String& ServiceError() const { return FServiceError; }

  // Starts afresh when an earlier Execute ended in an error text and left its connection open
  // with the rest of that answer unread (unless KeepConnection).
  void Connect() override;

  // The page-to-text conversion of an HTML fragment: line breaks of the page dropped, tags
  // dropped, the end of a table cell turned into "=" and the end of a table row into CR LF,
  // blanks before blanks, line breaks and tags dropped, entities replaced, runs of "=" made one.
  static String PageToText(const String& Html);

 protected:
  // Empties both lists, HttpStatus and ServiceError and returns the GET of the tracking page.
  String GetQuery() override;
  // Fills the two lists from the page; OnAfterExecute is not raised.
  void AfterExecute(String& strReceived) override;

 private:
  String FTrackingNumber;
  DWORD FHttpStatus = 0;
  String FServiceError;
  std::unique_ptr<TStringList> FShipmentInfo;
  std::unique_ptr<TStringList> FActivity;
};

}  // namespace ktinet
