// Registration of the suite with a host's designer: the palette page "Kt-Internet", the About
// verb on every component and the About property editor of the socket components.
#pragma once

#include "design/DesignIntf.h"

namespace ktinet {

// One verb, "About KtInternet", which shows the About box (whatever the index).
class TKtInetComponentEditor : public TComponentEditor {
 public:
  using TComponentEditor::TComponentEditor;
  void ExecuteVerb(int Index) override;
  String GetVerb(int Index) override;
  int GetVerbCount() override;
};

// The About row of a socket component: shows "About KtInternet...", cannot be typed into, and
// its ellipsis button shows the About box.
class TKtInetAboutProperty : public TStringProperty {
 public:
  using TStringProperty::TStringProperty;
  void Edit() override;
  TPropertyAttributes GetAttributes() override;
  String GetValue() override;
};

// The package's Register procedure: the fifteen palette components in palette order on the page
// "Kt-Internet" (the DNS resolver is left off: applications create it in code), the component
// editor on both component bases and the About property editor. Registering twice adds nothing.
void Register();

// The classes a form file may name besides the palette components: the form-file root
// (TDataModule), the image control the remote image shows its picture in, the panel the news
// browser may show its tree in, and the DNS resolver.
void RegisterFormClasses();

}  // namespace ktinet
