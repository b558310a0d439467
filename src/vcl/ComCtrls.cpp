#include "vcl/ComCtrls.h"

#include <algorithm>

#include "rtl/Exceptions.h"

namespace ktinet {

TProgressBar::TProgressBar(TComponent* AOwner) : TWinControl(AOwner) { SetBounds(0, 0, 150, 16); }

void TProgressBar::SetRange(Int64 min, Int64 max) {
  if (max < min) throw EInvalidOperation(u"Property value out of range (" + ClassName() + u")");
  Int64 position = std::clamp(FPosition, min, max);
  if (min == FMin && max == FMax && position == FPosition) return;
  FMin = min;
  FMax = max;
  FPosition = position;
  Invalidate();
}

void TProgressBar::SetPosition(Int64 v) {
  v = std::clamp(v, FMin, FMax);
  if (v == FPosition) return;
  FPosition = v;
  Invalidate();
}

double TProgressBar::Fraction() const {
  if (FMax <= FMin) return 0.0;
  return static_cast<double>(FPosition - FMin) / static_cast<double>(FMax - FMin);
}

}  // namespace ktinet
