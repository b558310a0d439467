// TIniFile::LoadFromText over arbitrary bytes (one character per byte), then every section and
// value read back: nothing may crash, leak or raise anything but the framework's exceptions.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rtl/Classes.h"
#include "rtl/IniFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ktinet;
  String text = BytesToString(std::string_view(reinterpret_cast<const char*>(data), size));
  try {
    TIniFile ini(u"/nonexistent-ktinet-fuzz/fuzz.ini");
    ini.LoadFromText(text);
    TStringList sections, values;
    ini.ReadSections(&sections);
    for (int i = 0; i < sections.Count(); ++i) {
      ini.ReadSectionValues(sections[i], &values);
      ini.ReadString(sections[i], u"key", u"");
      ini.ValueExists(sections[i], u"key");
    }
  } catch (const Exception&) {
  }
  return 0;
}
