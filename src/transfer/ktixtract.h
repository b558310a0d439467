// TKtInfoExtractor: downloads a file (normally a web page) into a temporary file of its own and
// pulls every link of one kind out of it.
#pragma once

#include <memory>
#include <string_view>

#include "rtl/Classes.h"
#include "transfer/ktiupdate.h"
#include "rtl/TypInfo.h"

namespace ktinet {

enum TKtIExtract { ieMailTo, ieHTTP, itHTTPS, itFTP, itFile, itTelnet, itNews, itGopher, itWais };
KTINET_ENUM_TYPE(TKtIExtract, u"ieMailTo", u"ieHTTP", u"itHTTPS", u"itFTP", u"itFile", u"itTelnet", u"itNews", u"itGopher", u"itWais")

// The exact, case-sensitive prefix each kind looks for ("mailto:", "http://" ...).
const char* ExtractPrefix(TKtIExtract AKind);

// The scan alone: appends to AList every item of AText (one character per byte) that starts with
// APrefix and runs up to the next terminator (end of text, blank, " # % < > [ \ ] ^ ` { | } ~ or
// a character 0), prefix included, in order, duplicates kept.
void ExtractItems(std::string_view AText, std::string_view APrefix, TStrings* AList);

class TKtInfoExtractor : public TKtCustomWebUpdater {
  KTINET_PUBLISHED(TKtInfoExtractor)
 public:
  explicit TKtInfoExtractor(TComponent* AOwner);
  ~TKtInfoExtractor() override;

  // Downloads, then parses whenever the run did not fail and a local copy exists (a skipped
  // download is parsed again).
  bool Execute() override;
  // Rescans the local file into ExtractedInfo; raises EFOpenError when it cannot be read.
  void ParseData();

  // Also deletes the current temporary file and forms a new name with the remote extension.
  void SetRemoteFileName(const String& Value) override;

  TKtIExtract Extract() const { return FExtract; }
  void SetExtract(TKtIExtract Value) { FExtract = Value; }
  TStrings* ExtractedInfo() const { return FExtractedInfo.get(); }
  const String& LocalFileName() const { return FLocalFileName; }

 protected:
  void DeleteLocalFile();

 private:
  std::unique_ptr<TStringList> FExtractedInfo;
  TKtIExtract FExtract = ieMailTo;
};

}  // namespace ktinet
