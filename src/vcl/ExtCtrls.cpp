#include "vcl/ExtCtrls.h"

#include "vcl/Forms.h"

namespace ktinet {

TBevel::TBevel(TComponent* AOwner) : TControl(AOwner) { SetBounds(0, 0, 50, 50); }

void TBevel::SetShape(TBevelShape v) {
  if (v == FShape) return;
  FShape = v;
  Invalidate();
}

void TBevel::SetStyle(TBevelStyle v) {
  if (v == FStyle) return;
  FStyle = v;
  Invalidate();
}

// ---- TImage ---------------------------------------------------------------------------------

TImage::TImage(TComponent* AOwner) : TControl(AOwner), FPicture(std::make_unique<TPicture>()) {
  SetBounds(0, 0, 105, 105);
  FPicture->OnChange = [this](TObject*) { Invalidate(); };
}

TImage::~TImage() = default;

void TImage::SetPicture(const TPicture* v) { FPicture->Assign(v); }

void TImage::SetPictureFileName(const String& v) {
  if (v == FPictureFileName) return;
  FPictureFileName = v;
  Invalidate();
}

// ---- TPanel ---------------------------------------------------------------------------------

TPanel::TPanel(TComponent* AOwner) : TWinControl(AOwner) { SetBounds(0, 0, 185, 41); }

void TPanel::SetBevelOuter(TPanelBevel v) {
  if (v == FBevelOuter) return;
  FBevelOuter = v;
  Invalidate();
}

void TPanel::SetBevelInner(TPanelBevel v) {
  if (v == FBevelInner) return;
  FBevelInner = v;
  Invalidate();
}

// ---- TTimer ---------------------------------------------------------------------------------

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner) {}

TTimer::~TTimer() {
  if (FHook) Application->RemovePumpHook(FHook);
}

void TTimer::SetEnabled(bool v) {
  if (v == FEnabled) return;
  FEnabled = v;
  Update();
}

void TTimer::SetInterval(unsigned v) {
  if (v == FInterval) return;
  FInterval = v;
  Update();
}

void TTimer::SetOnTimer(TNotifyEvent handler) {
  FOnTimer = std::move(handler);
  Update();
}

// Any change of the settings starts the interval afresh, as the framework's timer does.
void TTimer::Update() {
  if (FHook) {
    Application->RemovePumpHook(FHook);
    FHook = 0;
  }
  if (!FEnabled || FInterval == 0 || !FOnTimer) return;
  FDue = std::chrono::steady_clock::now() + std::chrono::milliseconds(FInterval);
  FHook = Application->AddPumpHook([this] { Check(); });
}

void TTimer::Check() {
  if (FFiring || !FOnTimer) return;
  auto now = std::chrono::steady_clock::now();
  if (now < FDue) return;
  // The next interval counts from now: a late round is not made up with a burst.
  FDue = now + std::chrono::milliseconds(FInterval);
  FFiring = true;
  // The handler may free the timer: only a timer still alive clears its flag.
  std::weak_ptr<int> alive = FLife;
  struct Reset {
    TTimer* t;
    std::weak_ptr<int> alive;
    ~Reset() {
      if (!alive.expired()) t->FFiring = false;
    }
  } reset{this, alive};
  TNotifyEvent handler = FOnTimer;  // a copy: the handler may replace OnTimer
  handler(this);
}

// A form file may hold a panel for the news browser to show its tree in.
const TClassInfo* TPanel::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TPanel>(u"TPanel", nullptr)
                                      .Component()
                                      .Property(u"Caption", &TPanel::Caption, &TPanel::SetCaption)
                                      .Property(u"BevelOuter", &TPanel::BevelOuter, &TPanel::SetBevelOuter)
                                      .Default(bvRaised)
                                      .Property(u"BevelInner", &TPanel::BevelInner, &TPanel::SetBevelInner)
                                      .Default(bvNone)
                                      .Build();
  return info;
}

const TClassInfo* TImage::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TImage>(u"TImage", nullptr).Component().Build();
  return info;
}

}  // namespace ktinet
