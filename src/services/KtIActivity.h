// One event of a parcel's history and the collection of them, as both forms of the trackers
// keep them; the event's address is the build's TKtInetActivityAddress.
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

}  // namespace ktinet
