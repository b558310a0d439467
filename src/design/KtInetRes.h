// Design-time resources of the package: the component palette's bitmaps and the
// package's description.
//
// The host IDE finds a component's palette image by the component's class name in
// upper case ("TKTISMTP"); a class without a bitmap of its own shows the IDE's
// default image. The RSS parser and the SNTP client are such classes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "rtl/System.h"

namespace ktinet {

// The package's description resource: "Ardenfold Internet components".
String PackageDescription();

// The names of the palette bitmaps the package carries, in palette order.
std::vector<String> PaletteBitmapNames();

// Looks a palette bitmap up by name, ignoring case as the IDE's resource lookup does.
// On success Bmp receives a complete .bmp file (24 x 24, 24 bits per pixel, rows
// bottom-up, the lower-left pixel in the transparent colour); otherwise false and
// Bmp is left as it was.
bool FindPaletteBitmap(std::u16string_view ResourceName, std::string& Bmp);

}  // namespace ktinet
