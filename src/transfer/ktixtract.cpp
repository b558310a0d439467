#include "transfer/ktixtract.h"

#include <array>
#include <string>

#include "platform/TempFiles.h"
#include "rtl/Streams.h"
#include "rtl/SysUtils.h"

namespace ktinet {

const char* ExtractPrefix(TKtIExtract AKind) {
  switch (AKind) {
    case ieMailTo: return "mailto:";
    case ieHTTP: return "http://";
    case itHTTPS: return "https://";
    case itFTP: return "ftp://";
    case itFile: return "file://";
    case itTelnet: return "telnet:";
    case itNews: return "news:";
    case itGopher: return "gopher://";
    case itWais: return "wais:";
  }
  return "";
}

namespace {

// Apostrophes, parentheses and commas are deliberately absent: they stay in items. A line break
// ends an item, or a link at the end of one line would swallow the text of the next.
constexpr std::array<bool, 256> MakeTerminators() {
  std::array<bool, 256> t{};
  for (unsigned char c : {0, 10, 13, 32, 34, 35, 37, 60, 62, 91, 92, 93, 94, 96, 123, 124, 125, 126}) t[c] = true;
  return t;
}
constexpr std::array<bool, 256> kTerminator = MakeTerminators();

}  // namespace

void ExtractItems(std::string_view AText, std::string_view APrefix, TStrings* AList) {
  if (APrefix.empty()) return;
  size_t p = 0;
  for (;;) {
    const size_t start = AText.find(APrefix, p);
    if (start == std::string_view::npos) return;
    size_t end = start + APrefix.size();
    while (end < AText.size() && !kTerminator[static_cast<unsigned char>(AText[end])]) ++end;
    AList->Add(BytesToString(AText.substr(start, end - start)));
    p = end + 1;
    if (p >= AText.size()) return;
  }
}

TKtInfoExtractor::TKtInfoExtractor(TComponent* AOwner)
    : TKtCustomWebUpdater(AOwner), FExtractedInfo(std::make_unique<TStringList>()) {}

TKtInfoExtractor::~TKtInfoExtractor() { DeleteLocalFile(); }

void TKtInfoExtractor::DeleteLocalFile() {
  if (!FLocalFileName.empty() && FileExists(FLocalFileName)) DeleteFile(FLocalFileName);
}

void TKtInfoExtractor::SetRemoteFileName(const String& Value) {
  TKtCustomWebUpdater::SetRemoteFileName(Value);
  DeleteLocalFile();
  FLocalFileName = UniqueTempFileName(ExtractFileExt(Value));
}

bool TKtInfoExtractor::Execute() {
  const bool result = TKtCustomWebUpdater::Execute();
  if (result && !FLocalFileName.empty() && FileExists(FLocalFileName)) ParseData();
  return result;
}

void TKtInfoExtractor::ParseData() {
  FExtractedInfo->Clear();
  std::string bytes;
  {
    TFileStream stream(FLocalFileName, fmOpenRead | fmShareDenyWrite);
    const Int64 size = stream.Size();
    bytes.resize(static_cast<size_t>(size));
    if (size > 0) stream.ReadBuffer(bytes.data(), static_cast<long>(size));
  }
  ExtractItems(bytes, ExtractPrefix(FExtract), FExtractedInfo.get());
}

const TClassInfo* TKtInfoExtractor::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtInfoExtractor>(u"TKtInfoExtractor", TKtCustomWebUpdater::StaticClassInfo())
      .Component()
      .Property(u"Extract", &TKtInfoExtractor::Extract, &TKtInfoExtractor::SetExtract).Default(ieMailTo)
      .Build();
  return info;
}

}  // namespace ktinet
