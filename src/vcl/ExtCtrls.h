// Bevels and images. (Panels, timers, progress bars come with the forms that use them.)
#pragma once

#include "vcl/Controls.h"

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

// For now an image knows only where its picture comes from; a backend that draws may
// load it. Empty means no picture.
class TImage : public TControl {
 public:
  explicit TImage(TComponent* AOwner);
  const String& PictureFileName() const { return FPictureFileName; }
  void SetPictureFileName(const String& v);
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool v) { FTransparent = v; }
  bool Stretch() const { return FStretch; }
  void SetStretch(bool v) { FStretch = v; }
  bool Center() const { return FCenter; }
  void SetCenter(bool v) { FCenter = v; }

 private:
  String FPictureFileName;
  bool FTransparent = false;
  bool FStretch = false;
  bool FCenter = false;
};

}  // namespace ktinet
