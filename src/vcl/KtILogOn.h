// The suite's modal user-name/password dialog. It lives with the visual stand-in, below the
// components, because the socket core asks through it for proxy credentials as the transfer
// components do for theirs.
#pragma once

#include "vcl/ExtCtrls.h"
#include "vcl/Forms.h"
#include "vcl/StdCtrls.h"

namespace ktinet {

class TfrmKtILogon : public TForm {
 public:
  explicit TfrmKtILogon(TComponent* AOwner);

  TLabel* lblLogin;
  TLabel* lblPassword;
  TEdit* edLogin;
  TEdit* edPassword;
  TBevel* bvlButtons;
  TButton* btnOk;
  TButton* btnCancel;
  TImage* imgKey;
};

// Asks for a user name and password with `ACaption` as title ("Enter Password" when
// empty), the current values filled in. True only when the person confirmed with OK;
// then User and Password hold what was entered. Otherwise both stay untouched.
bool KtInAskLogon(const String& ACaption, String& User, String& Password);

}  // namespace ktinet
