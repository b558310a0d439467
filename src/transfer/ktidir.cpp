#include "transfer/ktidir.h"

namespace ktinet {

TKtRemoteFiles::TKtRemoteFiles(TComponent* AOwner)
    : TKtCustomWebComponent(AOwner), FFileList(std::make_unique<TStringList>()) {}

TKtRemoteFiles::~TKtRemoteFiles() = default;

void TKtRemoteFiles::InternalExecute() {
  FFileList->Clear();
  ConnectToInet(true);
  if (Service() != isNetwork && (!hInet || !hURL)) {
    SetStatus(isFailed);
  } else if (!ReadDirFromInet(FDirectory, FWildCard, FSubFolders, FFileList.get())) {
    SetStatus(isNotFound);
  }
  DisconnectFromInet();
}

}  // namespace ktinet
