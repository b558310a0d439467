// TKtRemoteFiles: lists the files of an FTP directory or a file-system directory, optionally
// with all sub-folders.
#pragma once

#include <memory>
#include <vector>

#include "rtl/Classes.h"
#include "transfer/ktiupdate.h"
#include "rtl/TypInfo.h"

namespace ktinet {

class TKtRemoteFiles : public TKtCustomWebComponent {
  KTINET_PUBLISHED(TKtRemoteFiles)
 public:
  explicit TKtRemoteFiles(TComponent* AOwner);
  ~TKtRemoteFiles() override;

  // An unreachable server ends isFailed, an empty listing isNotFound (HTTP lists nothing).
  void InternalExecute() override;

  const String& Directory() const { return FDirectory; }
  void SetDirectory(const String& Value) { FDirectory = Value; }
  const String& WildCard() const { return FWildCard; }
  void SetWildCard(const String& Value) { FWildCard = Value; }
  bool SubFolders() const { return FSubFolders; }
  void SetSubFolders(bool Value) { FSubFolders = Value; }
  TStrings* FileList() const { return FFileList.get(); }
  // Type, size and time of each FileList line, in the same order.
  const std::vector<TKtIFileDetail>& FileDetails() const { return FFileDetails; }

 private:
  String FDirectory;
  String FWildCard = u"*.*";
  bool FSubFolders = false;
  std::unique_ptr<TStringList> FFileList;
  std::vector<TKtIFileDetail> FFileDetails;
};

}  // namespace ktinet
