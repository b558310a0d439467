// Text, conversion and file functions of the run-time stand-in, and Format.
// Indexes are 0-based unless a name says otherwise.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "rtl/Exceptions.h"
#include "rtl/System.h"

namespace ktinet {

// ---- Format -------------------------------------------------------------------------------
// One argument of Format: an integer, a floating-point value or a text.
class TVarRec {
 public:
  // The enumerator Integer is scoped and never meets the type ktinet::Integer; g++ warns all the same.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
  enum class Kind { Integer, Unsigned, Float, Text, Pointer };
#pragma GCC diagnostic pop
  TVarRec(int v) : FKind(Kind::Integer), FInt(v) {}
  TVarRec(long v) : FKind(Kind::Integer), FInt(v) {}
  TVarRec(long long v) : FKind(Kind::Integer), FInt(v) {}
  TVarRec(unsigned v) : FKind(Kind::Unsigned), FUInt(v) {}
  TVarRec(unsigned long v) : FKind(Kind::Unsigned), FUInt(v) {}
  TVarRec(unsigned long long v) : FKind(Kind::Unsigned), FUInt(v) {}
  TVarRec(double v) : FKind(Kind::Float), FFloat(v) {}
  TVarRec(const String& v) : FKind(Kind::Text), FText(v) {}
  TVarRec(const Char* v) : FKind(Kind::Text), FText(v ? v : u"") {}
  TVarRec(const char* utf8) : FKind(Kind::Text), FText(UTF8ToString(utf8 ? utf8 : "")) {}
  TVarRec(const std::string& utf8) : FKind(Kind::Text), FText(UTF8ToString(utf8)) {}
  TVarRec(Char c) : FKind(Kind::Text), FText(1, c) {}  // a character formats with %s
  TVarRec(char c) : FKind(Kind::Text), FText(1, static_cast<Char>(static_cast<unsigned char>(c))) {}
  TVarRec(const void* p) : FKind(Kind::Pointer), FUInt(reinterpret_cast<std::uintptr_t>(p)) {}  // for %p

  Kind kind() const { return FKind; }
  long long AsInt() const { return FInt; }
  unsigned long long AsUInt() const { return FUInt; }
  double AsFloat() const { return FFloat; }
  const String& AsText() const { return FText; }

