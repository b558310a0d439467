#include "services/KtIActivityAddress.h"

namespace ktinet {

// ---- TKtInetActivityAddress --------------------------------------------------------------------

void TKtInetActivityAddress::Assign(const TPersistent* Source) {
  if (auto* src = dynamic_cast<const TKtInetActivityAddress*>(Source)) {
    FAddressLine1 = src->FAddressLine1;
    FAddressLine2 = src->FAddressLine2;
    FAddressLine3 = src->FAddressLine3;
    FCity = src->FCity;
    FPostalCode = src->FPostalCode;
    FCountry = src->FCountry;
    return;
  }
  TPersistent::Assign(Source);
}

String TKtInetActivityAddress::Text() const {
  String out;
  for (const String* part : {&FAddressLine1, &FAddressLine2, &FAddressLine3, &FCity, &FPostalCode, &FCountry}) {
    if (part->empty()) continue;
    if (!out.empty()) out += u' ';
    out += *part;
  }
  return out;
}

const TClassInfo* TKtInetActivityAddress::StaticClassInfo() {
  static const TClassInfo* info = TClassBuilder<TKtInetActivityAddress>(u"TKtInetActivityAddress", nullptr)
      .Property(u"AddressLine1", &TKtInetActivityAddress::AddressLine1, &TKtInetActivityAddress::SetAddressLine1)
      .Property(u"AddressLine2", &TKtInetActivityAddress::AddressLine2, &TKtInetActivityAddress::SetAddressLine2)
      .Property(u"AddressLine3", &TKtInetActivityAddress::AddressLine3, &TKtInetActivityAddress::SetAddressLine3)
      .Property(u"City", &TKtInetActivityAddress::City, &TKtInetActivityAddress::SetCity)
      .Property(u"PostalCode", &TKtInetActivityAddress::PostalCode, &TKtInetActivityAddress::SetPostalCode)
      .Property(u"Country", &TKtInetActivityAddress::Country, &TKtInetActivityAddress::SetCountry)
      .Build();
  return info;
}

}  // namespace ktinet
