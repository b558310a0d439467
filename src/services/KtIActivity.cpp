#include "services/KtIActivity.h"

namespace ktinet {

// ---- TKtInetActivity ---------------------------------------------------------------------------

TKtInetActivity::TKtInetActivity(TCollection* Collection)
    : TCollectionItem(Collection), FLocation(std::make_unique<TKtInetActivityAddress>()) {}

TKtInetActivity::~TKtInetActivity() = default;

void TKtInetActivity::Assign(const TPersistent* Source) {
  auto* src = dynamic_cast<const TKtInetActivity*>(Source);
  if (!src) {
    TCollectionItem::Assign(Source);
    return;
  }
  TCollection* owner = Collection();
  if (owner) owner->BeginUpdate();
  try {
    FLocationCode = src->FLocationCode;
    FLocation->Assign(src->FLocation.get());
    FLocationDescription = src->FLocationDescription;
    FLocationSignedForByName = src->FLocationSignedForByName;
    FStatusTypeCode = src->FStatusTypeCode;
    FStatusTypeDescription = src->FStatusTypeDescription;
    FStatusCode = src->FStatusCode;
    FDateTime = src->FDateTime;
  } catch (...) {
    if (owner) owner->EndUpdate();
    throw;
  }
  if (owner) owner->EndUpdate();
}

// ---- TKtInetActivities -------------------------------------------------------------------------

TKtInetActivities::TKtInetActivities(TComponent* KtInetCntrl)
    : TCollection([](TCollection* c) -> TCollectionItem* { return new TKtInetActivity(c); }),
      FKtInetControl(KtInetCntrl) {}

TPersistent* TKtInetActivities::GetOwner() const { return FKtInetControl; }

const TClassInfo* TKtInetActivity::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtInetActivity>(u"TKtInetActivity", nullptr)
      .Property(u"LocationCode", &TKtInetActivity::LocationCode, &TKtInetActivity::SetLocationCode)
      .Property(u"Location", &TKtInetActivity::Location)
      .Property(u"LocationDescription", &TKtInetActivity::LocationDescription, &TKtInetActivity::SetLocationDescription)
      .Property(u"LocationSignedForByName", &TKtInetActivity::LocationSignedForByName, &TKtInetActivity::SetLocationSignedForByName)
      .Property(u"StatusTypeCode", &TKtInetActivity::StatusTypeCode, &TKtInetActivity::SetStatusTypeCode)
      .Property(u"StatusTypeDescription", &TKtInetActivity::StatusTypeDescription, &TKtInetActivity::SetStatusTypeDescription)
      .Property(u"StatusCode", &TKtInetActivity::StatusCode, &TKtInetActivity::SetStatusCode)
      .Property(u"DateTime", &TKtInetActivity::DateTime, &TKtInetActivity::SetDateTime)
      .Build();
  return info;
}

// ---- TKtShipmentDetails ------------------------------------------------------------------------

TKtShipmentDetails::TKtShipmentDetails()
    : FShipperAddress(std::make_unique<TKtInetActivityAddress>()), FShipToAddress(std::make_unique<TKtInetActivityAddress>()) {}

TKtShipmentDetails::~TKtShipmentDetails() = default;

}  // namespace ktinet
