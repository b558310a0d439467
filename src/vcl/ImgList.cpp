#include "vcl/ImgList.h"

#include "rtl/Exceptions.h"

namespace ktinet {

TImageList::TImageList(TComponent* AOwner) : TComponent(AOwner) {}
TImageList::~TImageList() = default;

int TImageList::Add(const TGraphic* image) {
  auto copy = std::make_unique<TBitmap>();
  if (image) {
    if (dynamic_cast<const TBitmap*>(image)) {
      copy->Assign(image);
    } else {
      // Another class keeps what a person sees of it: its meaning, glyph and size.
      copy->SetDescription(image->Description());
      copy->SetGlyph(image->Glyph());
      copy->SetSize(image->Width(), image->Height());
    }
  }
  FImages.push_back(std::move(copy));
  return Count() - 1;
}

void TImageList::Delete(int index) {
  if (index < 0 || index >= Count())
    throw EListError(u"List index out of bounds (" + IntToStr(index) + u")");
  FImages.erase(FImages.begin() + index);
}

void TImageList::Clear() { FImages.clear(); }

bool TImageList::GetBitmap(int index, TBitmap* image) const {
  if (!image || index < 0 || index >= Count()) return false;
  image->Assign(FImages[static_cast<size_t>(index)].get());
  return true;
}

const TBitmap* TImageList::Images(int index) const {
  if (index < 0 || index >= Count())
    throw EListError(u"List index out of bounds (" + IntToStr(index) + u")");
  return FImages[static_cast<size_t>(index)].get();
}

}  // namespace ktinet
