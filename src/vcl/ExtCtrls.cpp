#include "vcl/ExtCtrls.h"

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

TImage::TImage(TComponent* AOwner) : TControl(AOwner) { SetBounds(0, 0, 105, 105); }

void TImage::SetPictureFileName(const String& v) {
  if (v == FPictureFileName) return;
  FPictureFileName = v;
  Invalidate();
}

}  // namespace ktinet
