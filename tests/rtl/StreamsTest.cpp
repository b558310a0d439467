#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <set>
#include <string>

#include "rtl/Streams.h"
#include "support/TempDir.h"

using namespace ktinet;

namespace {

template <class E, class F>
String MessageOf(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message();
  }
  ADD_FAILURE() << "no exception";
  return String();
}

void WriteText(TStream& s, const std::string& text) { s.WriteBuffer(text.data(), static_cast<long>(text.size())); }

std::string ReadAll(TStream& s) {
  std::string out(static_cast<size_t>(s.Size() - s.Position()), '\0');
  if (!out.empty()) s.ReadBuffer(out.data(), static_cast<long>(out.size()));
  return out;
}

TEST(FileStream, ModesAndErrors) {
  test::TempDir dir;
  String name = Str(dir / "data.bin");
  {
    TFileStream f(name, fmCreate);
    WriteText(f, "hello world");
    EXPECT_EQ(f.Size(), 11);
    f.SetPosition(6);
    EXPECT_EQ(ReadAll(f), "world");  // fmCreate opens for reading too
  }
  {
    TFileStream f(name, fmOpenReadWrite);
    f.Seek(-5, soEnd);
    WriteText(f, "there");
    f.SetSize(8);
    EXPECT_EQ(f.Position(), 8);
  }
  EXPECT_EQ(test::ReadFileBytes(dir / "data.bin"), "hello th");
  {
    TFileStream f(name, fmCreate);  // truncates
    EXPECT_EQ(f.Size(), 0);
  }
  {
    TFileStream f(name, fmOpenRead);
    char c;
    EXPECT_EQ(MessageOf<EReadError>([&] { f.ReadBuffer(&c, 1); }), u"Stream read error");
    EXPECT_EQ(MessageOf<EWriteError>([&] { WriteText(f, "x"); }), u"Stream write error");
  }

  String missing = Str(dir / "none/x.txt");
  EXPECT_EQ(MessageOf<EFOpenError>([&] { TFileStream f(missing, fmOpenRead); }),
            u"Cannot open file \"" + missing + u"\". " + SysErrorMessage(ENOENT));
  EXPECT_EQ(MessageOf<EFCreateError>([&] { TFileStream f(missing, fmCreate); }),
            u"Cannot create file \"" + missing + u"\". " + SysErrorMessage(ENOENT));
  String dirName = Str(dir.Path());
  EXPECT_EQ(MessageOf<EFOpenError>([&] { TFileStream f(dirName, fmOpenRead); }),
            u"Cannot open file \"" + dirName + u"\". " + SysErrorMessage(EISDIR));
  EXPECT_THROW(TFileStream(name, fmOpenRead | 3), EFOpenError);
}

TEST(FileStream, SharingFollowsTheLockTable) {
  test::TempDir dir;
  String name = Str(dir.Write("shared.txt", "keep me"));
  {
    TFileStream reader(name, fmOpenRead | fmShareDenyWrite);
    TFileStream reader2(name, fmOpenRead | fmShareDenyWrite);  // readers that deny writing coexist
    String msg = MessageOf<EFOpenError>([&] { TFileStream w(name, fmOpenWrite); });
    EXPECT_EQ(msg.rfind(u"Cannot open file \"" + name + u"\". ", 0), 0u) << UTF8Encode(msg);
    EXPECT_THROW(TFileStream(name, fmOpenReadWrite | fmShareDenyNone), EFOpenError);
    EXPECT_THROW(TFileStream(name, fmOpenRead | fmShareExclusive), EFOpenError);
    // A refused create must not have truncated the file first.
    EXPECT_THROW(TFileStream(name, fmCreate), EFCreateError);
    EXPECT_EQ(ReadAll(reader), "keep me");
    TFileStream plainReader(name, fmOpenRead | fmShareDenyNone);
    EXPECT_EQ(ReadAll(plainReader), "keep me");
  }
  {
    // DenyNone holds nothing: any number of them, and a writer that denies writing after them.
    TFileStream a(name, fmOpenReadWrite | fmShareDenyNone);
    TFileStream b(name, fmOpenReadWrite | fmShareDenyNone);
    TFileStream w(name, fmOpenWrite | fmShareDenyWrite);
    EXPECT_THROW(TFileStream(name, fmOpenRead | fmShareDenyNone), EFOpenError);  // w is a writer alone
  }
  {
    TFileStream excl(name, fmOpenRead | fmShareExclusive);
    EXPECT_THROW(TFileStream(name, fmOpenRead | fmShareDenyWrite), EFOpenError);
  }
  // Every lock went with its stream.
  TFileStream again(name, fmOpenReadWrite | fmShareExclusive);
}

