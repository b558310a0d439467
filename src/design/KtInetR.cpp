#include "design/KtInetR.h"

#include <mutex>

#include "core/KtInBase.h"
#include "core/KtInCnst.h"
#include "mail/KtISMTP.h"
#include "protocols/KtIDNS.h"
#include "protocols/KtIHTTP.h"
#include "protocols/KtISNTP.h"
#include "protocols/KtITime.h"
#include "protocols/KtIWeath.h"
#include "protocols/KtWhoIs.h"
#include "rtl/FormFiles.h"
#include "services/KtIFedEx.h"
#include "services/KtIMSTranslator.h"
#include "services/KtIUPS.h"
#include "transfer/ktidir.h"
#include "transfer/ktidirect.h"
#include "transfer/ktiimage.h"
#include "transfer/ktiupdate.h"
#include "transfer/ktixtract.h"
#include "vcl/ExtCtrls.h"
#include "xml/KtIRSS.h"

namespace ktinet {

void TKtInetComponentEditor::ExecuteVerb(int Index) {
  (void)Index;
  AboutKtInet();
}

String TKtInetComponentEditor::GetVerb(int Index) { return Index == 0 ? String(u"About KtInternet") : String(); }

int TKtInetComponentEditor::GetVerbCount() { return 1; }

void TKtInetAboutProperty::Edit() { AboutKtInet(); }

TPropertyAttributes TKtInetAboutProperty::GetAttributes() { return {paDialog, paReadOnly}; }

String TKtInetAboutProperty::GetValue() { return u"About KtInternet..."; }

void Register() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterComponents(u"Kt-Internet",
                       {TKtWhoIs::StaticClassInfo(), TKtInetDateTime::StaticClassInfo(), TKtUPSTracker::StaticClassInfo(),
                        TKtFedExTracker::StaticClassInfo(), TKtIHTTPClient::StaticClassInfo(),
                        TKtWebUpdater::StaticClassInfo(), TKtWebDirect::StaticClassInfo(),
                        TKtRemoteImage::StaticClassInfo(), TKtInfoExtractor::StaticClassInfo(),
                        TKtWeatherInfo::StaticClassInfo(), TKtRemoteFiles::StaticClassInfo(), TKtISMTP::StaticClassInfo(),
                        TKtIRSSParser::StaticClassInfo(), TKtInetSNTP::StaticClassInfo(),
                        TKtMSTranslator::StaticClassInfo()});
    RegisterComponentEditor(TKtInetBase::StaticClassInfo(), ComponentEditorClass<TKtInetComponentEditor>());
    RegisterComponentEditor(TKtCustomWebComponent::StaticClassInfo(), ComponentEditorClass<TKtInetComponentEditor>());
    RegisterPropertyEditor(TypeInfoString(), TKtInetBase::StaticClassInfo(), u"About",
                           PropertyEditorClass<TKtInetAboutProperty>());
  });
}

void RegisterFormClasses() {
  RegisterClass(TDataModule::StaticClassInfo());
  RegisterClass(TImage::StaticClassInfo());
  RegisterClass(TPanel::StaticClassInfo());
  RegisterClass(TKtIDNSResolver::StaticClassInfo());
}

}  // namespace ktinet
