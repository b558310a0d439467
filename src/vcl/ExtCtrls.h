// Bevels, images, panels and timers.
#pragma once

#include <chrono>
#include <memory>

#include "vcl/Controls.h"
#include "rtl/TypInfo.h"

namespace ktinet {

enum TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
enum TBevelStyle { bsLowered, bsRaised };

class TBevel : public TControl {
 public:
  explicit TBevel(TComponent* AOwner);
  TBevelShape Shape() const { return FShape; }
  void SetShape(TBevelShape v);
  TBevelStyle Style() const { return FStyle; }
  void SetStyle(TBevelStyle v);

 private:
  TBevelShape FShape = bsBox;
  TBevelStyle FStyle = bsLowered;
};

// An image shows its Picture. PictureFileName says where a drawing backend may load
// a picture from when the form supplies none (the logon dialog's key).
class TImage : public TControl {
  KTINET_PUBLISHED(TImage)
 public:
  explicit TImage(TComponent* AOwner);
  ~TImage() override;

  // The owned picture; changing it redraws the image.
  TPicture* Picture() const { return FPicture.get(); }
  // Copies `v` into the owned picture.
  void SetPicture(const TPicture* v);

  const String& PictureFileName() const { return FPictureFileName; }
  void SetPictureFileName(const String& v);
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool v) { FTransparent = v; }
  bool Stretch() const { return FStretch; }
  void SetStretch(bool v) { FStretch = v; }
  bool Center() const { return FCenter; }
  void SetCenter(bool v) { FCenter = v; }

 private:
  std::unique_ptr<TPicture> FPicture;
  String FPictureFileName;
  bool FTransparent = false;
  bool FStretch = false;
  bool FCenter = false;
};

enum TPanelBevel { bvNone, bvLowered, bvRaised, bvSpace };
KTINET_ENUM_TYPE(TPanelBevel, u"bvNone", u"bvLowered", u"bvRaised", u"bvSpace")

// A container with a colour and bevels; a text backend draws its children.
class TPanel : public TWinControl {
  KTINET_PUBLISHED(TPanel)
 public:
  explicit TPanel(TComponent* AOwner);
  TPanelBevel BevelOuter() const { return FBevelOuter; }
  void SetBevelOuter(TPanelBevel v);
  TPanelBevel BevelInner() const { return FBevelInner; }
  void SetBevelInner(TPanelBevel v);
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment v) { FAlignment = v; }

 private:
  TPanelBevel FBevelOuter = bvRaised;
  TPanelBevel FBevelInner = bvNone;
  TAlignment FAlignment = taCenter;
};

// Fires OnTimer every Interval milliseconds while Enabled, from the application's
// loop: Application->ProcessMessages() and Application->Run() run the timers that
// are due. A timer does not fire again while its own OnTimer runs (a handler that
// pumps messages would otherwise re-enter itself).
class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* AOwner);
  ~TTimer() override;

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool v);
  // Milliseconds; 0 stops the timer as the framework does.
  unsigned Interval() const { return FInterval; }
  void SetInterval(unsigned v);

  // Assigning OnTimer takes effect at once (the framework's timer starts when it gets a handler).
  const TNotifyEvent& OnTimer() const { return FOnTimer; }
  void SetOnTimer(TNotifyEvent handler);

  // Ours: when the timer is next due (meaningless while it is not running).
  std::chrono::steady_clock::time_point NextDue() const { return FDue; }
  bool Running() const { return FHook != 0; }

 private:
  void Update();
  void Check();
  bool FEnabled = true;
  unsigned FInterval = 1000;
  TNotifyEvent FOnTimer;
  int FHook = 0;
  bool FFiring = false;
  std::shared_ptr<int> FLife = std::make_shared<int>(0);
  std::chrono::steady_clock::time_point FDue{};
};

}  // namespace ktinet
