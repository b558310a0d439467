// The image list: a row of same-sized images that controls pick by index.
#pragma once

#include <memory>
#include <vector>

#include "vcl/Graphics.h"

namespace ktinet {

class TImageList : public TComponent {
 public:
  explicit TImageList(TComponent* AOwner);
  ~TImageList() override;

  // The size every image is meant to have (16 x 16 unless set).
  int Width() const { return FWidth; }
  void SetWidth(int v) { FWidth = v; }
  int Height() const { return FHeight; }
  void SetHeight(int v) { FHeight = v; }

  int Count() const { return static_cast<int>(FImages.size()); }
  // Appends a copy of `image` and returns its index.
  int Add(const TGraphic* image);
  void Delete(int index);
  void Clear();
  // Fills `image` with a copy of image `index`; false (and `image` untouched) for an
  // index out of range, as the framework's GetBitmap does.
  bool GetBitmap(int index, TBitmap* image) const;
  // Ours: the image itself, for backends and tests (raises EListError out of range).
  const TBitmap* Images(int index) const;

 private:
  int FWidth = 16;
  int FHeight = 16;
  std::vector<std::unique_ptr<TBitmap>> FImages;
};

}  // namespace ktinet
