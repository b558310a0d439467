// TIniFile with the private-profile rules: sections and keys in file order,
// case-insensitive section and key names, blanks around keys and values dropped,
// the key is the text before the first '=', a missing file reads as no sections.
//
// Lines: "[name]" opens a section (an unclosed "[" takes the rest of the line as the name);
// "key=value" (one pair of enclosing double or single quotes is dropped from the value);
// a line without '=' is a key with an empty value; ';' starts a comment; lines before the
// first section are ignored. Where a section or key appears twice, the first one answers.
// The file is read again whenever it has changed on disk, and every Write*, EraseSection and
// DeleteKey rewrites it at once, keeping comments, blank lines, unknown lines and its encoding
// (UTF-8 with or without BOM, UTF-16LE with BOM, or Windows-1252, which turns into UTF-8 when a
// value needs characters it lacks) and its line ends (CR LF, or LF when the file used LF).
// Failures to write raise EIniFileException "Unable to write to NAME. REASON"; a file that
// exists but cannot be read is never overwritten. As in the framework, SectionExists is true
// only for a section with at least one key.
#pragma once

#include <initializer_list>

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
  void Refresh() const;
  void CheckWritable(std::initializer_list<const String*> texts);
  String FFileName;
  std::unique_ptr<Impl> FImpl;
};

}  // namespace ktinet
