// Streams: TStream, TFileStream, TMemoryStream, TStringStream.
#pragma once

#include <string>

#include "rtl/Classes.h"

namespace ktinet {

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

// File modes of the framework.
constexpr Word fmCreate = 0xFF00;
constexpr Word fmOpenRead = 0x0000;
constexpr Word fmOpenWrite = 0x0001;
constexpr Word fmOpenReadWrite = 0x0002;
constexpr Word fmShareCompat = 0x0000;
constexpr Word fmShareExclusive = 0x0010;
constexpr Word fmShareDenyWrite = 0x0020;
constexpr Word fmShareDenyRead = 0x0030;
constexpr Word fmShareDenyNone = 0x0040;

class TStream : public TObject {
 public:
  virtual long Read(void* buffer, long count) = 0;
  virtual long Write(const void* buffer, long count) = 0;
  virtual Int64 Seek(Int64 offset, TSeekOrigin origin) = 0;

  // Raise EReadError "Stream read error" / EWriteError "Stream write error" when short.
  void ReadBuffer(void* buffer, long count);
  void WriteBuffer(const void* buffer, long count);
  // Copies `count` bytes from `source` (all of it from the start when count is 0).
  Int64 CopyFrom(TStream* source, Int64 count);

  Int64 Position();
  void SetPosition(Int64 pos);
  virtual Int64 Size();
  virtual void SetSize(Int64 newSize);
};

// A stream over a POSIX file descriptor.
class THandleStream : public TStream {
 public:
  explicit THandleStream(int handle) : FHandle(handle) {}
  long Read(void* buffer, long count) override;
  long Write(const void* buffer, long count) override;
  Int64 Seek(Int64 offset, TSeekOrigin origin) override;
  void SetSize(Int64 newSize) override;
  int Handle() const { return FHandle; }

 protected:
  int FHandle = -1;
};

// Opens or creates a file. Failures raise EFCreateError 'Cannot create file "NAME". REASON'
// or EFOpenError 'Cannot open file "NAME". REASON' (REASON is SysErrorMessage(errno), or
// "The process cannot access the file because it is being used by another process.").
// fmCreate creates or truncates the file and opens it for reading and writing; the access is
// mode & 3 otherwise. Directories are refused.
//
// Sharing is emulated with flock() advisory locks on regular files, which every TFileStream
// respects (other programs may ignore them):
//   share mode                    read-only open        write or create
//   fmShareCompat (0)             holds LOCK_SH         holds LOCK_EX
//   fmShareDenyWrite              holds LOCK_SH         holds LOCK_EX
//   fmShareExclusive, DenyRead    holds LOCK_EX         holds LOCK_EX
//   fmShareDenyNone               holds nothing, but fails if LOCK_SH (reading) or LOCK_EX
//                                 (writing) cannot be had at that moment
// So readers that deny writing coexist, and a writer is refused while any of them is open.
// A lock that cannot be had fails the open at once (no waiting). fmCreate truncates only
// after its lock is held, so a refused create leaves the file as it was.
class TFileStream : public THandleStream {
 public:
  TFileStream(const String& fileName, Word mode, Cardinal rights = 0644);
  ~TFileStream() override;
  const String& FileName() const { return FFileName; }

 private:
  String FFileName;
};

class TCustomMemoryStream : public TStream {
 public:
  long Read(void* buffer, long count) override;
  Int64 Seek(Int64 offset, TSeekOrigin origin) override;
  void SaveToStream(TStream* stream);
  void SaveToFile(const String& fileName);
  const void* Memory() const { return FData.data(); }
  void* Memory() { return FData.data(); }

 protected:
  std::string FData;
  Int64 FPosition = 0;
};

class TMemoryStream : public TCustomMemoryStream {
 public:
  long Write(const void* buffer, long count) override;
  void SetSize(Int64 newSize) override;
  void Clear();
  void LoadFromStream(TStream* stream);
  void LoadFromFile(const String& fileName);
  // The bytes held, without copying.
  const std::string& Bytes() const { return FData; }
};

// A stream over bytes that knows how to turn a String into them and back.
class TStringStream : public TMemoryStream {
 public:
  // The text is stored in `encoding` (the ANSI code page by default).
  explicit TStringStream(const String& text = String(), TTextEncoding encoding = TTextEncoding::Ansi);
  // The bytes as they are.
  static TStringStream FromBytes(std::string bytes);
  String DataString() const;
  void WriteString(const String& s);
  String ReadString(long count);
  TTextEncoding Encoding() const { return FEncoding; }

 private:
  TTextEncoding FEncoding;
};

}  // namespace ktinet
