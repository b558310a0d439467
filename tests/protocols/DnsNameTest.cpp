// The one reader of names in DNS messages: what it makes of good names, and that both resolvers'
// decoders refuse a hostile name for the same reason.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocols/DnsWire.h"
#include "protocols/KtDigResolver.h"
#include "protocols/KtIDNS.h"

namespace ktinet {
namespace {

const std::string kHeader("\0\1\x81\x80\0\1\0\0\0\0\0\0", 12);

std::string Label(const std::string& bytes) { return std::string(1, static_cast<char>(bytes.size())) + bytes; }
std::string Pointer(unsigned to) { return {static_cast<char>(0xC0 | (to >> 8)), static_cast<char>(to & 0xFF)}; }

TEST(DnsNames, CompressedAndEscapedNamesReadInPresentationForm) {
  // Offset 12: example.test. ; offset 26: www + pointer to 12; offset 32: pointer to 26.
  std::string m = kHeader + Label("example") + Label("test") + std::string(1, '\0') + Label("www") + Pointer(12) +
                  Pointer(26);
  size_t pos = 12;
  EXPECT_EQ(DnsReadName(m, pos), "example.test.");
  EXPECT_EQ(pos, 26u);
  EXPECT_EQ(DnsReadName(m, pos), "www.example.test.");
  EXPECT_EQ(pos, 32u);  // after the pointer, not where it led
  EXPECT_EQ(DnsReadName(m, pos), "www.example.test.");
  EXPECT_EQ(pos, m.size());

  std::string root = kHeader + std::string(1, '\0');
  pos = 12;
  EXPECT_EQ(DnsReadName(root, pos), ".");
  EXPECT_EQ(pos, 13u);

  // Bytes that mean something in a zone file, and unprintable ones, cannot pass as they are.
  std::string odd = kHeader + Label(std::string("a.b\\c d\"", 8)) + Label(std::string("\0\x7F@", 3)) + '\0';
  pos = 12;
  EXPECT_EQ(DnsReadName(odd, pos), "a\\.b\\\\c\\032d\\\".\\000\\127\\@.");

  // 255 bytes on the wire is the longest name: four labels of 63, 61 and the root.
  std::string longest = kHeader;
  for (int i = 0; i < 3; ++i) longest += Label(std::string(63, 'a'));
  longest += Label(std::string(61, 'b')) + '\0';
  pos = 12;
  EXPECT_EQ(DnsReadName(longest, pos).size(), 253u + 1);
}

TEST(DnsNames, BothDecodersRefuseHostileNamesForTheSameReason) {
  // Four questions, each name a label of 63 bytes and a pointer to the name before: legal
  // steps that add up to 257 bytes in the last.
  std::string chain = kHeader + Label(std::string(63, 'a')) + '\0' + std::string(4, '\0');
  chain[5] = 4;
  size_t previous = 12;
  for (int i = 0; i < 3; ++i) {
    size_t here = chain.size();
    chain += Label(std::string(63, static_cast<char>('b' + i))) + Pointer(static_cast<unsigned>(previous)) +
             std::string(4, '\0');
    previous = here;
  }
  struct Case {
    std::string message;  // the name at offset 12 is the question's
    std::string reason;
  };
  const std::vector<Case> cases = {
      {kHeader + Pointer(12), "does not point backwards"},  // to itself
      {kHeader + Pointer(20), "does not point backwards"},  // forwards
      // Into the name it stands in: a.a.a.a... for ever.
      {kHeader + Label("a") + Pointer(12), "does not point backwards"},
      // To 14, whose pointer leads to 16: not further back than the step before.
      {kHeader + Pointer(14) + Pointer(16) + Label("x") + '\0', "does not point backwards"},
      {kHeader + std::string(1, '\xC0'), "compression pointer runs past the end"},
      {kHeader + std::string("\x41x\0", 3), "unknown label type"},
      {kHeader + std::string("\x81x\0", 3), "unknown label type"},
      {kHeader + Label("abc").substr(0, 3), "label runs past the end"},
      {kHeader + Label("abc"), "name runs past the end"},
      {chain, "longer than 255"},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string& question = cases[i].message;
    const std::string& reason = cases[i].reason;
    std::string idns, dig;
    try {
      DecodeDNSMessage(question);
      idns = "accepted";
    } catch (const EDNSDecodeError& e) {
      idns = e.what();
    }
    try {
      DigDecodeMessage(question);
      dig = "accepted";
    } catch (const EDigError& e) {
      dig = e.what();
      EXPECT_EQ(e.ErrorKind(), EDigError::Malformed);
    }
    EXPECT_NE(idns.find(reason), std::string::npos) << idns;
    EXPECT_NE(dig.find(reason), std::string::npos) << dig;
    // The same words after each decoder's own preface.
    EXPECT_EQ(idns.substr(idns.find(": ") + 2), dig.substr(dig.find(": ") + 2));
  }
}

}  // namespace
}  // namespace ktinet
