#include "transfer/KtInStatDlg.h"

namespace ktinet {

TKtInetStatusDialog::TKtInetStatusDialog()
    : FPicture(std::make_unique<TPicture>()), FIcon(std::make_unique<TIcon>()) {}

TKtInetStatusDialog::~TKtInetStatusDialog() = default;

void TKtInetStatusDialog::Assign(const TPersistent* Source) {
  auto* s = dynamic_cast<const TKtInetStatusDialog*>(Source);
  if (!s) {
    TPersistent::Assign(Source);
    return;
  }
  if (s == this) return;
  FEnabled = s->FEnabled;
  FHelpContext = s->FHelpContext;
  FPicture->Assign(s->FPicture.get());
  FIcon->Assign(s->FIcon.get());
  FTitle = s->FTitle;
  FDescription = s->FDescription;
}

void TKtInetStatusDialog::SetPicture(const TPicture* v) { FPicture->Assign(v); }

void TKtInetStatusDialog::SetIcon(const TIcon* v) { FIcon->Assign(v); }

}  // namespace ktinet
