// Form files in the framework's text form: components with their published properties.
//
//   object DataModule1: TDataModule
//     object KtWhoIs1: TKtWhoIs
//       Port = 43
//       Proxy.UseProxy = False
//       Domain = 'example.org'
//       ServerList.Strings = (
//         '*=whois.example.net')
//     end
//   end
//
// Writing lists every stored property in published order and leaves out values equal to their
// stored default; nested objects are written as Prop.Sub lines, string lists as Prop.Strings = (...)
// and collections as Prop = < item ... end >. Reading creates the classes (they must be registered
// with RegisterClass), applies the properties in file order through their writers and links
// component references once the whole file is read. Anything the reader cannot apply raises
// EReadError naming the line.
#pragma once

#include <memory>

#include "rtl/Classes.h"
#include "rtl/TypInfo.h"

namespace ktinet {

// A non-visual container for components: the root of a form file that holds no form.
class TDataModule : public TComponent {
  KTINET_PUBLISHED(TDataModule)
 public:
  using TComponent::TComponent;
};

// The text of Root and of every component it owns (CR LF line ends, ASCII: other characters of
// strings are written as #code).
String WriteComponentText(const TComponent* Root);

// Creates the root object of a form file (with Owner), its components (owned by the root) and
// their properties. The root's class must be a registered component class.
std::unique_ptr<TComponent> ReadComponentText(const String& Text, TComponent* Owner = nullptr);

// Applies a form file to an existing root: its class must be the one the file names; the
// components of the file are created and owned by Root.
void ReadComponentTextInto(const String& Text, TComponent* Root);

// A string in the form file's notation: 'text' with '' for a quote, #code for characters
// outside printable ASCII ('' for an empty string).
String QuoteFormString(const String& S);

}  // namespace ktinet
