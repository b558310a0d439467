// TKtInetStatusDialog: the settings behind a transfer component's StatusDialog
// property (whether the status window is shown and what its header shows). Unit
// ktiupdate re-exports it.
#pragma once

#include <memory>

#include "vcl/Controls.h"
#include "vcl/Graphics.h"
#include "rtl/TypInfo.h"

namespace ktinet {

class TKtInetStatusDialog : public TPersistent {
  KTINET_PUBLISHED(TKtInetStatusDialog)
 public:
  TKtInetStatusDialog();
  ~TKtInetStatusDialog() override;
  TKtInetStatusDialog(const TKtInetStatusDialog&) = delete;
  TKtInetStatusDialog& operator=(const TKtInetStatusDialog&) = delete;

  // From another TKtInetStatusDialog: all six properties (picture and icon copied
  // into the owned ones). Anything else fails as TPersistent::Assign does.
  void Assign(const TPersistent* Source) override;

  // Show the status window during Execute.
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool v) { FEnabled = v; }
  // Stored and copied; the window makes no use of it.
  THelpContext HelpContext() const { return FHelpContext; }
  void SetHelpContext(THelpContext v) { FHelpContext = v; }
  // Replaces the window's side image when it holds a non-empty graphic.
  TPicture* Picture() const { return FPicture.get(); }
  void SetPicture(const TPicture* v);
  // Replaces the window's icon when not empty.
  TIcon* Icon() const { return FIcon.get(); }
  void SetIcon(const TIcon* v);
  // The bold header line; the application's title when empty.
  const String& Title() const { return FTitle; }
  void SetTitle(const String& v) { FTitle = v; }
  // The header description; the form's own text stays when empty.
  const String& Description() const { return FDescription; }
  void SetDescription(const String& v) { FDescription = v; }

 private:
  bool FEnabled = false;
  THelpContext FHelpContext = 0;
  String FTitle;
  String FDescription;
  std::unique_ptr<TPicture> FPicture;
  std::unique_ptr<TIcon> FIcon;
};

}  // namespace ktinet
