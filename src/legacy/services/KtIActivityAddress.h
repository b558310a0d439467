// The address of a tracking event in the package for host version 10: six parts, no State.
#pragma once

#include "rtl/Classes.h"
#include "rtl/TypInfo.h"

namespace ktinet {

class TKtInetActivityAddress : public TPersistent {
  KTINET_PUBLISHED(TKtInetActivityAddress)

 public:
  void Assign(const TPersistent* Source) override;

  const String& AddressLine1() const { return FAddressLine1; }
  void SetAddressLine1(const String& Value) { FAddressLine1 = Value; }
  const String& AddressLine2() const { return FAddressLine2; }
  void SetAddressLine2(const String& Value) { FAddressLine2 = Value; }
  const String& AddressLine3() const { return FAddressLine3; }
  void SetAddressLine3(const String& Value) { FAddressLine3 = Value; }
  const String& City() const { return FCity; }
  void SetCity(const String& Value) { FCity = Value; }
  const String& PostalCode() const { return FPostalCode; }
  void SetPostalCode(const String& Value) { FPostalCode = Value; }
  const String& Country() const { return FCountry; }
  void SetCountry(const String& Value) { FCountry = Value; }

  // The non-empty parts, in declaration order, joined by one blank.
  String Text() const;

 private:
  String FAddressLine1, FAddressLine2, FAddressLine3, FCity, FPostalCode, FCountry;
};

}  // namespace ktinet
