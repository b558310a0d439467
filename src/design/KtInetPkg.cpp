#include "design/KtInetPkg.h"

// The build names the host version of the package it compiles this unit for.
#ifndef KTINET_PACKAGE_HOST_VERSION
#error "KTINET_PACKAGE_HOST_VERSION (\"10\" ... \"10.4\") must be defined"
#endif

namespace ktinet {

namespace {

constexpr char16_t kHostVersion[] = u"" KTINET_PACKAGE_HOST_VERSION;

}  // namespace

String HostVersion() { return kHostVersion; }

String PackageName() {
  String name = u"KtInetRX";
  for (Char c : String(kHostVersion))
    if (c != u'.') name += c;
  return name;
}

bool HasLegacyTrackers() { return HostVersion() == u"10"; }

}  // namespace ktinet
