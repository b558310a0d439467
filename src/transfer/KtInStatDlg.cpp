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

const TClassInfo* TKtInetStatusDialog::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtInetStatusDialog>(u"TKtInetStatusDialog", nullptr)
      .Property(u"Enabled", &TKtInetStatusDialog::Enabled, &TKtInetStatusDialog::SetEnabled).Default(false)
      .Property(u"HelpContext", &TKtInetStatusDialog::HelpContext, &TKtInetStatusDialog::SetHelpContext).Default(0)
      .Property(u"Picture", &TKtInetStatusDialog::Picture)
      .Property(u"Icon", &TKtInetStatusDialog::Icon)
      .Property(u"Title", &TKtInetStatusDialog::Title, &TKtInetStatusDialog::SetTitle)
      .Property(u"Description", &TKtInetStatusDialog::Description, &TKtInetStatusDialog::SetDescription)
      .Build();
  return info;
}

}  // namespace ktinet
