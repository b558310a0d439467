// Common controls: the progress bar.
#pragma once

#include "vcl/Controls.h"

namespace ktinet {

enum TProgressBarOrientation { pbHorizontal, pbVertical };

// Positions are 64-bit so a transfer can show byte counts of any file size directly.
class TProgressBar : public TWinControl {
 public:
  explicit TProgressBar(TComponent* AOwner);

  Int64 Min() const { return FMin; }
  Int64 Max() const { return FMax; }
  // A range with Max below Min raises EInvalidOperation, as the framework does;
  // Position is kept inside the range.
  void SetMin(Int64 v) { SetRange(v, FMax); }
  void SetMax(Int64 v) { SetRange(FMin, v); }
  void SetRange(Int64 min, Int64 max);
  Int64 Position() const { return FPosition; }
  // Values outside Min..Max are clamped (the bar shows empty or full).
  void SetPosition(Int64 v);
  int Step() const { return FStep; }
  void SetStep(int v) { FStep = v; }
  void StepIt() { SetPosition(FPosition + FStep); }
  void StepBy(Int64 delta) { SetPosition(FPosition + delta); }
  bool Smooth() const { return FSmooth; }
  void SetSmooth(bool v) { FSmooth = v; }
  TProgressBarOrientation Orientation() const { return FOrientation; }
  void SetOrientation(TProgressBarOrientation v) { FOrientation = v; }

  // Ours: the filled part, 0.0 .. 1.0 (0 when the range is empty).
  double Fraction() const;

 private:
  Int64 FMin = 0;
  Int64 FMax = 100;
  Int64 FPosition = 0;
  int FStep = 10;
  bool FSmooth = false;
  TProgressBarOrientation FOrientation = pbHorizontal;
};

}  // namespace ktinet
