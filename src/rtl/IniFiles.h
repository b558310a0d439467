// TIniFile with the private-profile rules: sections and keys in file order,
// case-insensitive section and key names, blanks around keys and values dropped,
// the key is the text before the first '=', a missing file reads as no sections.
#pragma once

#include "rtl/Classes.h"

namespace ktinet {

class TIniFile : public TObject {
 public:
  explicit TIniFile(const String& fileName);
  ~TIniFile() override;
  const String& FileName() const { return FFileName; }

  String ReadString(const String& section, const String& ident, const String& def) const;
  int ReadInteger(const String& section, const String& ident, int def) const;
  bool ReadBool(const String& section, const String& ident, bool def) const;
  void WriteString(const String& section, const String& ident, const String& value);
  void WriteInteger(const String& section, const String& ident, int value);
  void WriteBool(const String& section, const String& ident, bool value);
  void ReadSections(TStrings* strings) const;
  void ReadSection(const String& section, TStrings* strings) const;        // the keys
  void ReadSectionValues(const String& section, TStrings* strings) const;  // key=value lines
  bool SectionExists(const String& section) const;
  bool ValueExists(const String& section, const String& ident) const;
  void EraseSection(const String& section);
  void DeleteKey(const String& section, const String& ident);
  void UpdateFile();

  // Parses INI text (exposed for tests and fuzzing).
  void LoadFromText(const String& text);

 private:
  struct Impl;
  String FFileName;
  std::unique_ptr<Impl> FImpl;
};

}  // namespace ktinet