TEST(FileStream, OffsetsBeyondFourGigabytes) {
  test::TempDir dir;
  TFileStream f(Str(dir / "big.bin"), fmCreate);
  const Int64 far = (Int64(1) << 32) + 12345;  // sparse: takes no real space
  f.SetSize(far + 10);
  EXPECT_EQ(f.Size(), far + 10);
  EXPECT_EQ(f.Seek(far, soBeginning), far);
  WriteText(f, "tail");
  EXPECT_EQ(f.Position(), far + 4);
  f.Seek(-10, soEnd);
  EXPECT_EQ(f.Position(), far);
  char buf[4];
  f.ReadBuffer(buf, 4);
  EXPECT_EQ(std::string(buf, 4), "tail");
}

TEST(Stream, CopyFromWholeSourceOrCount) {
  std::string data;
  for (int i = 0; i < 200000; ++i) data += static_cast<char>(i * 7 % 251);
  TMemoryStream src;
  WriteText(src, data);  // position now at the end
  TMemoryStream dst;
  EXPECT_EQ(dst.CopyFrom(&src, 0), static_cast<Int64>(data.size()));
  EXPECT_EQ(dst.Bytes(), data);

  src.SetPosition(1000);
  TMemoryStream part;
  EXPECT_EQ(part.CopyFrom(&src, 70000), 70000);
  EXPECT_EQ(part.Bytes(), data.substr(1000, 70000));
  EXPECT_EQ(src.Position(), 71000);
  src.SetPosition(static_cast<Int64>(data.size()) - 5);
  EXPECT_THROW(part.CopyFrom(&src, 6), EReadError);

  test::TempDir dir;
  {
    TFileStream out(Str(dir / "copy.bin"), fmCreate);
    out.CopyFrom(&src, 0);
  }
  EXPECT_EQ(test::ReadFileBytes(dir / "copy.bin"), data);
  TMemoryStream loaded;
  loaded.LoadFromFile(Str(dir / "copy.bin"));
  EXPECT_EQ(loaded.Bytes(), data);
  EXPECT_EQ(loaded.Position(), 0);
}

TEST(MemoryStream, GrowsGeometricallyAndKeepsPositionsSound) {
  TMemoryStream m;
  std::set<const void*> buffers;
  for (int i = 0; i < 100000; ++i) {
    char c = static_cast<char>(i);
    m.WriteBuffer(&c, 1);
    buffers.insert(m.Memory());
  }
  EXPECT_EQ(m.Size(), 100000);
  EXPECT_LT(buffers.size(), 40u);  // a doubling buffer moves about log2(n) times

  m.Seek(10, soEnd);
  WriteText(m, "z");
  EXPECT_EQ(m.Size(), 100011);
  EXPECT_EQ(m.Bytes()[100005], '\0');  // the gap reads as zeros
  m.SetSize(50);
  EXPECT_EQ(m.Position(), 50);
  char c;
  EXPECT_EQ(m.Read(&c, 1), 0);
  m.Seek(-1, soBeginning);
  EXPECT_EQ(m.Read(&c, 1), 0);
  EXPECT_EQ(m.Write(&c, 1), 0);
  m.Clear();
  EXPECT_EQ(m.Size(), 0);
  EXPECT_EQ(m.Position(), 0);
}

TEST(StringStream, EncodingsBothWays) {
  const String text = u"\u20AC caf\u00E9 \u4E2D";
  TStringStream ansi(text);
  EXPECT_EQ(ansi.Bytes(), "\x80 caf\xE9 ?");
  EXPECT_EQ(ansi.DataString(), u"\u20AC caf\u00E9 ?");
  TStringStream utf8(text, TTextEncoding::UTF8);
  EXPECT_EQ(utf8.Bytes(), "\xE2\x82\xAC caf\xC3\xA9 \xE4\xB8\xAD");
  EXPECT_EQ(utf8.DataString(), text);
  TStringStream utf16(u"A\u20AC", TTextEncoding::UTF16LE);
  EXPECT_EQ(utf16.Bytes(), std::string("A\0\xAC\x20", 4));
  EXPECT_EQ(utf16.DataString(), u"A\u20AC");

  // Writing goes at the position; reading takes bytes from it.
  TStringStream s(u"0123456789");
  s.SetPosition(8);
  s.WriteString(u"abc");
  EXPECT_EQ(s.DataString(), u"01234567abc");
  s.SetPosition(2);
  EXPECT_EQ(s.ReadString(3), u"234");
  EXPECT_EQ(s.ReadString(100), u"567abc");
  EXPECT_EQ(s.ReadString(1), u"");

  TStringStream raw = TStringStream::FromBytes(std::string("\x00\xFF", 2));
  EXPECT_EQ(raw.Size(), 2);
  EXPECT_EQ(raw.DataString(), String(u"\0\u00FF", 2));
  TStringStream odd = TStringStream::FromBytes("A");
  EXPECT_EQ(DecodeBytes(odd.Bytes(), TTextEncoding::UTF16LE), u"\uFFFD");
}

}  // namespace
