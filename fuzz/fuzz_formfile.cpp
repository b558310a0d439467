// The form-file reader over arbitrary text, with every class of the suite registered: nothing
// may crash, leak or raise anything but the framework's exceptions; what loads writes again.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "design/KtInetR.h"
#include "rtl/FormFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ktinet;
  static const bool registered = [] {
    Register();
    RegisterFormClasses();
    return true;
  }();
  (void)registered;
  String text = BytesToString(std::string_view(reinterpret_cast<const char*>(data), size));
  try {
    auto root = ReadComponentText(text);
    String again = WriteComponentText(root.get());
    ReadComponentText(again);
  } catch (const Exception&) {
  }
  return 0;
}
