#include "transfer/ktiimage.h"

#include "platform/TempFiles.h"
#include "rtl/SysUtils.h"
#include "vcl/ExtCtrls.h"
#include "vcl/Graphics.h"

namespace ktinet {

TKtRemoteImage::TKtRemoteImage(TComponent* AOwner) : TKtCustomWebUpdater(AOwner) {
  FTimer = new TTimer(this);
  FTimer->SetEnabled(false);
}

TKtRemoteImage::~TKtRemoteImage() {
  FTimer->SetEnabled(false);
  delete FTimer;  // leaves the owner's list on the way out
  FTimer = nullptr;
  SetImage(nullptr);
  DeleteLocalFile();
}

void TKtRemoteImage::DeleteLocalFile() {
  if (!FLocalFileName.empty() && FileExists(FLocalFileName)) DeleteFile(FLocalFileName);
}

void TKtRemoteImage::SetRemoteFileName(const String& Value) {
  TKtCustomWebUpdater::SetRemoteFileName(Value);
  DeleteLocalFile();
  FLocalFileName = UniqueTempFileName(ExtractFileExt(Value));
}

bool TKtRemoteImage::Execute() {
  const bool result = TKtCustomWebUpdater::Execute();
  if (FImage && !FLocalFileName.empty() && FileExists(FLocalFileName))
    FImage->Picture()->LoadFromFile(FLocalFileName);
  return result;
}

void TKtRemoteImage::SetImage(TImage* Value) {
  if (Value == FImage) return;
  if (FImage) FImage->RemoveFreeNotification(this);
  FImage = Value;
  if (FImage) FImage->FreeNotification(this);
}

void TKtRemoteImage::Notification(TComponent* AComponent, TOperation Operation) {
  TKtCustomWebUpdater::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FImage) FImage = nullptr;
}

void TKtRemoteImage::SetActive(bool Value) {
  if (Value == FActive) return;
  if (Value) FTimer->SetOnTimer([this](TObject* Sender) { TimerHandler(Sender); });
  else FTimer->SetOnTimer(nullptr);
  FTimer->SetEnabled(Value);
  FActive = Value;
}

Integer TKtRemoteImage::Interval() const { return static_cast<Integer>(FTimer->Interval()); }

void TKtRemoteImage::SetInterval(Integer Value) { FTimer->SetInterval(Value < 0 ? 0u : static_cast<unsigned>(Value)); }

void TKtRemoteImage::TimerHandler(TObject*) {
  // Disabled during the fetch so a message pumped by the transfer cannot start a second one; an
  // exception leaves before the timer is enabled again, which ends the periodic fetch.
  FTimer->SetEnabled(false);
  Execute();
  if (FActive) FTimer->SetEnabled(true);
}

const TClassInfo* TKtRemoteImage::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtRemoteImage>(u"TKtRemoteImage", TKtCustomWebUpdater::StaticClassInfo())
      .Component()
      .Property(u"Image", &TKtRemoteImage::Image, &TKtRemoteImage::SetImage)
      .Property(u"Active", &TKtRemoteImage::Active, &TKtRemoteImage::SetActive)
      .Property(u"Interval", &TKtRemoteImage::Interval, &TKtRemoteImage::SetInterval)
      .Build();
  return info;
}

}  // namespace ktinet
