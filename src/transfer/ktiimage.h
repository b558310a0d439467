// TKtRemoteImage: fetches an image file (a web camera picture, say) into a temporary file of its
// own on a timer and loads it into an image control.
#pragma once

#include "transfer/ktiupdate.h"
#include "rtl/TypInfo.h"

namespace ktinet {

class TImage;
class TTimer;

class TKtRemoteImage : public TKtCustomWebUpdater {
  KTINET_PUBLISHED(TKtRemoteImage)
 public:
  explicit TKtRemoteImage(TComponent* AOwner);
  ~TKtRemoteImage() override;

  // Downloads when the remote copy changed, then reloads the picture from the local copy
  // (also after a skipped or failed run that left an older copy). An extension no graphic
  // class reads raises EInvalidGraphic.
  bool Execute() override;
  // The first fetch comes one interval after the start; each interval runs from the end of the
  // previous fetch.
  void Start() { SetActive(true); }
  void Stop() { SetActive(false); }

  TImage* Image() const { return FImage; }
  void SetImage(TImage* Value);
  bool Active() const { return FActive; }
  void SetActive(bool Value);
  Integer Interval() const;
  void SetInterval(Integer Value);

  // Also deletes the current temporary file and forms a new name with the remote extension.
  void SetRemoteFileName(const String& Value) override;
  const String& LocalFileName() const { return FLocalFileName; }

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;
  void DeleteLocalFile();
  TTimer* FTimer = nullptr;  // owned (created with this component as its owner)

 private:
  void TimerHandler(TObject* Sender);
  TImage* FImage = nullptr;
  bool FActive = false;
};

}  // namespace ktinet
