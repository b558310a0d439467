#include "transfer/ktidir.h"

namespace ktinet {

TKtRemoteFiles::TKtRemoteFiles(TComponent* AOwner)
    : TKtCustomWebComponent(AOwner), FFileList(std::make_unique<TStringList>()) {}

TKtRemoteFiles::~TKtRemoteFiles() = default;

void TKtRemoteFiles::InternalExecute() {
  FFileList->Clear();
  FFileDetails.clear();
  FListDetails = &FFileDetails;
  struct Detach {
    std::vector<TKtIFileDetail>** sink;
    ~Detach() { *sink = nullptr; }
  } detach{&FListDetails};
  ConnectToInet(true);
  if (Service() != isNetwork && (!hInet || !hURL)) {
    SetStatus(isFailed);
  } else if (!ReadDirFromInet(FDirectory, FWildCard, FSubFolders, FFileList.get()) && Status() != isFailed) {
    SetStatus(isNotFound);
  }
  DisconnectFromInet();
}

const TClassInfo* TKtRemoteFiles::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtRemoteFiles>(u"TKtRemoteFiles", TKtCustomWebComponent::StaticClassInfo())
      .Component()
      .Property(u"Directory", &TKtRemoteFiles::Directory, &TKtRemoteFiles::SetDirectory)
      .Property(u"WildCard", &TKtRemoteFiles::WildCard, &TKtRemoteFiles::SetWildCard)
      .Property(u"SubFolders", &TKtRemoteFiles::SubFolders, &TKtRemoteFiles::SetSubFolders).Default(false)
      .Build();
  return info;
}

}  // namespace ktinet