 private:
  Kind FKind;
  long long FInt = 0;
  unsigned long long FUInt = 0;
  double FFloat = 0;
  String FText;
};

// The framework's Format: %s %d %u %x %X %f %g %e %n %m %p %%, with "%[index:][-][width][.prec]type".
// A specifier whose argument has the wrong kind, or a missing argument, raises EConvertError
// ("Format '%d' invalid or incompatible with argument"). %x and %p give upper-case digits as the
// framework does; %u and %x show a negative Integer within 32 bits as its 32-bit pattern.
String Format(const String& fmt, std::initializer_list<TVarRec> args);
String Format(const String& fmt, const std::vector<TVarRec>& args);

// ---- Text ---------------------------------------------------------------------------------
String Trim(const String& s);        // drops characters <= ' ' at both ends
String TrimLeft(const String& s);
String TrimRight(const String& s);
String UpperCase(const String& s);   // ASCII letters only, as the framework's UpperCase
String LowerCase(const String& s);
String AnsiUpperCase(const String& s);  // every letter the ANSI code page knows (Latin-1 range)
String AnsiLowerCase(const String& s);
int CompareStr(const String& a, const String& b);   // ordinal: <0, 0, >0
int CompareText(const String& a, const String& b);  // ASCII case-insensitive
bool SameText(const String& a, const String& b);
bool SameStr(const String& a, const String& b);
bool StartsText(const String& prefix, const String& s);
bool EndsText(const String& suffix, const String& s);
// 1-based position of `sub` in `s` from 1-based `offset`; 0 when absent (the framework's Pos).
size_t Pos(const String& sub, const String& s, size_t offset = 1);
// The framework's Copy: 1-based index, count clipped to the text.
String Copy(const String& s, size_t index1, size_t count);
enum TReplaceFlag : unsigned { rfReplaceAll = 1, rfIgnoreCase = 2 };
String StringReplace(const String& s, const String& oldPattern, const String& newPattern, unsigned flags);

// Text that goes into a request line or a header line (a URL, a header, a name, a user name):
// a CR or LF there would end the line and start one the caller never wrote, and a zero byte cuts
// the text short in many servers. HasLineBreakOrNul tells whether Text holds any of the three;
// CheckRequestText raises EConvertError naming What ("The request", "Header line 2" ...) and the
// offending character when it does.
bool HasLineBreakOrNul(const String& Text);
void CheckRequestText(const String& Text, const String& What);
String QuotedStr(const String& s);
String StringOfChar(Char c, size_t count);

String IntToStr(long long v);
String UIntToStr(unsigned long long v);
String IntToHex(unsigned long long v, int digits);
// Raises EConvertError "'abc' is not a valid integer value". Accepts leading spaces (not trailing
// ones), a sign, and "$"/"0x" hexadecimal as the framework does; hexadecimal may use all 32 bits
// ("$FFFFFFFF" is -1), decimal must fit the signed range.
int StrToInt(const String& s);
long long StrToInt64(const String& s);
int StrToIntDef(const String& s, int fallback);
bool TryStrToInt(const String& s, int& out);
bool TryStrToInt64(const String& s, long long& out);
String FloatToStr(double v);
// A finite number in C notation ("46000.25", "-1e3"); false for anything else, blanks included.
bool TryStrToFloat(const String& s, double& out);
String BoolToStr(bool b, bool useBoolStrs = false);

// ---- Files --------------------------------------------------------------------------------
constexpr Char PathDelim = u'/';
String ChangeFileExt(const String& fileName, const String& ext);
String ExtractFileName(const String& fileName);
String ExtractFilePath(const String& fileName);  // with the trailing delimiter
String ExtractFileDir(const String& fileName);   // without it
String ExtractFileExt(const String& fileName);   // with the dot; empty when none
String IncludeTrailingPathDelimiter(const String& path);
String ExcludeTrailingPathDelimiter(const String& path);
bool FileExists(const String& fileName);         // a file, not a directory
bool DirectoryExists(const String& dir);
bool DeleteFile(const String& fileName);
bool RenameFile(const String& oldName, const String& newName);
bool CreateDir(const String& dir);
bool ForceDirectories(const String& dir);
bool RemoveDir(const String& dir);
String GetCurrentDir();
String ExpandFileName(const String& fileName);
// ParamStr(0) is the full path of the running executable (/proc/self/exe).
String ParamStr(int index);
int ParamCount();
// Text of an OS error number (errno), as the framework's SysErrorMessage.
String SysErrorMessage(int errorCode);
int GetLastError();  // errno
String GetEnvironmentVariable(const String& name);
// The system's temporary directory ($TMPDIR or /tmp) with a trailing delimiter.
String GetTempDir();
// Copies a file; false on failure (errno tells why). failIfExists as the Windows call.
bool CopyFile(const String& source, const String& dest, bool failIfExists);
// File size in bytes, -1 when the file cannot be read.
Int64 FileSizeOf(const String& fileName);

// ---- File search --------------------------------------------------------------------------
// A Windows FILETIME: 100-nanosecond intervals since 1601-01-01 UTC.
struct FILETIME {
  Cardinal dwLowDateTime = 0;
  Cardinal dwHighDateTime = 0;
};
constexpr int faReadOnly = 0x01;
constexpr int faHidden = 0x02;
constexpr int faSysFile = 0x04;
constexpr int faDirectory = 0x10;
constexpr int faArchive = 0x20;
constexpr int faNormal = 0x80;
constexpr int faAnyFile = 0x1FF;

struct TSearchRec {
  String Name;           // name only, no path
  Int64 Size = 0;
  int Attr = 0;          // faDirectory for directories, faReadOnly when not writable, faHidden for dot names
  FILETIME LastWriteTime;  // as the Windows find data's ftLastWriteTime
  double TimeStamp = 0;    // local TDateTime of the last write
  // internal
  void* FindHandle = nullptr;
  String FPath;
  String FMask;
  int FAttrMask = 0;
};
// Windows mask rules: '*' any run, '?' one character, case-insensitive; "*.*" and "*" match every
// name ("." and ".." included when listed). Returns 0 on success, an errno-style code otherwise.
int FindFirst(const String& pathAndMask, int attr, TSearchRec& rec);
int FindNext(TSearchRec& rec);
void FindClose(TSearchRec& rec);
bool MatchesMask(const String& name, const String& mask);

}  // namespace ktinet
