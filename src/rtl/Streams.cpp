#include "rtl/Streams.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

static_assert(sizeof(off_t) >= 8, "streams need 64-bit file offsets");

namespace ktinet {

// ---- TStream -------------------------------------------------------------------------------

void TStream::ReadBuffer(void* buffer, long count) {
  auto* p = static_cast<char*>(buffer);
  long done = 0;
  while (done < count) {
    long n = Read(p + done, count - done);
    if (n <= 0) throw EReadError(u"Stream read error");
    done += n;
  }
}

void TStream::WriteBuffer(const void* buffer, long count) {
  auto* p = static_cast<const char*>(buffer);
  long done = 0;
  while (done < count) {
    long n = Write(p + done, count - done);
    if (n <= 0) throw EWriteError(u"Stream write error");
    done += n;
  }
}

Int64 TStream::CopyFrom(TStream* source, Int64 count) {
  if (count <= 0) {
    source->SetPosition(0);
    count = source->Size();
  }
  constexpr long kBufferSize = 64 * 1024;
  std::vector<char> buffer(static_cast<size_t>(std::min<Int64>(std::max<Int64>(count, 1), kBufferSize)));
  Int64 left = count;
  while (left > 0) {
    long n = static_cast<long>(std::min<Int64>(left, static_cast<Int64>(buffer.size())));
    source->ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    left -= n;
  }
  return count;
}

Int64 TStream::Position() { return Seek(0, soCurrent); }

void TStream::SetPosition(Int64 pos) { Seek(pos, soBeginning); }

Int64 TStream::Size() {
  Int64 pos = Seek(0, soCurrent);
  Int64 size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TStream::SetSize(Int64) {}

// ---- THandleStream -------------------------------------------------------------------------

long THandleStream::Read(void* buffer, long count) {
  if (count <= 0) return 0;
  ssize_t n;
  do n = ::read(FHandle, buffer, static_cast<size_t>(count));
  while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

long THandleStream::Write(const void* buffer, long count) {
  if (count <= 0) return 0;
  ssize_t n;
  do n = ::write(FHandle, buffer, static_cast<size_t>(count));
  while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

Int64 THandleStream::Seek(Int64 offset, TSeekOrigin origin) {
  int whence = origin == soCurrent ? SEEK_CUR : origin == soEnd ? SEEK_END : SEEK_SET;
  return static_cast<Int64>(::lseek(FHandle, static_cast<off_t>(offset), whence));
}

void THandleStream::SetSize(Int64 newSize) {
  if (::ftruncate(FHandle, static_cast<off_t>(newSize)) != 0)
    throw EStreamError(u"Cannot change the size of the stream. " + SysErrorMessage(errno));
  Seek(newSize, soBeginning);
}

// ---- TFileStream ---------------------------------------------------------------------------

namespace {

// The advisory lock a TFileStream takes and holds: LOCK_SH, LOCK_EX or 0 (none), and the lock
// it only probes for (taken and dropped at once) to learn whether it may open at all.
struct ShareLock {
  int hold = 0;
  int probe = 0;
};

ShareLock LockFor(Word mode, bool writing) {
  switch (mode & 0xF0) {
    case fmShareDenyNone:
      // Holds nothing, but still may not read past an exclusive holder nor write past a reader
      // that denies writing.
      return {0, writing ? LOCK_EX : LOCK_SH};
    case fmShareDenyWrite:
      // Readers that deny writing coexist; a writer that denies writing has to be alone.
      return {writing ? LOCK_EX : LOCK_SH, 0};
    case fmShareExclusive:
    case fmShareDenyRead:
      return {LOCK_EX, 0};
    default:  // fmShareCompat
      return {writing ? LOCK_EX : LOCK_SH, 0};
  }
}

const char16_t* kInUse = u"The process cannot access the file because it is being used by another process.";

[[noreturn]] void RaiseOpenError(bool creating, const String& fileName, const String& reason) {
  String text = (creating ? u"Cannot create file \"" : u"Cannot open file \"") + fileName + u"\". " + reason;
  if (creating) throw EFCreateError(text);
  throw EFOpenError(text);
}

}  // namespace

TFileStream::TFileStream(const String& fileName, Word mode, Cardinal rights) : THandleStream(-1), FFileName(fileName) {
  const bool creating = (mode & fmCreate) == fmCreate;
  int access = mode & 3;
  if (!creating && access == 3) RaiseOpenError(false, fileName, SysErrorMessage(EINVAL));
  int flags = O_CLOEXEC | O_NOCTTY;
  if (creating)
    flags |= O_RDWR | O_CREAT;  // truncated only once the lock is ours
  else
    flags |= access == fmOpenWrite ? O_WRONLY : access == fmOpenReadWrite ? O_RDWR : O_RDONLY;
  const std::string path = UTF8Encode(fileName);
  int fd;
  do fd = ::open(path.c_str(), flags, static_cast<mode_t>(rights));
  while (fd < 0 && errno == EINTR);
  if (fd < 0) RaiseOpenError(creating, fileName, SysErrorMessage(errno));

  auto fail = [&](const String& reason) {
    ::close(fd);
    RaiseOpenError(creating, fileName, reason);
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0) fail(SysErrorMessage(errno));
  if (S_ISDIR(st.st_mode)) fail(SysErrorMessage(EISDIR));

  ShareLock lock = LockFor(mode, creating || access != fmOpenRead);
  // Locks only mean something between regular files; a FIFO or device is shared as it is.
  if (S_ISREG(st.st_mode)) {
    if (lock.probe) {
      if (::flock(fd, lock.probe | LOCK_NB) != 0) fail(errno == EWOULDBLOCK ? String(kInUse) : SysErrorMessage(errno));
      ::flock(fd, LOCK_UN);
    }
    if (lock.hold && ::flock(fd, lock.hold | LOCK_NB) != 0)
      fail(errno == EWOULDBLOCK ? String(kInUse) : SysErrorMessage(errno));
    if (creating && ::ftruncate(fd, 0) != 0) fail(SysErrorMessage(errno));
  }
  FHandle = fd;
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

// ---- Memory streams ------------------------------------------------------------------------

long TCustomMemoryStream::Read(void* buffer, long count) {
  Int64 size = static_cast<Int64>(FData.size());
  if (FPosition < 0 || count <= 0 || FPosition >= size) return 0;
  long n = static_cast<long>(std::min<Int64>(count, size - FPosition));
  std::memcpy(buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

Int64 TCustomMemoryStream::Seek(Int64 offset, TSeekOrigin origin) {
  switch (origin) {
    case soBeginning:
      FPosition = offset;
      break;
    case soCurrent:
      FPosition += offset;
      break;
    case soEnd:
      FPosition = static_cast<Int64>(FData.size()) + offset;
      break;
  }
  return FPosition;
}

void TCustomMemoryStream::SaveToStream(TStream* stream) {
  if (!FData.empty()) stream->WriteBuffer(FData.data(), static_cast<long>(FData.size()));
}

void TCustomMemoryStream::SaveToFile(const String& fileName) {
  TFileStream stream(fileName, fmCreate);
  SaveToStream(&stream);
}

namespace {

// Room for `needed` bytes, at least doubling so that a run of small writes stays linear.
void Reserve(std::string& data, size_t needed) {
  if (needed <= data.capacity()) return;
  try {
    data.reserve(std::max<size_t>({needed, data.capacity() * 2, 256}));
  } catch (const std::bad_alloc&) {
    throw EStreamError(u"Out of memory while expanding memory stream");
  } catch (const std::length_error&) {
    throw EStreamError(u"Out of memory while expanding memory stream");
  }
}

}  // namespace

long TMemoryStream::Write(const void* buffer, long count) {
  if (FPosition < 0 || count <= 0) return 0;
  size_t end = static_cast<size_t>(FPosition) + static_cast<size_t>(count);
  if (end > FData.size()) {
    Reserve(FData, end);
    FData.resize(end);
  }
  std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
  FPosition = static_cast<Int64>(end);
  return count;
}

void TMemoryStream::SetSize(Int64 newSize) {
  if (newSize < 0) newSize = 0;
  Reserve(FData, static_cast<size_t>(newSize));
  FData.resize(static_cast<size_t>(newSize));
  if (FPosition > newSize) FPosition = newSize;
}

void TMemoryStream::Clear() {
  std::string().swap(FData);
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream* stream) {
  stream->SetPosition(0);
  Int64 size = stream->Size();
  SetSize(size);
  if (size > 0) stream->ReadBuffer(FData.data(), static_cast<long>(size));
  FPosition = 0;
}

void TMemoryStream::LoadFromFile(const String& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&stream);
}

// ---- TStringStream -------------------------------------------------------------------------

TStringStream::TStringStream(const String& text, TTextEncoding encoding) : FEncoding(encoding) {
  FData = EncodeString(text, encoding);
}

TStringStream TStringStream::FromBytes(std::string bytes) {
  TStringStream stream;
  stream.FData = std::move(bytes);
  return stream;
}

String TStringStream::DataString() const { return DecodeBytes(FData, FEncoding); }

void TStringStream::WriteString(const String& s) {
  std::string bytes = EncodeString(s, FEncoding);
  WriteBuffer(bytes.data(), static_cast<long>(bytes.size()));
}

String TStringStream::ReadString(long count) {
  Int64 size = static_cast<Int64>(FData.size());
  if (count <= 0 || FPosition < 0 || FPosition >= size) return String();
  long n = static_cast<long>(std::min<Int64>(count, size - FPosition));
  String s = DecodeBytes(std::string_view(FData).substr(static_cast<size_t>(FPosition), static_cast<size_t>(n)), FEncoding);
  FPosition += n;
  return s;
}

}  // namespace ktinet
