// One event of a parcel's history, the collection of them, and the shipment details a tracker
// reads from an answer, as every form of the trackers keeps them; the addresses are the build's
// TKtInetActivityAddress.
#pragma once

#include <memory>

#include "rtl/Classes.h"
#include "rtl/DateTime.h"
#include "rtl/TypInfo.h"
#include "services/KtIActivityAddress.h"

namespace ktinet {

class TKtInetActivity : public TCollectionItem {
  KTINET_PUBLISHED(TKtInetActivity)
 public:
  explicit TKtInetActivity(TCollection* Collection);
  ~TKtInetActivity() override;
  void Assign(const TPersistent* Source) override;

  const String& LocationCode() const { return FLocationCode; }
  void SetLocationCode(const String& Value) { FLocationCode = Value; }
  TKtInetActivityAddress* Location() const { return FLocation.get(); }
  void SetLocation(const TKtInetActivityAddress* Value) { FLocation->Assign(Value); }
  const String& LocationDescription() const { return FLocationDescription; }
  void SetLocationDescription(const String& Value) { FLocationDescription = Value; }
  const String& LocationSignedForByName() const { return FLocationSignedForByName; }
  void SetLocationSignedForByName(const String& Value) { FLocationSignedForByName = Value; }
  const String& StatusTypeCode() const { return FStatusTypeCode; }
  void SetStatusTypeCode(const String& Value) { FStatusTypeCode = Value; }
  const String& StatusTypeDescription() const { return FStatusTypeDescription; }
  void SetStatusTypeDescription(const String& Value) { FStatusTypeDescription = Value; }
  const String& StatusCode() const { return FStatusCode; }
  void SetStatusCode(const String& Value) { FStatusCode = Value; }
  TDateTime DateTime() const { return FDateTime; }
  void SetDateTime(TDateTime Value) { FDateTime = Value; }

 private:
  String FLocationCode;
  std::unique_ptr<TKtInetActivityAddress> FLocation;
  String FLocationDescription;
  String FLocationSignedForByName;
  String FStatusTypeCode;
  String FStatusTypeDescription;
  String FStatusCode;
  TDateTime FDateTime = 0;
};

class TKtInetActivities : public TCollection {
 public:
  explicit TKtInetActivities(TComponent* KtInetCntrl);

  TKtInetActivity* Add() { return static_cast<TKtInetActivity*>(TCollection::Add()); }
  TKtInetActivity* Items(int Index) const { return static_cast<TKtInetActivity*>(TCollection::Items(Index)); }
  TKtInetActivity* operator[](int Index) const { return Items(Index); }
  // Copies Value into the existing item at Index.
  void SetItems(int Index, const TKtInetActivity* Value) { Items(Index)->Assign(Value); }

 protected:
  TPersistent* GetOwner() const override;

 private:
  TComponent* FKtInetControl;
};

// The shipment as a tracker's last answer describes it; the trackers derive from this class
// besides their component base, and their parsers fill the fields.
class TKtShipmentDetails {
 public:
  TKtShipmentDetails();
  virtual ~TKtShipmentDetails();
  TKtShipmentDetails(const TKtShipmentDetails&) = delete;
  TKtShipmentDetails& operator=(const TKtShipmentDetails&) = delete;

  const String& ShipperNumber() const { return FShipperNumber; }
  TKtInetActivityAddress* ShipperAddress() const { return FShipperAddress.get(); }
  TKtInetActivityAddress* ShipToAddress() const { return FShipToAddress.get(); }
  const String& IdentificationNumber() const { return FIdentificationNumber; }
  // UPS: the pickup date (date only; kept when an answer's date cannot be read). FedEx: the actual
  // delivery time stamp (0 when an answer has none).
  TDateTime PickupDate() const { return FPickupDate; }
  const String& ServiceCode() const { return FServiceCode; }
  const String& ServiceDescription() const { return FServiceDescription; }
  const String& ShipmentWeight() const { return FShipmentWeight; }
  const String& ShipmentWeightUnits() const { return FShipmentWeightUnits; }

 protected:
  String FShipperNumber;
  std::unique_ptr<TKtInetActivityAddress> FShipperAddress;
  std::unique_ptr<TKtInetActivityAddress> FShipToAddress;
  String FIdentificationNumber;
  TDateTime FPickupDate = 0;
  String FServiceCode;
  String FServiceDescription;
  String FShipmentWeight;
  String FShipmentWeightUnits;
};

}  // namespace ktinet
